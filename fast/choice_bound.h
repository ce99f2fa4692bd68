// Leaving out of a classification search the groups of nodes that cannot
// win: the decision, the trace and every count stay those of the search
// that evaluates every node.
//
// What must be known of a node left out. Its evaluation would count 5M + 2
// operations, 6 more for an ellipsoid, 2 more when the pattern lies
// outside, and one comparison; its VT comparison; 2 for a CFV when it
// passes VT; one comparison when it passes CT (CT on); and one when it is a
// candidate after the first. So a group may be left out only when, for
// every node in it, the bound proves the pattern outside, proves the VT
// outcome, and either proves CT failing, or proves CT passing (CT on) and
// the CFV strictly below the best CFV of a candidate already evaluated.
// Such a node can then neither win nor tie (ties go to the lower node by
// ">="), and as a candidate it is one after the first. A NaN among the
// evaluated candidates' CFVs makes the winner depend on the order of every
// later candidate, so the search then evaluates what it left out.
//
// Why the bounds hold. Let g be the group's centre, w the computed
// Euclidean distance from the pattern to g (its sum of M squares is off by
// at most (M + 2) units of rounding u, far below the margin m = 1e-9, as M
// <= 100000) and R at least the largest exact distance from g to a node
// centre (computed, then raised by m). For any node, v = pattern - centre
// has w (1 - m) - R <= |v| <= w (1 + m) + R (triangle inequality).
// - Lower: the computed distance is at least lambda |v| (vigilance_reach.h:
//   unit directions or points, lambda^2 >= 1/4), so at least
//   L = lambda (w (1 - m) - R) (1 - m).
// - Upper: the radicand sq - (1 - r^2) proj^2 is computed as at most
//   sq (1 + u), since the part taken off is never negative, and sq as at
//   most |v|^2 (1 + (M + 4) u); so the distance, sqrt(radicand) / ratio for
//   an ellipsoid, is at most U = (w (1 + m) + R)(1 + m)^2 / ratio (ratio
//   taken as 1 for a group of points).
// - Outside: L > r_max + 1e-8 + m S, S the largest |free_size| + 2|radius|
//   + D + 1e-8 of the group, makes distance - 1e-8 > radius for every node
//   however the subtraction rounds.
// - Fit: outside, fit = free_size - (distance - radius), computed with two
//   roundings of at most u (S + U) each; free_size itself is D - 2 radius
//   to within u S. So every node's computed fit lies in
//   [D - radius - U - e, D - radius - L + e] with e = m (S + U).
// - VT (MFV = fit / D, D > 0, vigilance >= 0): every node passes when the
//   least fit, at r_max, is >= 0 and (least fit / D)(1 - m) >= vigilance;
//   every node fails when the greatest fit, at r_min, is < 0 or
//   (greatest fit / D)(1 + m) < vigilance (e keeps a negative fit away
//   from an MFV of -0). Anything between is evaluated.
// - CFV = fit / (free_size + alpha). With the denominator D + alpha -
//   2 radius kept above 1e-4 of D + alpha + 2|radius| for every node (else
//   the group is always evaluated), its computed value is within 1e-11
//   relatively of the exact one. (D - radius - c) / (D + alpha - 2 radius)
//   is monotonic in the radius for any constant c (its derivative is
//   (D - alpha - 2c) / denominator^2), so over the radii of the group the
//   CFV's bounds are found at r_min and r_max; they are widened by m of
//   their size.
// Groups whose nodes are not all finite, with a unit direction or none,
// are never left out; nor is anything in a call whose rule is unusable
// (D <= 0, tiny ratios, M = 0 or above 100000) or for a pattern with a
// value of 1e100 or more in size.
#pragma once

#include "node.h"
#include "node_block.h"
#include "node_groups.h"
#include "vigilance_reach.h"

#include <cstdint>
#include <vector>

namespace qir {

// What a group's bound proves for one pattern.
enum class GroupChoice : std::uint8_t {
  evaluate,        // nothing: the group must be evaluated
  fails_vt,        // every node outside, failing VT
  fails_ct,        // every node outside, passing VT, failing CT
  below,           // every node outside and a candidate, CFV <= cfv_high
};

struct GroupBound {
  GroupChoice choice = GroupChoice::evaluate;
  double cfv_high = 0.0;  // for `below`: no node's computed CFV exceeds it
};

// The call's parameters of the test.
struct ChoiceRule {
  double vigilance = 0.0;
  double alpha = 0.0;
  double Tu = 0.0;
  bool ct = false;
};

class ChoiceBounds {
 public:
  // Bounds for the groups of `groups` over `packed` (node k in slot
  // packed.slot_of(k)), under the groups' rule. Unusable (nothing left
  // out) when that rule is.
  void build(const std::vector<const Node *> &nodes, const PackedNodes &packed,
             const NodeGroups &groups, const ChoiceRule &rule);
  void clear() { usable_ = false; }
  bool usable() const { return usable_; }

  // Group g, for a pattern at that squared distance (as
  // NodeGroups::square_distances gives it) from its centre.
  GroupBound bound(std::int32_t g, double square_distance) const;

 private:
  struct Group {
    bool safe = false;
    bool points = true;  // every node a point
    double ball = 0.0;   // R
    double r_min = 0.0, r_max = 0.0;
    double scale = 0.0;  // S
  };
  bool usable_ = false;
  ReachRule reach_;
  ChoiceRule rule_;
  std::vector<Group> groups_;
};

}  // namespace qir
