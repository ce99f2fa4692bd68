#include "vigilance_reach.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qir {

namespace {

constexpr double unit_rounding = 0x1.0p-53;
constexpr double direction_tolerance = 1e-12;
constexpr std::int32_t max_features = 100000;
constexpr double infinite = std::numeric_limits<double>::infinity();

bool unit_length(const std::vector<double> &direction) {
  double s = 0.0;
  for (double x : direction) s += x * x;
  return std::fabs(s - 1.0) <= direction_tolerance;
}

}  // namespace

ReachRule make_reach_rule(std::int32_t M, double D, double ratio, double vt_threshold,
                          double vt_tolerance) {
  ReachRule rule;
  rule.M = M;
  rule.D = D;
  rule.ratio = ratio;
  rule.threshold = vt_threshold - vt_tolerance;
  const double loss = (direction_tolerance + 8.0 * (M + 4.0) * unit_rounding) / (ratio * ratio);
  const double lambda_squared = 1.0 - loss;
  rule.lambda = lambda_squared > 0.0 ? std::sqrt(lambda_squared) : 0.0;
  rule.usable = M >= 1 && M <= max_features && std::isfinite(D) && D > 0.0 &&
                std::isfinite(rule.threshold) && ratio > 0.0 && ratio <= 1.0 &&
                lambda_squared >= 0.25;
  return rule;
}

double distance_limit(const ReachRule &rule, const Node &node) {
  if (!rule.usable) return infinite;
  const double radius = node.radius;
  const double free_size = node.free_size;
  if (!std::isfinite(radius) || !std::isfinite(free_size)) return infinite;
  if (node.is_point == 0 && !unit_length(node.direction)) return infinite;
  for (double c : node.center)
    if (!std::isfinite(c)) return infinite;
  const double fails_vt = free_size + radius - rule.threshold * rule.D;
  const double outside = radius + inside_tolerance;
  const double scale = std::fabs(free_size) + 2.0 * std::fabs(radius) + rule.D + inside_tolerance;
  // A negative limit (the node fails for every pattern) is taken as 0:
  // dividing it by lambda would move it the wrong way.
  const double limit = std::max(0.0, std::max(fails_vt, outside) + reach_margin * scale);
  return std::isfinite(limit) ? limit : infinite;
}

double node_reach(const ReachRule &rule, const Node &node) {
  const double limit = distance_limit(rule, node);
  const double reach = limit / ((1.0 - reach_margin) * rule.lambda);
  return std::isfinite(reach) ? reach : infinite;
}

}  // namespace qir
