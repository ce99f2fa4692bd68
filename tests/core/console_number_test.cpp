// Doubles in console text: one spelling of NaN and infinity everywhere,
// finite values exactly as %f has them.
#include "console_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace qir {
namespace {

std::string text(double value) { return format_fixed(value).text; }

TEST(ConsoleNumber, NanAndInfinitiesHaveOneSpelling) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(text(nan), "nan");
  EXPECT_EQ(text(std::copysign(nan, -1.0)), "nan");  // x86's 0/0
  const volatile double zero = 0.0;
  EXPECT_EQ(text(zero / zero), "nan");
  EXPECT_EQ(text(inf), "inf");
  EXPECT_EQ(text(-inf), "-inf");
  EXPECT_EQ(text(1.0 / zero), "inf");
}

TEST(ConsoleNumber, FiniteValuesReadAsFixedNotation) {
  EXPECT_EQ(text(0.9 / 1.001), "0.899101");
  EXPECT_EQ(text(66.25), "66.250000");
  EXPECT_EQ(text(-0.0), "-0.000000");
  EXPECT_EQ(text(1e-7), "0.000000");
  EXPECT_EQ(text(-2.5e-7), "-0.000000");
  // The widest values fit: every digit of the largest double.
  for (double big : {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                     1e300, 123456789.125}) {
    char expected[400];
    std::snprintf(expected, sizeof expected, "%f", big);
    EXPECT_EQ(text(big), expected);
  }
  EXPECT_EQ(text(-std::numeric_limits<double>::max()).size(), 317u);
}

}  // namespace
}  // namespace qir
