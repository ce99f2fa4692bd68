// The numbers of plain records read in place: word at a time, byte by byte
// and by the general reading, to the same bits and the same end.
#include "data/number_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "base/prng.h"

using namespace qir;

namespace {

std::uint64_t bits_of(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

double random_double(Xorshift64Star &random) {
  const std::uint64_t bits = random.next();
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string printed(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Cells of every kind a file may hold: doubles printed as programs print
// them, digit strings of every length on either side of the point, and
// texts that only look like numbers.
std::vector<std::string> cells() {
  std::vector<std::string> out{
      "0", "-0", "+0", "-0.0", "0.", ".0", ".", "-", "+", "+-1", "-+1", "--1", "1e400",
      "-1e400", "1e-400", "4.9406564584124654e-324", "2.2250738585072014e-308",
      "2.2250738585072011e-308", "1.7976931348623157e308", "1e22", "1e23", "1e-22", "1e-23",
      "9007199254740992", "9007199254740993", "900719925474099.3", "0.9007199254740993",
      "123456789012345678", "1234567890123456789", "12345678901234567890",
      "0.1234567890123456789", "0.12345678901234567890", "0000000000000000000000001",
      "0.0000000000000000000001", "0.00000000000000000000001", "1.5e", "1.5e+", "1.5e-3",
      "1.5E3", "0x10", "0X1p3", "inf", "-Inf", "nan", "NaN", "infinity", "1,5", "1..5", "1.5.",
      "\xCA" "1", "1\xCA" "1", "12345678\xCF" "9", "1.2345678\xCA", "123456789012345.5",
      "1234567890123456.5", "1.234567890123456", "1.2345678901234567", "99999999999999999",
      "5.", "-.5", "1.e3", ".e3", "e3", "1 2", "9\r", "\t7", "a", "_"};
  Xorshift64Star random(1234);
  for (int k = 0; k < 3000; ++k) {
    const double value = random_double(random);
    for (const char *format : {"%.17g", "%.15g", "%.10g", "%.6f", "%g", "%.20f"})
      out.push_back(printed(format, value));
    // Values as data sets hold them: a few units either way.
    const double plain = std::ldexp(static_cast<double>(random.next() >> 11), -52) * 8 - 4;
    for (const char *format : {"%.17g", "%.10g", "%.3f", "%.12f"})
      out.push_back(printed(format, plain));
    out.push_back(printed("%.17g", std::ldexp(plain, -1060)));  // subnormal
  }
  for (int whole = 0; whole <= 21; ++whole)
    for (int fraction = -1; fraction <= 21; ++fraction)
      for (int k = 0; k < 3; ++k) {
        std::string cell = random.below(2) ? "-" : "";
        for (int d = 0; d < whole; ++d) cell += static_cast<char>('0' + random.below(k == 0 ? 1 : 10));
        if (fraction >= 0) cell += '.';
        for (int d = 0; d < fraction; ++d) cell += static_cast<char>('0' + random.below(10));
        out.push_back(cell);
      }
  return out;
}

struct Reading {
  std::ptrdiff_t end = -1;  // -1: refused
  std::uint64_t bits = 0;
};

Reading read_with(const char *(*reader)(const char *, const char *, double &),
                  const std::string &text) {
  double value = 0;
  const char *stop = reader(text.data(), text.data() + text.size(), value);
  if (stop == nullptr) return {};
  return {stop - text.data(), bits_of(value)};
}

}  // namespace

// Every cell, followed by each thing that may follow a number (with enough
// bytes after it for the word-at-a-time reading, and without): both
// readings end at the same byte with the same bits, and what they read is
// the double the general reading gives for that text.
TEST(NumberScan, WordAtATimeReadsAsBytewiseAndTheGeneralReading) {
  const std::string padding(48, 'z');
  std::size_t quick_taken = 0, refused = 0;
  for (const std::string &cell : cells())
    for (const char *after : {",", "\n", " ", "\t", ";", "e5", "E-2", ".5", "x", "\xCA", "0"})
      for (bool padded : {true, false}) {
        const std::string text = cell + after + (padded ? padding : "");
        const Reading quick = read_with(number_scan::plain_number, text);
        const Reading bytewise = read_with(number_scan::plain_number_bytewise, text);
        ASSERT_EQ(quick.end, bytewise.end) << "'" << text << "'";
        ASSERT_EQ(quick.bits, bytewise.bits) << "'" << text << "'";
        if (quick.end < 0) {
          ++refused;
          continue;
        }
        quick_taken += padded;
        const auto general = parse_number(text.substr(0, static_cast<std::size_t>(quick.end)));
        ASSERT_TRUE(general.has_value()) << "'" << text << "'";
        ASSERT_EQ(quick.bits, bits_of(*general)) << "'" << text << "'";
      }
  // Both kinds were met in numbers.
  EXPECT_GT(quick_taken, 50000u);
  EXPECT_GT(refused, 10000u);
}

// Plain numbers, as most files print them, are read in place; no text the
// general reading must judge is read whole.
TEST(NumberScan, TakesPlainNumbersLeavesTheRest) {
  const std::string padding(48, ',');
  Xorshift64Star random(99);
  for (int k = 0; k < 20000; ++k) {
    const double value = (static_cast<double>(random.below(2000001)) - 1000000) / 1000;
    for (const char *format : {"%.10g", "%.3f", "%.15g"}) {
      const std::string cell = printed(format, value);
      if (cell.find('e') != std::string::npos) continue;
      const Reading quick = read_with(number_scan::plain_number, cell + padding);
      ASSERT_EQ(quick.end, static_cast<std::ptrdiff_t>(cell.size())) << cell;
      ASSERT_EQ(quick.bits, bits_of(*parse_number(cell))) << cell;
    }
  }
  for (const char *text : {"1e400", "1e-400", "inf", "nan", "0x10", "12345678901234567890",
                           "9007199254740993", ".", "-", "+-1", "", "\"1\"", "1.0000000000000000000001"})
    EXPECT_NE(read_with(number_scan::plain_number, text + padding).end,
              static_cast<std::ptrdiff_t>(std::strlen(text)))
        << text;
  // A longer mantissa or a power of ten beyond 22 is the general reading's.
  EXPECT_EQ(read_with(number_scan::plain_number, "0.00000000000000000000001" + padding).end, -1);
  EXPECT_EQ(read_with(number_scan::plain_number, "1e23" + padding).end, -1);
}

// Without std::from_chars for double, numbers are read by a check of the
// text and strtod: the same verdict and the same bits as from_chars (where
// this library has it) on every cell above and on the texts where the two
// could part: spellings of infinity and NaN, signs, blanks, ranges' edges.
TEST(NumberScan, PortableReadingReadsAsFromChars) {
  std::vector<std::string> texts = cells();
  for (const char *text :
       {"", " 1", "1 ", "+1", "-", "--1", "inf", "-inf", "INFINITY", "Infinity", "infinit",
        "infx", "nan", "-nan", "NaN", "nan()", "nan(abc_1)", "nan(-)", "nan(", "nanx", "1e",
        "1e+", "1E+5", "1e-5", ".e1", "e1", "0e9999999999", "1e-9999999999", "1e-400",
        "2e-324", "3e-324", "2.4703282292062327e-324", "2.4703282292062328e-324",
        "1.7976931348623158e308", "1.7976931348623159e308", "-1.7976931348623159e308",
        "0x1p3", "0X10", "1_000", "1.5f", "\xC2\xB9"})
    texts.push_back(text);
  for (const std::string &text : texts) {
    double fast = 7, portable = 7;
    const DoubleText a = read_double(text, fast);
    const DoubleText b = read_double_portably(text, portable);
    ASSERT_EQ(static_cast<int>(b), static_cast<int>(a)) << "'" << text << "'";
    if (a != DoubleText::number) continue;
    if (std::isnan(fast)) {
      EXPECT_TRUE(std::isnan(portable)) << "'" << text << "'";
      EXPECT_EQ(std::signbit(portable), std::signbit(fast)) << "'" << text << "'";
    } else {
      EXPECT_EQ(bits_of(portable), bits_of(fast)) << "'" << text << "'";
    }
  }
}
