#include "feature_scaling.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "../base/errors.h"

namespace qir {

namespace {

void check_finite(const std::vector<std::vector<double>> &patterns) {
  for (std::size_t r = 0; r < patterns.size(); ++r)
    for (std::size_t k = 0; k < patterns[r].size(); ++k)
      if (!std::isfinite(patterns[r][k])) throw NonFiniteValue(r + 1, k + 1);
}

std::vector<double> column(const std::vector<std::vector<double>> &patterns, std::size_t k) {
  std::vector<double> values;
  values.reserve(patterns.size());
  for (const auto &row : patterns) values.push_back(row[k]);
  return values;
}

// Mean and (population) standard deviation of each feature, summed in row order.
void fit_standard(const std::vector<std::vector<double>> &patterns, FeatureScaling &scaling) {
  const std::size_t m = patterns.front().size();
  const double n = static_cast<double>(patterns.size());
  scaling.low.assign(m, 0);
  scaling.high.assign(m, 0);
  for (std::size_t k = 0; k < m; ++k) {
    double sum = 0;
    for (const auto &row : patterns) sum += row[k];
    const double mean = sum / n;
    double squares = 0;
    for (const auto &row : patterns) squares += (row[k] - mean) * (row[k] - mean);
    scaling.low[k] = mean;
    scaling.high[k] = std::sqrt(squares / n);
  }
}

// Each distinct value's mean 0-based rank over N - 1, so the smallest of N
// distinct values maps to 0 and the largest to 1; evenly spaced distinct
// values kept when there are more than most_rank_values.
void fit_rank_feature(std::vector<double> sorted, std::vector<double> &values,
                      std::vector<double> &shares) {
  std::sort(sorted.begin(), sorted.end());
  const double last = static_cast<double>(sorted.size() - 1);
  std::vector<double> distinct, mean_rank;
  for (std::size_t below = 0; below < sorted.size();) {
    std::size_t copies = 1;
    while (below + copies < sorted.size() && sorted[below + copies] == sorted[below]) ++copies;
    distinct.push_back(sorted[below]);
    mean_rank.push_back((static_cast<double>(below) + static_cast<double>(copies - 1) / 2) / last);
    below += copies;
  }
  if (distinct.size() == 1) {  // never varied
    values = distinct;
    shares = {0};
    return;
  }
  const std::size_t k = distinct.size();
  const std::size_t kept = std::min(k, most_rank_values);
  values.clear();
  shares.clear();
  for (std::size_t j = 0; j < kept; ++j) {
    const std::size_t at = (j * (k - 1) + (kept - 1) / 2) / (kept - 1);
    values.push_back(distinct[at]);
    shares.push_back(mean_rank[at]);
  }
}

double rank_share(const std::vector<double> &values, const std::vector<double> &shares,
                  double x) {
  if (values.size() == 1) return 0;
  if (x <= values.front()) return shares.front();
  if (x >= values.back()) return shares.back();
  const std::size_t i =
      static_cast<std::size_t>(std::upper_bound(values.begin(), values.end(), x) - values.begin());
  if (x == values[i - 1]) return shares[i - 1];
  return shares[i - 1] +
         (shares[i] - shares[i - 1]) * ((x - values[i - 1]) / (values[i] - values[i - 1]));
}

// The q-quantile of `values` (reordered), between the two sorted values
// around q·(N - 1).
double quantile(std::vector<double> &values, double q) {
  const double at = q * static_cast<double>(values.size() - 1);
  const std::size_t below = static_cast<std::size_t>(at);
  const auto nth = values.begin() + static_cast<std::ptrdiff_t>(below);
  std::nth_element(values.begin(), nth, values.end());
  if (below + 1 == values.size()) return *nth;
  const double next = *std::min_element(nth + 1, values.end());
  return *nth + (next - *nth) * (at - static_cast<double>(below));
}

void scale_row(double *row, std::size_t features, const FeatureScaling &scaling,
               std::size_t row_number) {
  for (std::size_t k = 0; k < features; ++k) {
    if (!std::isfinite(row[k])) throw NonFiniteValue(row_number, k + 1);
    row[k] = scale_feature(scaling, k, row[k]);
  }
}

}  // namespace

double largest_spread(const std::vector<std::vector<double>> &patterns) {
  if (patterns.empty()) return 0;
  check_finite(patterns);
  const FeatureRange range = fit_feature_range(patterns);
  double largest = 0;
  std::vector<double> values;
  for (std::size_t k = 0; k < range.min.size(); ++k) {
    values = column(patterns, k);
    const double middle = quantile(values, 0.75) - quantile(values, 0.25);
    if (middle > 0) largest = std::max(largest, (range.max[k] - range.min[k]) / middle);
  }
  return largest;
}

Scaling resolved_scaling(Scaling kind, const std::vector<std::vector<double>> &patterns) {
  if (kind != Scaling::automatic) return kind;
  return largest_spread(patterns) > outlier_spread ? Scaling::rank : Scaling::min_max;
}

FeatureScaling fit_scaling(Scaling kind, const std::vector<std::vector<double>> &patterns) {
  FeatureScaling scaling;
  scaling.kind = resolved_scaling(kind, patterns);
  kind = scaling.kind;
  if (kind == Scaling::none || patterns.empty()) return scaling;
  check_finite(patterns);
  if (kind == Scaling::min_max) {
    FeatureRange range = fit_feature_range(patterns);
    scaling.low = std::move(range.min);
    scaling.high = std::move(range.max);
  } else if (kind == Scaling::standard) {
    fit_standard(patterns, scaling);
  } else {
    const std::size_t m = patterns.front().size();
    scaling.values.resize(m);
    scaling.shares.resize(m);
    for (std::size_t k = 0; k < m; ++k)
      fit_rank_feature(column(patterns, k), scaling.values[k], scaling.shares[k]);
  }
  return scaling;
}

double scale_feature(const FeatureScaling &scaling, std::size_t k, double value) {
  switch (scaling.kind) {
    case Scaling::none: return value;
    case Scaling::min_max: return scale_value(value, scaling.low[k], scaling.high[k]);
    case Scaling::standard: {
      if (scaling.high[k] == 0) return 0;
      static const double root12 = std::sqrt(12.0);
      return 0.5 + (value - scaling.low[k]) / (root12 * scaling.high[k]);
    }
    case Scaling::rank: return rank_share(scaling.values[k], scaling.shares[k], value);
    case Scaling::automatic: break;  // fitted scalings are resolved
  }
  return value;
}

namespace {

// The rows into columns with scale(k, value) for feature k, the kind's
// choice made once for the whole block rather than once per value.
template <class Scale>
void scaled_columns(const double *values, std::size_t rows, std::size_t features,
                    std::size_t stride, double *columns, std::size_t first_row, Scale scale) {
  for (std::size_t r = 0; r < rows; ++r) {
    const double *row = values + r * stride;
    double *to = columns + r;
    for (std::size_t k = 0; k < features; ++k, to += rows) {
      if (!std::isfinite(row[k])) throw NonFiniteValue(first_row + r + 1, k + 1);
      *to = scale(k, row[k]);
    }
  }
}

}  // namespace

void scale_rows_into_columns(const double *values, std::size_t rows, std::size_t features,
                             std::size_t stride, const FeatureScaling &scaling, double *columns,
                             std::size_t first_row) {
  const double *low = scaling.low.data(), *high = scaling.high.data();
  switch (scaling.kind) {
    case Scaling::none:
      for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t k = 0; k < features; ++k)
          columns[k * rows + r] = values[r * stride + k];
      return;
    case Scaling::min_max:
      return scaled_columns(values, rows, features, stride, columns, first_row,
                            [&](std::size_t k, double x) { return scale_value(x, low[k], high[k]); });
    case Scaling::automatic:  // fitted scalings are resolved: checked, kept as they are
    case Scaling::standard:
    case Scaling::rank:
      return scaled_columns(values, rows, features, stride, columns, first_row,
                            [&](std::size_t k, double x) { return scale_feature(scaling, k, x); });
  }
}

double unscale_feature(const FeatureScaling &scaling, std::size_t k, double scaled) {
  switch (scaling.kind) {
    case Scaling::none: return scaled;
    case Scaling::min_max: return scaling.low[k] + scaled * (scaling.high[k] - scaling.low[k]);
    case Scaling::standard:
      return scaling.low[k] + (scaled - 0.5) * (std::sqrt(12.0) * scaling.high[k]);
    case Scaling::rank: {
      const auto &values = scaling.values[k], &shares = scaling.shares[k];
      if (values.size() == 1 || scaled <= shares.front()) return values.front();
      if (scaled >= shares.back()) return values.back();
      const std::size_t i = static_cast<std::size_t>(
          std::upper_bound(shares.begin(), shares.end(), scaled) - shares.begin());
      return values[i - 1] + (values[i] - values[i - 1]) *
                                 ((scaled - shares[i - 1]) / (shares[i] - shares[i - 1]));
    }
    case Scaling::automatic: break;
  }
  return scaled;
}

void scale_rows(double *values, std::size_t rows, std::size_t features,
                const FeatureScaling &scaling) {
  if (scaling.kind == Scaling::none) return;
  for (std::size_t r = 0; r < rows; ++r) scale_row(values + r * features, features, scaling, r + 1);
}

std::vector<std::vector<double>> scale_patterns(const std::vector<std::vector<double>> &patterns,
                                                const FeatureScaling &scaling) {
  std::vector<std::vector<double>> scaled = patterns;
  if (scaling.kind == Scaling::none) return scaled;
  for (std::size_t r = 0; r < scaled.size(); ++r)
    scale_row(scaled[r].data(), scaled[r].size(), scaling, r + 1);
  return scaled;
}

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

void scale_rows(double *values, std::size_t rows, std::size_t features,
                const std::vector<double> &min, const std::vector<double> &max) {
  scale_rows(values, rows, features, FeatureScaling{Scaling::min_max, min, max, {}, {}});
}

std::vector<std::vector<double>> scale_patterns(const std::vector<std::vector<double>> &patterns,
                                                const FeatureRange &range) {
  return scale_patterns(patterns, FeatureScaling{Scaling::min_max, range.min, range.max, {}, {}});
}

}  // namespace qir
