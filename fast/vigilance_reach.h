// How far from its centre a pattern can lie and still matter to a node: a
// pattern farther away is outside the node and fails the vigilance test, so
// the node need not be evaluated for it. The bound only ever errs towards
// evaluating: skipping is exact or it does not happen.
//
// Why it holds. Let v = pattern - centre, u the direction, r = ratio <= 1.
// The ellipsoidal distance is (1/r) sqrt(|v|^2 - (1 - r^2)(u.v)^2). With
// |u| = 1, (u.v)^2 <= |v|^2 (Cauchy-Schwarz), so the radicand is at least
// r^2 |v|^2 and the distance at least |v|, the Euclidean distance, which a
// point node uses itself. Computed in doubles, with |u|^2 within eps of 1,
// the sums of M terms off by at most about (M+2) units of rounding u, the
// computed distance is still at least lambda |v| with
//   lambda^2 = 1 - (eps + 8 (M + 4) u) / r^2,
// which is why a tiny ratio (lambda small) turns the bound off.
// A pattern at distance d > radius + inside_tolerance is outside: fit = free_size -
// (d - radius) and MFV = fit / D (D > 0), which fails the test MFV +
// tolerance >= threshold once d > free_size + radius - (threshold -
// tolerance) D. The reach is the larger of the two limits. Every quantity
// the module computes on the way there is off by a few units of rounding
// relative to |free_size| + 2|radius| + D + d; the bound adds a relative
// margin of 1e-9, millions of times that, before it skips anything.
#pragma once

#include "node.h"

#include <cstdint>

namespace qir {

// Everything about a call's parameters that the bound needs.
struct ReachRule {
  bool usable = false;  // false: nothing may be skipped in this call
  std::int32_t M = 0;
  double D = 0.0;
  double ratio = 1.0;
  double threshold = 0.0;  // vigilance threshold minus the tolerance added to MFV
  double lambda = 0.0;     // computed distance >= lambda x Euclidean distance
};

// Relative safety margin of every bound.
constexpr double reach_margin = 1e-9;

// The rule of a call whose vigilance test is mfv + vt_tolerance >=
// vt_threshold. Unusable for D <= 0 or non-finite, a non-finite threshold,
// a ratio so small that lambda^2 < 1/4, M = 0 or M above 100000.
ReachRule make_reach_rule(std::int32_t M, double D, double ratio, double vt_threshold,
                          double vt_tolerance);

// A distance, as the module computes it for the node (ellipsoidal or
// Euclidean), beyond which (by the margin) the node fails the vigilance
// test. Infinite where node_reach is.
double distance_limit(const ReachRule &rule, const Node &node);

// A Euclidean distance from the node's centre beyond which (by the margin)
// every pattern is outside the node and fails the vigilance test. Infinite
// when nothing can be proved: unusable rule, a direction whose squared
// length is not within 1e-12 of 1, non-finite geometry.
double node_reach(const ReachRule &rule, const Node &node);

}  // namespace qir
