#include "choice_bound.h"

#include <algorithm>
#include <cmath>

namespace qir {

namespace {

constexpr double m = reach_margin;
// The least denominator, relative to its terms, whose rounding stays far
// below the margin.
constexpr double least_denominator = 1e-4;

bool finite_node(const Node &node) {
  if (!std::isfinite(node.radius) || !std::isfinite(node.free_size)) return false;
  for (double c : node.center)
    if (!std::isfinite(c)) return false;
  if (node.is_point != 0) return true;
  double s = 0.0;
  for (double u : node.direction) s += u * u;
  return std::fabs(s - 1.0) <= 1e-12;  // as vigilance_reach.h asks
}

// (D - r - c) / (D + alpha - 2 r) at both ends of the radii: the greatest
// (high) or least of the two.
double cfv_end(double D, double alpha, double r_min, double r_max, double c, bool high) {
  const double a = (D - r_min - c) / (D + alpha - 2.0 * r_min);
  const double b = (D - r_max - c) / (D + alpha - 2.0 * r_max);
  const double v = high ? std::max(a, b) : std::min(a, b);
  const double widen = m * std::fabs(v) + 1e-300;
  return high ? v + widen : v - widen;
}

}  // namespace

void ChoiceBounds::build(const std::vector<const Node *> &nodes, const PackedNodes &packed,
                         const NodeGroups &groups, const ChoiceRule &rule) {
  reach_ = groups.rule();
  rule_ = rule;
  usable_ = groups.usable() && reach_.usable && std::isfinite(rule.alpha) && rule.alpha >= 0.0;
  groups_.assign(static_cast<std::size_t>(groups.count()), Group());
  if (!usable_) return;
  const double D = reach_.D;
  for (Group &group : groups_) {
    group.safe = true;
    group.r_min = INFINITY;
    group.r_max = -INFINITY;
  }
  for (std::int32_t k = 0; k < packed.size(); ++k) {
    const Node &node = *nodes[k];
    const std::int32_t g = packed.slot_of(k) / group_slots;
    if (g >= groups.count()) continue;
    Group &group = groups_[g];
    const double r = node.radius;
    const double denominator = D + rule.alpha - 2.0 * r;
    const double spread = groups.centre_distance(g, node);
    group.safe = group.safe && finite_node(node) && std::isfinite(spread) &&
                 denominator >= least_denominator * (D + rule.alpha + 2.0 * std::fabs(r));
    group.points = group.points && node.is_point != 0;
    group.ball = std::max(group.ball, spread);
    group.r_min = std::min(group.r_min, r);
    group.r_max = std::max(group.r_max, r);
    group.scale = std::max(group.scale, std::fabs(node.free_size) + 2.0 * std::fabs(r) + D +
                                            inside_tolerance);
  }
  for (std::int32_t g = 0; g < groups.count(); ++g)
    groups_[g].safe = groups_[g].safe && groups.members(g) > 0;
}

GroupBound ChoiceBounds::bound(std::int32_t g, double square_distance) const {
  const Group &group = groups_[g];
  GroupBound out;
  // A pattern too far off for the kernels' sums gives -inf (node_groups.h).
  if (!group.safe || !(square_distance >= 0.0)) return out;
  const double D = reach_.D;
  const double w = std::sqrt(square_distance);
  const double near = (w * (1.0 - m) - group.ball) * (1.0 - m);
  if (!(near > 0.0)) return out;
  const double L = reach_.lambda * near;
  if (!(L > group.r_max + inside_tolerance + m * group.scale)) return out;
  const double stretch = group.points ? 1.0 : 1.0 / reach_.ratio;
  const double U = (w * (1.0 + m) + group.ball) * (1.0 + m) * (1.0 + m) * stretch;
  if (!std::isfinite(U)) return out;
  const double e = m * (group.scale + U);
  const double fit_high = D - group.r_min - L + e;
  const double fit_low = D - group.r_max - U - e;
  const bool all_fail = fit_high < 0.0 || (fit_high / D) * (1.0 + m) < rule_.vigilance;
  if (all_fail) {
    out.choice = GroupChoice::fails_vt;
    return out;
  }
  const bool all_pass = fit_low >= 0.0 && (fit_low / D) * (1.0 - m) >= rule_.vigilance;
  if (!all_pass) return out;
  const double cfv_high = cfv_end(D, rule_.alpha, group.r_min, group.r_max, L - e, true);
  if (rule_.ct) {
    if (cfv_high < rule_.Tu) {
      out.choice = GroupChoice::fails_ct;
      return out;
    }
    const double cfv_low = cfv_end(D, rule_.alpha, group.r_min, group.r_max, U + e, false);
    if (!(cfv_low >= rule_.Tu)) return out;
  }
  if (!std::isfinite(cfv_high)) return out;
  out.choice = GroupChoice::below;
  out.cfv_high = cfv_high;
  return out;
}

}  // namespace qir
