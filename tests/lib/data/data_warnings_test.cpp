// Warnings about training data, and the modules' refusals reworded for a
// front end's user: the rules every front end takes from the library.
#include "data/data_warnings.h"
#include "modules/module_refusals.h"
#include "model/training_defaults.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace qir;

namespace {

std::vector<std::string> kinds_of(const std::vector<DataWarning> &warnings) {
  std::vector<std::string> kinds;
  for (const auto &warning : warnings) kinds.push_back(warning.kind);
  return kinds;
}

}  // namespace

TEST(DataWarnings, FindConstantFeaturesInEitherLayout) {
  // Features 2 and 4 never vary; feature 3 varies in one pattern only.
  const std::vector<std::vector<double>> rows{
      {1, 7, 0, -2}, {2, 7, 0, -2}, {3, 7, 5, -2}, {4, 7, 0, -2}};
  const std::vector<double> labels{1, 2, 1, 2};
  const auto from_rows = training_data_warnings(rows, labels);
  ASSERT_EQ(kinds_of(from_rows), std::vector<std::string>{"constant_features"});
  EXPECT_EQ(from_rows[0].text.rfind("features 2 and 4 have the same value in every pattern", 0), 0u)
      << from_rows[0].text;
  EXPECT_NE(from_rows[0].text.find("no information"), std::string::npos);

  // The toolbox hands X column-major, Python row-major or strided.
  std::vector<double> column_major;
  for (std::size_t c = 0; c < 4; ++c)
    for (const auto &row : rows) column_major.push_back(row[c]);
  const auto from_columns = training_data_warnings(
      PatternView{column_major.data(), 4, 4, 1, 4}, labels.data(), toolbox_feature_naming());
  ASSERT_EQ(from_columns.size(), 1u);
  EXPECT_EQ(from_columns[0].text.rfind("columns 2 and 4 of X have", 0), 0u) << from_columns[0].text;
  const auto from_python = training_data_warnings(
      PatternView{column_major.data(), 4, 4, 1, 4}, labels.data(), python_feature_naming());
  EXPECT_EQ(from_python[0].text.rfind("columns 1 and 3 of X have", 0), 0u) << from_python[0].text;

  // The default D spans only the features that vary, in either layout.
  EXPECT_EQ(varying_features(rows), 2u);
  EXPECT_EQ(varying_features(PatternView{column_major.data(), 4, 4, 1, 4}), 2u);
  EXPECT_EQ(default_D(varying_features(rows)), std::sqrt(2.0));
  // One pattern shows nothing constant; data that never vary still get a D.
  EXPECT_EQ(varying_features({{1, 7, 0, -2}}), 4u);
  EXPECT_EQ(default_D(varying_features({{7, 0}, {7, 0}})), 1.0);
}

TEST(DataWarnings, NameAFewOfManyConstantFeaturesOnOneLine) {
  std::vector<std::vector<double>> rows(3, std::vector<double>(12, 0.0));
  rows[1][0] = 1;  // only feature 1 varies
  const auto warnings = training_data_warnings(rows, {1, 2, 2});
  ASSERT_FALSE(warnings.empty());
  EXPECT_EQ(warnings[0].text.rfind("features 2, 3, 4, 5, 6, 7, 8, 9 and 3 more have", 0), 0u)
      << warnings[0].text;
  EXPECT_EQ(warnings[0].text.find('\n'), std::string::npos);
  const auto one = training_data_warnings({{1, 5}, {2, 5}}, {1, 2});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].text.rfind("feature 2 has the same value in every pattern, so it carries", 0), 0u)
      << one[0].text;
}

TEST(DataWarnings, SingleClassAndMoreFeaturesThanPatternsAtTheirThresholds) {
  EXPECT_EQ(kinds_of(training_data_warnings({{1, 2}, {2, 1}, {3, 3}}, {4, 4, 4})),
            std::vector<std::string>{"single_class"});
  EXPECT_TRUE(training_data_warnings({{1, 2}, {2, 1}, {3, 3}}, {4, 4, 5}).empty());
  // As many features as patterns is fine; one more is not.
  EXPECT_TRUE(training_data_warnings({{1, 2}, {2, 1}}, {1, 2}).empty());
  EXPECT_EQ(kinds_of(training_data_warnings({{1, 2, 3}, {2, 1, 4}}, {1, 2})),
            std::vector<std::string>{"more_features_than_patterns"});
  // One pattern: every feature is trivially constant, which says nothing
  // beyond the other two warnings.
  EXPECT_EQ(kinds_of(training_data_warnings({{1, 2}}, {1})),
            (std::vector<std::string>{"single_class", "more_features_than_patterns"}));
  EXPECT_TRUE(training_data_warnings(std::vector<std::vector<double>>{}, {}).empty());
  EXPECT_EQ(data_warning_kinds(), (std::vector<std::string>{"constant_features", "single_class",
                                                            "more_features_than_patterns",
                                                            "contradictory_patterns"}));
}

// Identical patterns with different labels keep every member training to
// its limit: the warning names each pair (the first of the values and the
// later one) in the front end's numbering, once for all pairs.
TEST(DataWarnings, IdenticalPatternsWithDifferentLabelsAreNamedInPairs) {
  const std::vector<std::vector<double>> rows{{1, 2}, {3, 4}, {1, 2}, {1, 2}, {-0.0, 4}, {0, 4}};
  const auto warnings = training_data_warnings(rows, {1, 2, 1, 3, 2, 5});
  ASSERT_EQ(kinds_of(warnings), std::vector<std::string>{"contradictory_patterns"});
  EXPECT_EQ(warnings[0].text.rfind("2 pairs of identical patterns have different labels "
                                   "(patterns 1 and 4, 5 and 6): no node can take in both", 0),
            0u)
      << warnings[0].text;
  EXPECT_NE(warnings[0].text.find("presentation limit"), std::string::npos);
  // Repeats with one label are no contradiction.
  EXPECT_TRUE(training_data_warnings(rows, {1, 2, 1, 1, 3, 3}).empty());

  // The toolbox's and Python's numbering, on column-major data; many pairs
  // are counted beyond the few named.
  std::vector<double> column_major;
  const std::size_t n = 12;
  for (std::size_t r = 0; r < n; ++r) column_major.push_back(static_cast<double>(r % 6));
  for (std::size_t r = 0; r < n; ++r) column_major.push_back(0.5);
  std::vector<double> labels(n);
  for (std::size_t r = 0; r < n; ++r) labels[r] = r < 6 ? 1 : 2;
  const PatternView view{column_major.data(), n, 2, 1, n};
  const auto toolbox = training_data_warnings(view, labels.data(), toolbox_feature_naming());
  ASSERT_EQ(kinds_of(toolbox), (std::vector<std::string>{"constant_features",
                                                         "contradictory_patterns"}));
  EXPECT_EQ(toolbox[1].text.rfind("6 pairs of identical patterns have different labels (rows "
                                  "1 and 7, 2 and 8, 3 and 9, 4 and 10 and 2 more of X)",
                                  0),
            0u)
      << toolbox[1].text;
  const auto python = training_data_warnings(view, labels.data(), python_feature_naming());
  EXPECT_NE(python[1].text.find("(rows 0 and 6, 1 and 7,"), std::string::npos) << python[1].text;
  const std::vector<double> pair{0.5, 1, 0.5, 0.25, 3, 0.25};  // rows 1 and 3 alike
  const std::vector<double> pair_labels{1, 1, 2};
  const auto one = training_data_warnings(PatternView{pair.data(), 3, 2, 1, 3},
                                          pair_labels.data(), toolbox_feature_naming());
  ASSERT_EQ(kinds_of(one), std::vector<std::string>{"contradictory_patterns"});
  EXPECT_EQ(one[0].text.rfind("rows 1 and 3 of X are the same pattern with different labels", 0),
            0u)
      << one[0].text;
}

TEST(ModuleRefusals, NameTheArgumentAsTheToolboxUserPassedIt) {
  EXPECT_EQ(refusal_in_user_terms("qir_train: QIR_TRAIN: 4th input argument (ratio) must be in "
                                  "(0.0, 1.0].", toolbox_fit_names()),
            "option 'Ratio' must be in (0.0, 1.0].");
  EXPECT_EQ(refusal_in_user_terms("QIR_TRAIN: 1st input argument (Patterns) holds a non-finite "
                                  "value at row 2, column 3; drop that pattern or give it a "
                                  "number there.", toolbox_fit_names()),
            non_finite_pattern_text("X", 2, 3));
  EXPECT_EQ(refusal_in_user_terms("QIR_TRAIN: 8th input argument (max_list_presentations) must  "
                                  "be greater than 0.", toolbox_fit_names()),
            "option 'MaxPresentations' must be greater than 0.");
  EXPECT_EQ(refusal_in_user_terms("QIR_TRAIN: 11th input argument must be scalar.",
                                  toolbox_fit_names()),
            "option 'Oflag' must be scalar.");
  EXPECT_EQ(refusal_in_user_terms("QIR_PERF: 8th input argument (Patterns) must be of type  3x4.",
                                  toolbox_predict_names()),
            "X must be of type 3x4.");
  // Anything else is left to the caller: interrupts, memory, cut-off text.
  for (const char *other : {"QIR_TRAIN: Interrupted.", "QIR_TRAIN: Not enough memory available.",
                            "QIR_TRAIN: 4", "QIR_TRAIN: 14 input arguments required.",
                            "QIR_TRAIN: 4th input argument (ratio", "some other failure"})
    EXPECT_FALSE(refusal_in_user_terms(other, toolbox_fit_names())) << other;
}

TEST(ModuleRefusals, RowOfAShuffledMemberIsGivenAsTheUsersRow) {
  const std::vector<std::size_t> order{4, 1, 3, 2};  // the member saw X's row 4 first
  EXPECT_EQ(with_row_renumbered(non_finite_pattern_text("X", 1, 3), order),
            non_finite_pattern_text("X", 4, 3));
  EXPECT_EQ(with_row_renumbered(non_finite_pattern_text("X", 4, 1), order),
            non_finite_pattern_text("X", 2, 1));
  // Rows the order does not hold, and texts without a row, are left alone.
  for (const std::string &text : {non_finite_pattern_text("X", 5, 1),
                                 non_finite_pattern_text("X", 123456789012345678, 1),
                                 std::string("option 'Ratio' must be in (0.0, 1.0].")})
    EXPECT_EQ(with_row_renumbered(text, order), text);
}
