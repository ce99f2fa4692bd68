// The test-side normaliser and comparison of console text.
#include "console_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qirtest {
namespace {

TEST(ConsoleText, AnyNumberOfSecondsReadsZero) {
  EXPECT_EQ(steady("1 FLOPs and 2 comparisons in 1 seconds\n\n"),
            "1 FLOPs and 2 comparisons in 0 seconds\n\n");
  EXPECT_EQ(steady("a in 2 seconds\nb in 1234 seconds\n"), "a in 0 seconds\nb in 0 seconds\n");
  // Only the figure before " seconds" is touched.
  EXPECT_EQ(steady("in 5 seconds; in 5 minutes; in  seconds; in 7 seconds"),
            "in 5 seconds; in 5 minutes; in  seconds; in 0 seconds");
  EXPECT_EQ(steady(" in 3"), " in 3");
}

TEST(ConsoleText, FirstDifferenceNamesOneLine) {
  EXPECT_EQ(first_difference("a\nb\n", "a\nb\n"), "");
  std::string long_text;
  for (int k = 0; k < 100000; ++k) long_text += "line " + std::to_string(k) + "\n";
  std::string changed = long_text;
  changed.replace(changed.find("line 500\n"), 8, "line 5x0");
  const std::string report = first_difference(changed, long_text);
  EXPECT_NE(report.find("line 501 (of 100000"), std::string::npos) << report;
  EXPECT_NE(report.find("actual:   \"line 5x0\""), std::string::npos) << report;
  EXPECT_NE(report.find("expected: \"line 500\""), std::string::npos) << report;
  EXPECT_LT(report.size(), 200u);
  // One text ends early.
  EXPECT_NE(first_difference("a\n", "a\nb\n").find("actual:   (end of text)"), std::string::npos);
  EXPECT_NE(first_difference("x", "y").find("line 1 "), std::string::npos);
}

}  // namespace
}  // namespace qirtest
