// The choice bounds: whenever a group is left out, every node of it,
// evaluated by node_match, must be what the bound said (outside; failing
// VT, or passing VT and failing CT, or a candidate whose CFV is at most the
// bound), and a search that leaves groups out must count what evaluating
// them would have counted and find the same best CFV. On far-apart clusters
// of small nodes (so that groups are left out), patterns on the nodes'
// surfaces and on the limits of the tests, copies of nodes, M = 1 and 100.
#include "choice_bound.h"
#include "model.h"
#include "node.h"
#include "node_block.h"
#include "node_groups.h"
#include "vigilance_reach.h"
#include "../support/reach_setting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace qir {
namespace {

struct Case {
  std::int32_t M;
  double D, ratio, vigilance, alpha;
  bool ct;
};

std::vector<Node> clustered_nodes(const Case &c, qirtest::Uniform &uniform, std::int32_t count) {
  std::vector<Node> nodes;
  for (std::int32_t k = 0; k < count; ++k) {
    if (k > 0 && uniform(0.0, 1.0) < 0.15) {
      nodes.push_back(nodes[static_cast<std::size_t>(uniform(0.0, k))]);
      continue;
    }
    std::vector<double> row(2 * c.M + 1, 0.0);
    const double cluster = std::floor(uniform(0.0, 6.0));
    for (std::int32_t f = 0; f < c.M; ++f) row[f] = (f == 0 ? 8.0 * cluster : 0.0) + uniform(0.0, 0.5);
    if (uniform(0.0, 1.0) < 0.7) {
      double q = 0.0;
      for (std::int32_t f = 0; f < c.M; ++f) q += (row[c.M + f] = uniform(-1.0, 1.0)) * row[c.M + f];
      for (std::int32_t f = 0; f < c.M; ++f) row[c.M + f] /= std::sqrt(q);
    }
    row[2 * c.M] = uniform(0.0, 0.4);
    Node node;
    node_init(node, row.data(), 1, 1);
    nodes.push_back(node);
  }
  return nodes;
}

// Near a node: on its surface, on the VT or CT limit, or a hair off them.
std::vector<double> pattern_near(const Case &c, const Node &node, double Tu,
                                 qirtest::Uniform &uniform) {
  std::vector<double> x(node.center);
  const double r = node.radius;
  const double limits[] = {r + inside_tolerance, (c.D - r) - c.vigilance * c.D,
                           (c.D - r) - Tu * (c.D - 2 * r + c.alpha), uniform(0.0, 3.0)};
  const double at = limits[static_cast<int>(uniform(0.0, 4.0))] *
                    (uniform(0.0, 1.0) < 0.5 ? 1.0 : 1.0 + uniform(-1e-12, 1e-12));
  x[0] += at;
  return x;
}

class ChoiceBoundTest : public ::testing::TestWithParam<Case> {};

TEST_P(ChoiceBoundTest, GroupsLeftOutHoldWhatTheBoundSays) {
  const Case c = GetParam();
  model_params = ModelParams{c.M, c.D, c.ratio, c.alpha, 1.0};
  const double Tu = compute_Tu(c.D, c.alpha);
  qirtest::Uniform uniform(c.M * 131 + static_cast<std::uint64_t>(c.vigilance * 10));
  const std::vector<Node> nodes = clustered_nodes(c, uniform, 150);
  std::vector<const Node *> views;
  for (const Node &n : nodes) views.push_back(&n);
  const std::vector<std::int32_t> order = NodeGroups::compact_order(views, c.M);
  const ReachRule rule = make_reach_rule(c.M, c.D, c.ratio, c.vigilance, 0.0);
  PackedNodes packed;
  packed.reset(c.M, rule);
  for (std::size_t k = 0; k < order.size(); ++k) packed.place(*views[order[k]], static_cast<std::int32_t>(k));
  // Nodes were placed in compact order: node k of `packed` is views[order[k]].
  std::vector<const Node *> placed;
  for (std::int32_t k : order) placed.push_back(views[k]);
  NodeGroups groups;
  groups.reset(c.M, rule);
  groups.build(placed, packed);
  const ChoiceRule choice{c.vigilance, c.alpha, Tu, c.ct};
  ChoiceBounds bounds;
  bounds.build(placed, packed, groups, choice);
  ASSERT_TRUE(bounds.usable());

  BlockMatcher matcher;
  const MatchParams params{c.ratio, c.D, 0.0, c.vigilance};
  std::vector<double> square(static_cast<std::size_t>(groups.count()));
  std::int64_t left_out = 0;
  for (int p = 0; p < 300; ++p) {
    const std::vector<double> x =
        pattern_near(c, *placed[static_cast<std::size_t>(uniform(0.0, 150.0))], Tu, uniform);
    // What evaluating every node gives: flops, passes, CT passes,
    // candidates and the best CFV.
    std::uint64_t flops = 0, passing = 0, ct_passing = 0, candidates = 0;
    double best = -std::numeric_limits<double>::infinity();
    groups.square_distances(x.data(), square.data());
    for (std::int32_t k = 0; k < packed.size(); ++k) {
      Node node = *placed[k];
      const std::uint32_t before = op_counters.flop_count;
      node_match(node, x.data());
      flops += op_counters.flop_count - before;
      const bool passes = node.mfv >= c.vigilance;
      const double cfv = compute_cfv(node.fit, node.free_size, c.alpha);
      const bool ct_passes = !c.ct || cfv >= Tu;
      passing += passes;
      ct_passing += passes && c.ct && ct_passes;
      candidates += passes && ct_passes;
      if (passes && ct_passes) best = std::max(best, cfv);
      const std::int32_t g = packed.slot_of(k) / group_slots;
      const GroupBound b = bounds.bound(g, square[g]);
      if (b.choice == GroupChoice::evaluate) continue;
      ++left_out;
      EXPECT_GT(node.excess, 0.0) << "node " << k << " left out is not outside";
      EXPECT_EQ(passes, b.choice != GroupChoice::fails_vt) << k;
      if (b.choice == GroupChoice::fails_ct) {
        EXPECT_FALSE(cfv >= Tu) << k;
      }
      if (b.choice == GroupChoice::below) {
        EXPECT_TRUE(ct_passes) << k;
        EXPECT_LE(cfv, b.cfv_high) << k;
      }
    }
    OpTally tally;
    ChoiceSkips skips;
    matcher.evaluate_choosing(packed, x.data(), params, groups, bounds, choice, tally, skips);
    EXPECT_EQ(tally.flops, flops);
    std::uint64_t evaluated_passing = 0, evaluated_candidates = 0;
    double found = -std::numeric_limits<double>::infinity();
    matcher.for_each_passing_slot(packed, [&](std::int32_t slot) {
      const double cfv = matcher.cfv(slot);
      ++evaluated_passing;
      if (c.ct && !(cfv >= Tu)) return;
      ++evaluated_candidates;
      found = std::max(found, cfv);
    });
    EXPECT_EQ(evaluated_passing + static_cast<std::uint64_t>(skips.passing), passing);
    EXPECT_EQ(static_cast<std::uint64_t>(skips.ct_passing), c.ct ? static_cast<std::uint64_t>(skips.candidates) : 0u);
    EXPECT_EQ(evaluated_candidates + static_cast<std::uint64_t>(skips.candidates), candidates);
    EXPECT_EQ(found, best);
  }
  // The clusters lie far apart: the bounds must leave groups out.
  EXPECT_GT(left_out, 0);
  EXPECT_GT(matcher.skipped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Settings, ChoiceBoundTest,
                         ::testing::Values(Case{1, 40.0, 1.0, 0.0, 0.1, false},
                                           Case{16, 40.0, 0.75, 0.0, 0.1, false},
                                           Case{16, 40.0, 0.75, 0.0, 0.01, true},
                                           Case{16, 40.0, 0.5, 0.5, 0.1, false},
                                           Case{100, 60.0, 0.75, 0.0, 0.1, true},
                                           Case{16, 4.0, 0.75, 0.9, 0.1, false}));

}  // namespace
}  // namespace qir
