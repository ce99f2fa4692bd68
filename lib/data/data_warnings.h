// Warnings about training data that trains without error but cannot give
// the model the user expects: features that never vary, a single class,
// more features than patterns, identical patterns with different labels. One line each, never a refusal: such data
// are sometimes meant (a smoke test, a first batch), so the call goes on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qir {

// Patterns as a front end holds them, without copying: pattern r's
// feature c is data[r * row_step + c * feature_step] (row-major for the
// command and Python, column-major for the toolbox).
struct PatternView {
  const double *data = nullptr;
  std::size_t patterns = 0, features = 0;
  std::size_t row_step = 0, feature_step = 1;
  double at(std::size_t r, std::size_t c) const { return data[r * row_step + c * feature_step]; }
};

// How a front end names features and patterns: "feature 3" and "pattern
// 5" of a data file, "column 3" and "row 5 of X" in the toolbox, "column 2"
// and "row 4 of X" (from 0) in Python.
struct FeatureNaming {
  std::string one, many, suffix;
  std::size_t first = 1;
  std::string row_one, row_many;
};
const FeatureNaming &command_feature_naming();
const FeatureNaming &toolbox_feature_naming();
const FeatureNaming &python_feature_naming();

struct DataWarning {
  std::string kind;  // one of data_warning_kinds()
  std::string text;  // one line, without a "Warning: " prefix
};

// constant_features, single_class, more_features_than_patterns,
// contradictory_patterns: the order of the warnings, and names a front end
// can silence them by.
const std::vector<std::string> &data_warning_kinds();

// The warnings the training data `patterns` with class `labels` (one per
// pattern) deserve, in that order of kinds; none for empty data.
std::vector<DataWarning> training_data_warnings(const PatternView &patterns,
                                                const double *labels,
                                                const FeatureNaming &naming);
// The same for the command's rows of equal length.
std::vector<DataWarning> training_data_warnings(const std::vector<std::vector<double>> &rows,
                                                const std::vector<double> &labels);

// How many features vary among the patterns (all of them with fewer than
// two patterns): the count the default D is taken from (training_defaults.h).
std::size_t varying_features(const PatternView &patterns);
std::size_t varying_features(const std::vector<std::vector<double>> &rows);

}  // namespace qir
