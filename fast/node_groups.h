// Bounding balls over groups of packed slots, to skip whole groups of
// nodes that provably fail the vigilance test for a pattern (see
// vigilance_reach.h). Group g holds slots group_slots*g … group_slots*(g+1)-1.
// Its bound is the largest, over its nodes, of the distance from the
// group's centre to the node's centre plus the node's reach; a pattern
// farther than that from the group's centre is beyond every node's reach
// (triangle inequality), so no node of the group can pass.
#pragma once

#include "node.h"
#include "node_block.h"
#include "vigilance_reach.h"

#include <cstdint>
#include <vector>

namespace qir {

constexpr std::int32_t group_slots = 4 * block_lanes;

class NodeGroups {
 public:
  void reset(std::int32_t num_features, const ReachRule &rule);
  bool usable() const { return rule_.usable; }
  const ReachRule &rule() const { return rule_; }
  std::int32_t count() const { return count_; }
  std::int32_t members(std::int32_t g) const { return members_[g]; }

  // An order of the nodes in which every run of group_slots consecutive
  // nodes lies close together: each run is a seed (the first node not yet
  // taken) and its nearest untaken nodes.
  static std::vector<std::int32_t> compact_order(const std::vector<const Node *> &nodes,
                                                 std::int32_t num_features);

  // Balls over every slot of `packed` (node k in slot packed.slot_of(k));
  // each group's centre is the mean of its nodes' centres. Slots added to
  // `packed` later belong to no group.
  void build(const std::vector<const Node *> &nodes, const PackedNodes &packed);
  // Drops every group (the rule stays).
  void clear_groups() { reset(M_, rule_); }
  // The node in `slot`, a slot of some group, changed.
  void update(std::int32_t slot, const Node &node);

  // The distance from group g's centre to the node's centre, raised by
  // the margin: at least the exact distance.
  double centre_distance(std::int32_t g, const Node &node) const;

  // Squared distances from the pattern to every group's centre, into
  // out[0 … count()-1].
  void square_distances(const double *pattern, double *out) const;
  // True when every node of group g fails the vigilance test for a pattern
  // at that squared distance from the group's centre.
  bool beyond_reach(std::int32_t g, double square_distance) const {
    return square_distance > limit_[g];
  }

 private:
  double term(std::int32_t g, const Node &node) const;
  void set_bound(std::int32_t g);

  std::int32_t M_ = 0;
  std::int32_t count_ = 0;
  ReachRule rule_;
  std::vector<double> centers_;  // [feature][group]
  std::vector<double> limit_;    // per group: squared distance beyond which to skip
  std::vector<double> terms_;    // per slot; -inf where empty
  std::vector<std::int32_t> members_;
};

}  // namespace qir
