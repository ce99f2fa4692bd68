// The pruning bound: whenever a group of nodes is found beyond a pattern's
// reach, every node of the group, evaluated by node_match, must lie outside
// and fail the vigilance test. Checked on geometry built to sit on the
// boundary: patterns at exactly the reach (and a hair either side) along and
// across the directions, ratios near their limits, duplicate nodes,
// directions a little off unit length, M = 1 and M = 100. Also: a matcher
// that skips groups and cuts blocks short gives the same results for every
// node that passes.
#include "model.h"
#include "node.h"
#include "node_block.h"
#include "node_groups.h"
#include "vigilance_reach.h"
#include "../support/reach_setting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace qir {
namespace {

using Setting = qirtest::ReachSetting;

class Geometry {
 public:
  Geometry(const Setting &s, std::uint64_t seed) : s_(s), uniform(seed) {}

  std::vector<double> unit(double length) {
    std::vector<double> u(s_.M);
    double q = 0.0;
    for (double &x : u) {
      x = uniform(-1.0, 1.0);
      q += x * x;
    }
    for (double &x : u) x *= length / std::sqrt(q);
    return u;
  }

  // Clusters of nodes, some duplicated, some points, some with a direction
  // slightly off unit length (the bound must not trust those).
  std::vector<Node> nodes(std::int32_t count) {
    std::vector<Node> out;
    std::vector<std::vector<double>> centres(6);
    for (auto &c : centres) c = unit(uniform(0.0, 3.0));
    for (std::int32_t k = 0; k < count; ++k) {
      if (k > 0 && uniform.bits() % 7 == 0) {
        out.push_back(out[uniform.bits() % out.size()]);
        continue;
      }
      std::vector<double> row(centres[uniform.bits() % centres.size()]);
      for (double &x : row) x += uniform(-0.1, 0.1);
      const int shape = static_cast<int>(uniform.bits() % 5);
      const std::vector<double> u = shape == 0 ? std::vector<double>(s_.M, 0.0)
                                    : shape == 1 ? unit(1.0 + 1e-10)
                                                 : unit(1.0);
      row.insert(row.end(), u.begin(), u.end());
      row.push_back(shape == 2 ? 0.0 : uniform(0.0, 0.3) * s_.D);
      Node node;
      node_init(node, row.data(), 1, 1);
      out.push_back(node);
    }
    return out;
  }

  // A pattern on node n's reach: along its direction (where the ellipsoidal
  // distance equals the Euclidean one) at the limit of the vigilance test,
  // times 1, 1 +- 1e-15, 1 +- 1e-9; or anywhere near the nodes.
  std::vector<double> pattern(const std::vector<Node> &all) {
    const Node &node = all[uniform.bits() % all.size()];
    std::vector<double> x(node.center);
    const int kind = static_cast<int>(uniform.bits() % 6);
    if (kind == 5) {
      for (double &v : x) v += uniform(-2.0, 2.0);
      return x;
    }
    const double reach = node.free_size + node.radius - (s_.vigilance - s_.tolerance) * s_.D;
    const double scale[] = {1.0, 1.0 + 1e-15, 1.0 - 1e-15, 1.0 + 1e-9, 1.0 - 1e-9};
    const std::vector<double> u = node.is_point != 0 ? unit(1.0) : node.direction;
    for (std::int32_t f = 0; f < s_.M; ++f) x[f] += reach * scale[kind] * u[f];
    return x;
  }

 private:
  Setting s_;

 public:
  qirtest::Uniform uniform;
};

// Evaluates every pattern with groups; returns how many node evaluations
// were skipped, checking every skipped node against node_match.
std::uint64_t check_setting(const Setting &s, std::int32_t count, std::uint64_t seed) {
  model_params = ModelParams{s.M, s.D, s.ratio, 0.01, 1.0};
  Geometry geometry(s, seed);
  std::vector<Node> nodes = geometry.nodes(count);
  std::vector<const Node *> views;
  for (const Node &n : nodes) views.push_back(&n);
  const std::vector<std::int32_t> order = NodeGroups::compact_order(views, s.M);
  std::vector<std::int32_t> slot(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) slot[order[k]] = static_cast<std::int32_t>(k);
  const ReachRule rule = make_reach_rule(s.M, s.D, s.ratio, s.vigilance, s.tolerance);
  // Packed with the rule: the matcher also leaves blocks unfinished where
  // their cuts hold.
  PackedNodes packed;
  packed.reset(s.M, rule);
  for (std::int32_t i = 0; i < count; ++i) packed.place(nodes[i], slot[i]);
  NodeGroups groups;
  groups.reset(s.M, rule);
  groups.build(views, packed);
  BlockMatcher pruned;
  BlockMatcher full;
  const MatchParams params{s.ratio, s.D, s.tolerance, s.vigilance};
  std::vector<double> square(static_cast<std::size_t>(groups.count()));
  for (int p = 0; p < 400; ++p) {
    const std::vector<double> x = geometry.pattern(nodes);
    OpTally with, without;
    pruned.evaluate(packed, x.data(), params, with, &groups);
    full.evaluate(packed, x.data(), params, without);
    EXPECT_EQ(with.flops, without.flops);
    EXPECT_EQ(with.comparisons, without.comparisons);
    groups.square_distances(x.data(), square.data());
    for (std::int32_t i = 0; i < count; ++i) {
      const std::int32_t g = packed.slot_of(i) / group_slots;
      const std::int32_t at = packed.slot_of(i);
      EXPECT_EQ(pruned.passes_vt(at), full.passes_vt(at)) << i;
      if (full.passes_vt(at)) {
        EXPECT_EQ(pruned.mfv(at), full.mfv(at)) << i;
      }
      if (!groups.beyond_reach(g, square[g])) continue;
      Node copy = nodes[i];
      node_match(copy, x.data());
      EXPECT_GT(copy.excess, 0.0) << "skipped node " << i << " is not outside";
      EXPECT_FALSE(copy.mfv + s.tolerance >= s.vigilance) << "skipped node " << i << " passes";
    }
  }
  return pruned.skipped();
}

TEST(NodeGroups, SkippedNodesAlwaysFailOnTheBoundary) {
  const Setting settings[] = {
      {16, 4.0, 0.5, 0.75, 0.0},   {16, 4.0, 0.5, 0.75, 1e-7}, {1, 1.0, 1.0, 0.5, 0.0},
      {1, 1.0, 0.3, 0.9, 1e-7},    {100, 8.0, 0.5, 0.8, 0.0},  {5, 2.0, 1.0, 0.0, 0.0},
      {5, 2.0, 0.999999, 0.6, 0.0}, {5, 2.0, 1e-3, 0.6, 1e-7}, {5, 2.0, 3e-6, 0.6, 0.0},
      {3, 0.5, 0.7, 1.0, 0.0}};
  std::uint64_t skipped = 0;
  std::uint64_t seed = 1;
  for (const Setting &s : settings) {
    SCOPED_TRACE("M " + std::to_string(s.M) + " ratio " + std::to_string(s.ratio));
    skipped += check_setting(s, 97, seed++);
  }
  // The settings must skip something, or the checks above check nothing.
  EXPECT_GT(skipped, 1000u);
}

TEST(NodeGroups, NothingIsSkippedWhereNothingCanBeProved) {
  // D = 0, a ratio so small that rounding can swamp the distance, and a
  // non-finite D: the rule is unusable.
  EXPECT_FALSE(make_reach_rule(4, 0.0, 0.5, 0.5, 0.0).usable);
  EXPECT_FALSE(make_reach_rule(4, 1.0, 1e-7, 0.5, 0.0).usable);
  EXPECT_FALSE(make_reach_rule(4, INFINITY, 0.5, 0.5, 0.0).usable);
  EXPECT_TRUE(make_reach_rule(4, 1.0, 1e-3, 0.5, 0.0).usable);
  // A direction that is not of unit length, or a radius that is not
  // finite, has no reach.
  const ReachRule rule = make_reach_rule(2, 1.0, 0.5, 0.5, 0.0);
  model_params = ModelParams{2, 1.0, 0.5, 0.01, 1.0};
  Node node;
  const double long_direction[] = {0.0, 0.0, 0.8, 0.8, 0.1};
  node_init(node, long_direction, 1, 1);
  EXPECT_TRUE(std::isinf(node_reach(rule, node)));
  const double endless[] = {0.0, 0.0, 1.0, 0.0, INFINITY};
  node_init(node, endless, 1, 1);
  EXPECT_TRUE(std::isinf(node_reach(rule, node)));
  const double ordinary[] = {0.0, 0.0, 1.0, 0.0, 0.1};
  node_init(node, ordinary, 1, 1);
  EXPECT_TRUE(std::isfinite(node_reach(rule, node)));
}

}  // namespace
}  // namespace qir
