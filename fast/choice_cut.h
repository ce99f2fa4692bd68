// Leaving unevaluated, in a training search without memory, the blocks of
// nodes that provably cannot win. A cheap distance, in single precision,
// from the pattern to a single-precision copy of each node's centre (an
// eighth of the work of an evaluation) proves, for every node of the
// block, that the pattern lies outside it, that it passes the vigilance
// test and that its CFV stays strictly below the best CFV of a node
// already evaluated. Such a node is counted as its evaluation would have
// been (outside, a CFV, a candidate after the first), stays eligible, and
// is evaluated during match tracking unless its MFV bound shows it
// dropping out. The blocks go in runs, in order; the best CFV rises as
// each run is evaluated, so no node is compared with more than what
// evaluated nodes reached.
//
// Why it holds (z is the distance the module computes for the node, r its
// radius, f its free size, n = f + alpha > 0 its CFV's denominator as
// computed, b > 0 the best CFV, m = reach_margin, u the unit of rounding,
// v = pattern - centre; the roundings of the double-precision steps below
// are a few u times the values involved, far below m).
// - The distance: c' and x' are the centre and the pattern rounded to
//   single precision, e at least |c - c'| + |x - x'|, w2 the sum of squares
//   of x' - c' computed in single precision: within g = (M + 3) 2^-23 of its
//   exact value w^2 relatively (every value below 1e15 in size, so nothing
//   overflows; underflow adds at most M 2^-149 in all, which the error
//   term covers). Then |v| >= w - e and |v| <= w + e, and for t = 2^-10,
//   |v|^2 >= w^2 (1 - t) - e^2 / t and |v|^2 <= w^2 (1 + t) + e^2 (1 + 1/t).
//   The computed distance is at least lambda |v| (vigilance_reach.h) and
//   at most |v| (1 + m) / r_e (r_e the ratio, 1 for a point: the radicand
//   taken off is never negative, and the roundings are far below m).
// - Beyond Z: w2 (1 - t)(1 - g)(1 - m)^2 - E > Z^2 (1 + m)^4 / lambda^2,
//   with E >= e^2 (1 + 1/t)(1 + 2m) (taken as twice the squares of either
//   part), proves z > Z.
// - Outside: Z >= r + 1e-8 + m (r + 1) makes z - 1e-8 > r after rounding.
// - Below the best: Z >= f + r + m s - b n (1 - 2m), s = |f| + |r| + 1,
//   gives exactly f + r - Z <= b n (1 - m) - m s / 2 after the roundings of
//   Z itself. The computed excess fl(z - r) is off by at most u (z - r), and
//   growing z lowers the fit by more than that adds, so the computed fit is
//   at most f + r - Z + u (Z - r) < b n (1 - m): the computed CFV
//   fl(fit / n) is below b (a fit of at most 0 gives at most 0 < b).
// - Its MFV, fl(fit / D), is then below b n / D, which the search keeps
//   (raised by m) as the node's MFV bound for match tracking.
// - The vigilance test passes: every operation from z to the test (z - r,
//   f - that, / D, + tolerance, >= threshold) is rounded monotonically, so
//   the test passes for every z up to a distance Zv at which it is checked
//   to pass, computed the same way; w2 (1 + t)(1 + 2g)(1 + 2m)(1 + m) + E
//   <= (r_e Zv)^2 (1 - 3m) proves z < Zv.
// No node is proved anything where a value is not finite, the direction
// is not of unit length, the denominator n is not well above its rounding
// (below 1e-4 of |f| + alpha), a centre value is 1e15 or more in size, the
// best CFV is not finite and positive, a pattern value is 1e15 or more in
// size, or for the choice-value test and the traces that list every node.
// A NaN CFV among the nodes evaluated makes the winner depend on every
// candidate's order: the search then evaluates every block it left
// unevaluated.
#pragma once

#include "node.h"
#include "vigilance_reach.h"

#include <cstdint>

namespace qir {

// The call's side of the bound: the vigilance test as the kernels take it,
// and alpha.
struct ChoiceCutRule {
  bool usable = false;
  ReachRule reach;
  double vt_tolerance = 0.0;
  double vt_threshold = 0.0;
  double alpha = 0.0;
};

// Unusable when the reach rule is, or alpha is not finite and at least 0.
ChoiceCutRule make_choice_cut_rule(const ReachRule &reach, double vt_threshold,
                                   double vt_tolerance, double alpha);

// One node's terms; `usable` false: its block is never left unevaluated.
struct ChoiceCutSlot {
  bool usable = false;
  double error = 0.0;        // E
  double vt_limit = 0.0;     // (r_e Zv)^2 (1 - 3m)
  double denominator = 0.0;  // n
  double base = 0.0;         // f + r + m s
  double outside = 0.0;      // r + 1e-8 + m (r + 1)
};

// `single` receives the centre in single precision (M values).
ChoiceCutSlot choice_cut(const ChoiceCutRule &rule, const Node &node, float *single);

// The factors of the kernels' tests, the same for every node.
struct ChoiceFactors {
  double low = 0.0;    // (1 - t)(1 - g)(1 - m)^2
  double high = 0.0;   // (1 + t)(1 + 2g)(1 + 2m)(1 + m)
  double beyond = 0.0; // (1 + m)^4 / lambda^2
};
ChoiceFactors choice_factors(const ReachRule &reach);

// Z = the larger of `outside` and base - b n keep.
constexpr double choice_keep = 1.0 - 2.0 * reach_margin;

// Pattern and centre values at least this large in size are never bounded.
constexpr double choice_single_limit = 1e15;

// The pattern's share of E, from the squares of its rounding to single
// precision.
double choice_pattern_error(double squares, std::int32_t M);

}  // namespace qir
