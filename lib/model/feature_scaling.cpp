#include "feature_scaling.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "../base/errors.h"

namespace qir {

FeatureRange fit_feature_range(const std::vector<std::vector<double>> &patterns) {
  FeatureRange range;
  if (patterns.empty()) return range;
  range.min = range.max = patterns.front();
  for (const auto &row : patterns)
    for (std::size_t k = 0; k < row.size() && k < range.min.size(); ++k) {
      range.min[k] = std::min(range.min[k], row[k]);
      range.max[k] = std::max(range.max[k], row[k]);
    }
  return range;
}

double scale_value(double value, double min, double max) {
  if (max == min) return 0;
  const double scaled = (value - min) / (max - min);
  if (scaled < 0) return 0;
  if (scaled > 1) return 1;
  return scaled;
}

NonFiniteValue::NonFiniteValue(std::size_t pattern_number, std::size_t feature_number)
    : InputError("pattern " + std::to_string(pattern_number) + ", feature " +
                 std::to_string(feature_number) + " is not finite"),
      pattern(pattern_number),
      feature(feature_number) {}

namespace {

void scale_row(double *row, std::size_t features, const std::vector<double> &min,
               const std::vector<double> &max, std::size_t row_number) {
  for (std::size_t k = 0; k < features; ++k) {
    if (!std::isfinite(row[k])) throw NonFiniteValue(row_number, k + 1);
    row[k] = scale_value(row[k], min[k], max[k]);
  }
}

}  // namespace

void scale_rows(double *values, std::size_t rows, std::size_t features,
                const std::vector<double> &min, const std::vector<double> &max) {
  for (std::size_t r = 0; r < rows; ++r) scale_row(values + r * features, features, min, max, r + 1);
}

std::vector<std::vector<double>> scale_patterns(const std::vector<std::vector<double>> &patterns,
                                                const FeatureRange &range) {
  std::vector<std::vector<double>> scaled = patterns;
  for (std::size_t r = 0; r < scaled.size(); ++r)
    scale_row(scaled[r].data(), scaled[r].size(), range.min, range.max, r + 1);
  return scaled;
}

}  // namespace qir
