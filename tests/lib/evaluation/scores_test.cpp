// Accuracy and the confusion table of assigned against true labels.
#include "evaluation/scores.h"

#include <gtest/gtest.h>

using namespace qir;

TEST(Scores, CountsCorrectUnclassifiedAndEachPair) {
  const Scores s = score({1, 1, 2, 2, 2, 3}, {1, 2, 2, 0, 2, 1}, 0.0);
  EXPECT_EQ(s.total, 6u);
  EXPECT_EQ(s.correct, 3u);
  EXPECT_EQ(s.unclassified, 1u);
  EXPECT_DOUBLE_EQ(s.accuracy_percent(), 50.0);
  EXPECT_EQ(s.true_labels, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(s.assigned_labels, (std::vector<double>{0, 1, 2}));
  EXPECT_EQ(s.counts.at({1, 1}), 1u);
  EXPECT_EQ(s.counts.at({1, 2}), 1u);
  EXPECT_EQ(s.counts.at({2, 2}), 2u);
  EXPECT_EQ(s.counts.at({2, 0}), 1u);
  EXPECT_EQ(s.counts.at({3, 1}), 1u);
}

TEST(Scores, TableHasOneRowPerTrueLabelAndNamesTheUnknownColumn) {
  const std::string text = format_scores(score({1, 1, 2, 2}, {1, 0, 2, 2}, 0.0));
  EXPECT_NE(text.find("Accuracy: 75.00% (3 of 4 patterns)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Unclassified: 1 pattern\n"), std::string::npos) << text;
  EXPECT_NE(text.find("unknown"), std::string::npos) << text;
  // Row for true label 1: 1 unclassified, 1 correct, 0 as label 2.
  EXPECT_NE(text.find("        1        1        1        0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("        2        0        0        2\n"), std::string::npos) << text;
}

TEST(Scores, UnusedLabelIsOneBelowTheSmallestOrTheFirstGap) {
  EXPECT_EQ(unused_label({3, 0, 7}), -1);
  EXPECT_EQ(unused_label({-5}), -6);
  EXPECT_EQ(unused_label({}), -1);
  EXPECT_EQ(unused_label({-2147483648.0, -2147483647.0, 4}), -2147483646.0);
  // Nothing unclassified: the count is still shown.
  EXPECT_NE(format_scores(score({1, 2}, {1, 2}, -1.0)).find("Unclassified: 0 patterns\n"),
            std::string::npos);
}

TEST(Scores, NamedClassesHeadTheirRowsAndColumnsAndWidenTheTable) {
  const LabelNames names{{1, "setosa"}, {2, "versicolor"}};
  const std::string text = format_scores(score({1, 2, 3}, {1, 0, 3}, 0.0), names);
  // Every cell as wide as the longest name; a label without a name shows its number.
  EXPECT_NE(text.find("                 unknown      setosa           3\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("      setosa           0           1           0\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("  versicolor           1           0           0\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("           3           0           0           1\n"), std::string::npos)
      << text;
  const std::string pooled = format_confusion(score({1}, {1}, 0.0), names, "Over all folds");
  EXPECT_EQ(pooled.substr(0, pooled.find('\n')), "Over all folds");
}
