#include "early_cut.h"

#include <cmath>

namespace qir {

namespace {

constexpr double largest_value = 1e100;
// Relative slack on every quantity rounded up (far above the rounding of
// sums of up to the largest usable number of features).
constexpr double slack = 1e-9;
// Below this share of the direction's length left, the least radicand
// gives nothing useful and its weight grows too large to round safely.
constexpr double least_room = 1e-6;
// Added to the squared length of the rest of the direction, so that a tail
// of zeros still rounds up to something above zero.
constexpr double least_tail = 1e-300;

bool centre_in_range(const Node &node) {
  for (double c : node.center)
    if (!(std::fabs(c) < largest_value)) return false;
  return true;
}

// k / (1 - k b^2), rounded up; 0 for a ball; NaN when too large.
double tail_weight(const ReachRule &rule, const Node &node, std::int32_t h) {
  if (node.is_point != 0) return 0.0;
  double tail = 0.0;
  for (std::size_t f = static_cast<std::size_t>(h); f < node.direction.size(); ++f)
    tail += node.direction[f] * node.direction[f];
  tail = tail * (1.0 + slack) + least_tail;
  const double keep = (1.0 - rule.ratio * rule.ratio) * (1.0 + slack);
  const double room = 1.0 - keep * tail;
  if (!(room >= least_room)) return std::nan("");
  return keep / room * (1.0 + slack);
}

}  // namespace

CutPoints cut_points(std::int32_t M) {
  CutPoints points;
  if (M >= 4) points.at[points.count++] = M / 2;
  return points;
}

EarlyCut early_cut(const ReachRule &rule, const Node &node, std::int32_t h) {
  const EarlyCut never;
  if (!rule.usable || h <= 0) return never;
  const double limit = distance_limit(rule, node);
  if (!std::isfinite(limit) || !centre_in_range(node)) return never;
  const double weight = tail_weight(rule, node, h);
  if (std::isnan(weight)) return never;
  const double scale = 1.0 - reach_margin * (1.0 + weight);
  const double r = node.is_point != 0 ? 1.0 : rule.ratio;
  const double grow = (1.0 + reach_margin) * (1.0 + reach_margin) * (1.0 + reach_margin);
  const double square_limit = (r * limit) * (r * limit) * grow / (rule.lambda * rule.lambda);
  if (!(scale > 0.5) || !std::isfinite(square_limit)) return never;
  return EarlyCut{scale, weight, square_limit};
}

bool cut_safe_pattern(const double *pattern, std::int32_t M) {
  for (std::int32_t f = 0; f < M; ++f)
    if (!(std::fabs(pattern[f]) < largest_value)) return false;
  return true;
}

}  // namespace qir
