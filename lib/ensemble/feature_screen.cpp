#include "feature_screen.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace qir {
namespace {

// Each row's class as an index into the ascending distinct labels.
struct ClassIndex {
  std::vector<std::size_t> of_row;
  std::size_t count = 0;
};

ClassIndex class_index(const std::vector<double> &labels) {
  std::vector<double> classes = labels;
  std::sort(classes.begin(), classes.end());
  classes.erase(std::unique(classes.begin(), classes.end()), classes.end());
  ClassIndex index{std::vector<std::size_t>(labels.size()), classes.size()};
  for (std::size_t r = 0; r < labels.size(); ++r)
    index.of_row[r] = static_cast<std::size_t>(
        std::lower_bound(classes.begin(), classes.end(), labels[r]) - classes.begin());
  return index;
}

// About five patterns of each class to a cell, so that the statistic keeps
// to its law; 2 to 10 bins.
std::size_t bin_count(std::size_t rows, std::size_t classes) {
  return std::clamp<std::size_t>(rows / (5 * classes), 2, 10);
}

// The work space of one feature's test, reused from feature to feature.
struct TestSpace {
  std::vector<std::size_t> order;
  std::vector<double> table, bin_total, class_total;
};

FeatureTest test_column(const double *values, const ClassIndex &classes, TestSpace &space) {
  const std::size_t n = classes.of_row.size();
  const std::size_t width = classes.count;
  auto &order = space.order;
  order.resize(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [values](std::size_t a, std::size_t b) { return values[a] < values[b]; });
  if (n == 0 || width < 2 || values[order.front()] == values[order.back()]) return {};
  const std::size_t bins = bin_count(n, width);
  space.table.assign(bins * width, 0);
  // A run of equal values goes whole into the bin of its first place; a
  // value above the smallest opens a bin of its own at least, so a feature
  // that varies has two bins.
  std::size_t first = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && values[order[i]] != values[order[i - 1]]) first = i;
    const std::size_t bin = std::max(first * bins / n, first > 0 ? std::size_t{1} : 0);
    space.table[bin * width + classes.of_row[order[i]]] += 1;
  }
  space.bin_total.assign(bins, 0);
  space.class_total.assign(width, 0);
  for (std::size_t b = 0; b < bins; ++b)
    for (std::size_t c = 0; c < width; ++c) {
      space.bin_total[b] += space.table[b * width + c];
      space.class_total[c] += space.table[b * width + c];
    }
  const double total = static_cast<double>(n);
  FeatureTest test;
  double used = 0;
  for (std::size_t b = 0; b < bins; ++b) {
    if (space.bin_total[b] == 0) continue;
    used += 1;
    for (std::size_t c = 0; c < width; ++c) {
      const double expected = space.bin_total[b] * space.class_total[c] / total;
      const double apart = space.table[b * width + c] - expected;
      test.statistic += apart * apart / expected;
    }
  }
  test.dof = (used - 1) * static_cast<double>(width - 1);
  return test;
}

}  // namespace

FeatureTest feature_test(const double *values, const std::vector<double> &labels) {
  TestSpace space;
  return test_column(values, class_index(labels), space);
}

double chi_square_quantile(double dof, double z) {
  const double h = 2 / (9 * dof);
  const double root = 1 - h + z * std::sqrt(h);
  return dof * root * root * root;
}

std::vector<std::size_t> screened_features(PatternMatrix patterns,
                                           const std::vector<double> &labels, double z) {
  const std::size_t n = patterns.rows;
  if (n == 0 || labels.size() != n) return {};
  for (std::size_t k = 0; k < n * patterns.columns; ++k)
    if (!std::isfinite(patterns.values[k])) return {};  // the modules refuse such data
  const ClassIndex classes = class_index(labels);
  if (classes.count < 2) return {};
  TestSpace space;
  std::vector<std::size_t> kept;
  std::size_t varying = 0, kept_varying = 0;
  for (std::size_t c = 0; c < patterns.columns; ++c) {
    const FeatureTest test = test_column(patterns.values + c * n, classes, space);
    const bool constant = test.dof == 0;
    varying += constant ? 0 : 1;
    const bool carries = !constant && test.statistic > chi_square_quantile(test.dof, z);
    kept_varying += carries ? 1 : 0;
    if (constant || carries) kept.push_back(c);
  }
  if (kept_varying < screen_floor || 2 * kept_varying >= varying) return {};
  return kept;
}

}  // namespace qir
