// Stopping a node's evaluation halfway through its features once the sums
// so far prove that it fails the vigilance test.
//
// Why it holds. After the first h features the kernel holds sq_h (the sum
// of d*d) and p_h (the sum of u*d) over them. The radicand of the
// ellipsoidal distance is sq - k proj^2 with k = 1 - ratio^2. Whatever the
// remaining features hold, their part of proj is at most b |d_rest| in size
// (Cauchy-Schwarz), b^2 being the squared length of the rest of the
// direction; the least the radicand can then be, over every length of
// d_rest, is sq_h - k p_h^2 / (1 - k b^2). A ball's radicand is sq, at
// least sq_h. The stored weight rounds k / (1 - k b^2) up and the scale of
// sq_h takes off a relative margin that covers the rounding of the partial
// sums and of the test itself, so the computed test value never exceeds
// the exact least radicand. The limit is the squared distance limit of
// vigilance_reach.h times ratio^2, divided by lambda^2 (the computed
// radicand is at least lambda^2 times the exact one) and raised by the
// margin three times over: a node whose test value exceeds it has a
// computed distance beyond the distance limit, so it is outside and fails.
// Patterns and centres are kept below 1e100 in size, so no sum of the
// kernels can overflow on the way.
#pragma once

#include "node.h"
#include "vigilance_reach.h"

#include <cstdint>
#include <limits>

namespace qir {

// Per node: the node fails once scale * sq_h - weight * p_h^2 > limit.
struct EarlyCut {
  double scale = 1.0;
  double weight = 0.0;
  double limit = std::numeric_limits<double>::infinity();  // infinite: never
};

// The features after which the kernels test the cuts: after half of them,
// where there are enough for the test to pay. (Measured on clustered
// training data: a second test after a quarter of them costs as much as it
// saves.)
constexpr std::int32_t max_cuts = 1;
struct CutPoints {
  std::int32_t count = 0;
  std::int32_t at[max_cuts] = {};
};
CutPoints cut_points(std::int32_t M);

// The cut of a node after its first h features; never (an infinite limit)
// where distance_limit proves nothing, the direction puts too much of its
// length in the rest for the bound to be useful, or a centre value reaches
// 1e100 in size.
EarlyCut early_cut(const ReachRule &rule, const Node &node, std::int32_t h);

// Whether every value of the pattern is below 1e100 in size, so that a cut
// may be taken for it.
bool cut_safe_pattern(const double *pattern, std::int32_t M);

}  // namespace qir
