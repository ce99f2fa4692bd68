// A lean evaluation (a silent classification's winner gathered in lanes,
// CT off) decides most registers from the radicand r alone, without the
// square root and the divisions: every decision it takes is a monotone
// function of r, so a threshold on r that is checked once, by the kernel's
// own operations, holds for every r on its side.
//
// Monotone in r. The kernel computes, from r, distance = sqrt(r) (a point)
// or sqrt(r) / ratio (ratio > 0), outside = (distance - tol) > radius, and
// for a node outside fit = fs - (distance - radius); then the vigilance
// test (fit / D + vt_tolerance >= vt_threshold, D > 0) and CFV = fit /
// (fs + alpha). Each step is a correctly rounded operation, and rounding to
// nearest is monotone: x <= y gives fl(x op c) <= fl(y op c) for op + - and
// for * / by c > 0, fl(c - x) >= fl(c - y), and sqrt(x) <= sqrt(y). So over
// r >= 0: outside is false up to some r and true beyond; a node's fit by
// the outside formula never rises with r; the vigilance test, taken on
// that fit, is true up to some r and false beyond (the kernels' test
// without the division at a vigilance of 0 gives the same outcomes, see
// lean_bounds in match_kernel_impl.h). A threshold t with the
// decision true at t itself (computed as the kernel computes it) is true
// for every r on the same side of t. LeanCuts stores, per slot, such
// checked thresholds: r <= inside proves the pattern inside (fit = fs), r
// >= outside proves it outside, and for a node outside r <= pass proves
// the vigilance test passed and r >= fail proves it failed. A slot whose
// check fails after a few widenings keeps thresholds that prove nothing
// (-1 and +inf: the lane stays unsure). No rounding argument is needed
// here, and subnormals, infinities, a zero or NaN free size, a tiny ratio
// or a radius of +inf (padding) need no cases of their own: what the check
// cannot confirm is never used.
//
// Inside, fit = fs exactly (the kernel selects fs), so the slot's vigilance
// test and its CFV are stored as the kernel computes them, bit for bit: the
// lane's winner update runs on that CFV exactly as on a computed one.
//
// Cannot take the lane. A lane holds the greatest CFV of the candidates it
// saw and the lowest slot holding it (WinnerLanes); a lean evaluation
// visits each lane's slots in increasing order, so a later candidate whose
// CFV is at most the lane's best is not taken, and the lane's state stays
// what it was. For a node with fs and radius in [0, 2^200] and den = fs +
// alpha (as the kernel rounds it) in [2^-200, 2^200], a slot stores
//   A = fl(fl(fl(a (1 + 2^-44)) + 2^-900) rho),  a = fl(radius + fs),
//   B = fl(fl(rho den) (1 - 2^-46)),
// rho = 1 for a point, the ratio (in [2^-100, 2^100]) for an ellipsoid. For
// a lane whose best G is in [0, 2^400], the kernel takes xr = fl(A - fl(G
// B)) and T = fl(max(xr, 0)^2); a lane outside with r >= T, r >= 2^-780
// and r <= 2^900 has CFV <= G. With u = 2^-53, S = radius + fs and
//   X = S - G den + m,  m = 2^-49 (S + G den) + 2^-1001:
//  1. If X > 0, xr >= rho X (1 + 2^-50). The roundings of A cost at most
//     4u of it: A >= rho (S (1 + 2^-45) + 2^-901); those of B and of the
//     product: fl(G B) <= G rho den (1 - 2^-48) + 2^-1075. So A - fl(G B) >=
//     rho (S - G den) + rho (2^-45 S + 2^-48 G den + 2^-901) - 2^-1075, and
//     xr loses u of it and 2^-1075 more in rounding. Against rho X (1 +
//     2^-50) = rho (S - G den) (1 + 2^-50) + rho m (1 + 2^-50), the first
//     terms differ by at most rho (S + G den) 9u < rho (S + G den) 2^-49.8;
//     2^-45 S + 2^-48 G den, less u of it, covers that and 2^-49 (S + G
//     den) (1 + 2^-50), and rho 2^-901 (1 - u) covers rho 2^-1001 (1 +
//     2^-50) + 2^-1074 (rho >= 2^-100). If X <= 0, the distance (>= 0) is
//     at least X whatever r.
//  2. r >= T gives distance >= X (X > 0, so xr > 0). T >= rho^2 X^2 (1 +
//     2^-50)^2 (1 - u) where xr^2 is normal; then sqrt(r) >= rho X (1 +
//     2^-50) (1 - u)^(1/2), and the root and the division lose at most
//     (1 - u)^2 more: distance
//     >= X, as (1 + 2^-50) = 1 + 8u. Nothing here is subnormal: r >= 2^-780
//     and rho in [2^-100, 2^100] keep sqrt(r) and distance above 2^-490,
//     r <= 2^900 keeps them far below overflow. Where xr < 2^-500 (xr^2
//     perhaps subnormal), rho X < 2^-500 while r >= 2^-780 gives
//     distance >= 2^-390 (1 - u) / rho > X.
//  3. distance - radius >= Y := fs - G den + m, so b = fl(distance - radius)
//     >= fl(Y) >= Y - u |Y| - 2^-1074 (monotone rounding; Y is a real);
//     fs - b <= Z := G den - m + u |Y| + 2^-1074, and fit = fl(fs - b) <=
//     Z + u |Z| + 2^-1074. As u (|Y| + |Z|) + 2^-1073 <= u (2 S + 2 G den +
//     2 m) + 2^-1073 < m, fit <= G den: fit / den <= G and, G being a
//     double, CFV = fl(fit / den) <= G. fit is finite or -inf and den > 0:
//     the CFV is no NaN either.
// A slot outside these ranges stores A = +inf (xr = +inf: unsure); a lane
// whose best is outside [0, 2^400] (none yet: -inf) proves nothing. The
// stored `outside` threshold is raised to at least 2^-780 and `pass`
// lowered to at most 2^900, so a lane proved outside and passing meets
// those bounds. A radicand below 0 or NaN is never proved outside; one
// below 0 may be proved inside, and is: the kernel's root is NaN there,
// which counts as inside.
//
// A register all of whose lanes are proved is finished from the proofs:
// nodes outside, those passing (every one a candidate, CT off), and the
// winner update of the lanes inside that pass, with their stored CFV (a
// NaN among them is noted as the kernel notes it). Any other register is
// evaluated exactly. Counts, lanes and the winner are those of the exact
// evaluation, bit for bit. The four-lane, two-lane and scalar kernels take
// the thresholds; the AVX-512 kernel, whose roots and divisions cover
// eight lanes at once, was measured no faster with them and takes none.
#pragma once

#include "node_block.h"

#include <cstdint>

namespace qir {

namespace lean_cut {
// The radicands a lane is proved outside and passing within.
constexpr double most_radicand = 0x1p900;
constexpr double least_radicand = 0x1p-780;
constexpr double best_limit = 0x1p400;  // a best beyond it proves nothing
}  // namespace lean_cut

// The thresholds of every slot of one packing under one call's values,
// kept while both hold.
class LeanCuts {
 public:
  // Whether the values allow the cuts at all: a positive normal D, a ratio
  // in [2^-100, 2^100], finite tolerance, threshold and alpha.
  static bool usable(const MatchParams &params);
  // Whether the cuts stored are those of these nodes and values.
  bool holds(const PackedNodes &nodes, const MatchParams &params) const;
  void build(const PackedNodes &nodes, const MatchParams &params);
  LeanCutView view() const;

  // The checked thresholds of one slot.
  struct Slot {
    double inside, outside, pass, fail, cfv;
    bool passes;
    double reach, scale;  // A and B
  };
  static Slot slot_cuts(double radius, double free_size, bool point, const MatchParams &params);

 private:
  std::uint64_t stamp_ = 0;  // none is 0
  double ratio_ = 0, D_ = 0, vt_tolerance_ = 0, vt_threshold_ = 0, alpha_ = 0;
  static constexpr int terms = 7;
  AlignedVector<double> terms_;  // as LeanCutView lays them out
  AlignedVector<std::uint64_t> passes_;
};

}  // namespace qir
