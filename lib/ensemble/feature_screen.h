// Screening out features that carry nothing about the class. A node
// measures distance in every feature, so among many idle features the few
// that carry the class are drowned; the screen keeps a feature only when
// its distribution differs between the classes on the training data.
//
// The test, per feature that varies: its values cut into up to 10 bins of
// about equal counts (equal values share a bin), the table of bins against
// classes, and Pearson's chi-square statistic of that table against the
// 99th percentile of the chi-square law with (bins - 1)(classes - 1)
// degrees of freedom (the Wilson-Hilferty cube, which needs no more than
// a square root, so every platform decides alike). A feature whose classes
// differ in spread or shape and not in mean (a circle in a square) is kept
// as surely as one whose mean moves. Constant features are left as they
// are: they add nothing to a distance and nothing is gained by dropping
// them. The screen drops features only where the idle ones are the
// majority: a few idle features among many that carry the class barely
// dilute a distance, while a weak feature dropped by mistake costs (so
// when half the varying features or more pass, all stay). And when fewer
// than `screen_floor` would be kept, all stay: a class that shows only in
// features taken together (two spirals) must not lose them.
#pragma once

#include <cstddef>
#include <vector>

#include "../modules/modules.h"

namespace qir {

// Fewest varying features the screen leaves.
inline constexpr std::size_t screen_floor = 2;
// The standard normal quantile of the test's level (0.01).
inline constexpr double screen_z = 2.3263478740408408;

// The test's statistic of one feature and its degrees of freedom (0 for
// a constant feature or a single class).
struct FeatureTest {
  double statistic = 0;
  double dof = 0;
};
FeatureTest feature_test(const double *values, const std::vector<double> &labels);

// The chi-square law's quantile at the standard normal quantile `z`, for
// `dof` degrees of freedom (Wilson-Hilferty).
double chi_square_quantile(double dof, double z);

// The features (ascending, 0-based) the members see after screening the
// patterns (N x M) with their labels: none (empty) when that is all of them.
std::vector<std::size_t> screened_features(PatternMatrix patterns,
                                           const std::vector<double> &labels,
                                           double z = screen_z);

}  // namespace qir
