#include "choice_cut.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qir {

namespace {

constexpr double m = reach_margin;
constexpr double t = 0x1.0p-10;
constexpr double least_denominator = 1e-4;
// Twice the squares, with the factors of E.
double error_term(double squares) {
  return 2.0 * squares * (1.0 + 1.0 / t) * (1.0 + 4.0 * m);
}

// The vigilance test of an outside node at computed distance z, with the
// kernels' operations in their order.
bool passes_at(double z, double radius, double free_size, double D, double tolerance,
               double threshold) {
  const double beyond = z - radius;
  const double fit = free_size - beyond;
  const double mfv = fit / D;
  return mfv + tolerance >= threshold;
}

// A distance up to which the test provably passes (it is monotonic in z),
// or NaN when none is found near where it should be.
double passing_distance(const ChoiceCutRule &rule, const Node &node) {
  const double D = rule.reach.D;
  double z = node.free_size + node.radius - (rule.vt_threshold - rule.vt_tolerance) * D;
  for (int k = 0; k < 64 && std::isfinite(z); ++k) {
    if (passes_at(z, node.radius, node.free_size, D, rule.vt_tolerance, rule.vt_threshold))
      return z;
    z -= (std::fabs(z) + 1.0) * std::ldexp(1.0, k - 50);
  }
  return std::nan("");
}

}  // namespace

ChoiceCutRule make_choice_cut_rule(const ReachRule &reach, double vt_threshold,
                                   double vt_tolerance, double alpha) {
  ChoiceCutRule rule;
  rule.reach = reach;
  rule.vt_threshold = vt_threshold;
  rule.vt_tolerance = vt_tolerance;
  rule.alpha = alpha;
  rule.usable = reach.usable && std::isfinite(alpha) && alpha >= 0.0;
  return rule;
}

ChoiceFactors choice_factors(const ReachRule &reach) {
  const double lambda = reach.lambda;
  const double g = (reach.M + 3.0) * 0x1.0p-23;
  return ChoiceFactors{(1.0 - t) * (1.0 - g) * (1.0 - m) * (1.0 - m),
                       (1.0 + t) * (1.0 + 2.0 * g) * (1.0 + 2.0 * m) * (1.0 + m),
                       (1.0 + m) * (1.0 + m) * (1.0 + m) * (1.0 + m) / (lambda * lambda)};
}

double choice_pattern_error(double squares, std::int32_t M) {
  // Underflow in the single-precision sums: at most M 2^-149 in all.
  return error_term(squares) + M * 1e-40;
}

ChoiceCutSlot choice_cut(const ChoiceCutRule &rule, const Node &node, float *single) {
  ChoiceCutSlot slot;
  double e2 = 0.0;
  bool fits = true;
  for (std::size_t f = 0; f < node.center.size(); ++f) {
    const double c = node.center[f];
    fits = fits && std::fabs(c) < choice_single_limit;
    single[f] = fits ? static_cast<float>(c) : 0.0f;
    const double d = c - static_cast<double>(single[f]);  // exact: both near c
    e2 += d * d;
  }
  if (!rule.usable || !fits || !std::isfinite(distance_limit(rule.reach, node))) return slot;
  const double r = node.radius;
  const double f = node.free_size;
  const double n = f + rule.alpha;
  if (!(n >= least_denominator * (std::fabs(f) + rule.alpha)) || !std::isfinite(n)) return slot;
  const double zv = passing_distance(rule, node);
  if (!(zv > 0.0)) return slot;
  const double r_e = node.is_point != 0 ? 1.0 : rule.reach.ratio;
  slot.error = error_term(e2);
  slot.vt_limit = (r_e * zv) * (r_e * zv) * (1.0 - 3.0 * m);
  slot.denominator = n;
  slot.base = (f + r) + m * (std::fabs(f) + std::fabs(r) + 1.0);
  slot.outside = r + inside_tolerance + m * (std::fabs(r) + 1.0);
  slot.usable = std::isfinite(slot.error) && std::isfinite(slot.vt_limit) &&
                std::isfinite(slot.base) && std::isfinite(slot.outside);
  return slot.usable ? slot : ChoiceCutSlot();
}

}  // namespace qir
