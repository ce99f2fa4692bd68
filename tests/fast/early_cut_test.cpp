// The early cut: whenever the sums over a node's first features prove it
// failing, node_match must find it outside and failing the vigilance test.
// Checked where the bound is tightest: the rest of the difference lies along
// the rest of the direction, at the length that makes the radicand least,
// and the whole pattern sits at the vigilance limit or a hair either side.
// Also: blocks cut short in the kernels leave every other result as it was.
#include "early_cut.h"
#include "model.h"
#include "node.h"
#include "node_block.h"
#include "node_groups.h"
#include "../support/reach_setting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace qir {
namespace {

using Case = qirtest::ReachSetting;

class Tight {
 public:
  Tight(const Case &c, std::uint64_t seed) : c_(c), uniform(seed) {}

  Node node() {
    std::vector<double> row(static_cast<std::size_t>(2 * c_.M + 1));
    double q = 0.0;
    for (std::int32_t f = 0; f < c_.M; ++f) {
      row[f] = uniform(-1.0, 1.0);
      row[c_.M + f] = uniform(-1.0, 1.0);
      q += row[c_.M + f] * row[c_.M + f];
    }
    const bool ball = uniform.bits() % 5 == 0;
    for (std::int32_t f = 0; f < c_.M; ++f) row[c_.M + f] = ball ? 0.0 : row[c_.M + f] / std::sqrt(q);
    row[2 * c_.M] = ball ? 0.0 : uniform(0.0, 0.4) * c_.D;
    Node n;
    node_init(n, row.data(), 1, 1);
    return n;
  }

  // A pattern whose difference from the centre has a random head over the
  // first h features and a tail along the direction's tail at the least
  // radicand's length, scaled so that the exact distance sits at the
  // vigilance limit times a factor near 1.
  std::vector<double> pattern(const Node &n, std::int32_t h) {
    const double limit = n.free_size + n.radius - (c_.vigilance - c_.tolerance) * c_.D;
    std::vector<double> v(static_cast<std::size_t>(c_.M));
    for (std::int32_t f = 0; f < h; ++f) v[f] = uniform(-1.0, 1.0);
    double head = 0.0, tail = 0.0;
    for (std::int32_t f = 0; f < h; ++f) head += n.direction[f] * v[f];
    for (std::int32_t f = h; f < c_.M; ++f) tail += n.direction[f] * n.direction[f];
    const double k = 1.0 - c_.ratio * c_.ratio;
    if (tail > 0.0 && k * tail < 1.0) {
      const double s = k * std::sqrt(tail) * std::fabs(head) / (1.0 - k * tail);
      for (std::int32_t f = h; f < c_.M; ++f)
        v[f] = std::copysign(s, head) * n.direction[f] / std::sqrt(tail);
    }
    const double scale[] = {1.0, 1.0 + 1e-15, 1.0 - 1e-15, 1.0 + 1e-9, 1.0 - 1e-9, 0.5, 2.0};
    const double wanted = std::max(limit, n.radius) * scale[uniform.bits() % 7];
    const double now = distance_of(n, v);
    std::vector<double> x(n.center);
    for (std::int32_t f = 0; f < c_.M; ++f) x[f] -= now > 0.0 ? v[f] * wanted / now : 0.0;
    return x;
  }

 private:
  double distance_of(const Node &n, const std::vector<double> &v) const {
    double sq = 0.0, proj = 0.0;
    for (std::int32_t f = 0; f < c_.M; ++f) {
      sq += v[f] * v[f];
      proj += n.direction[f] * v[f];
    }
    const double r = n.is_point != 0 ? 1.0 : c_.ratio;
    return std::sqrt(std::max(0.0, sq - (1.0 - r * r) * proj * proj)) / r;
  }

  Case c_;

 public:
  qirtest::Uniform uniform;
};

// The kernels' test, in their order of operations.
bool cut_holds(const EarlyCut &cut, const Node &n, const double *x, std::int32_t h) {
  double sq = 0.0, proj = 0.0;
  for (std::int32_t f = 0; f < h; ++f) {
    const double d = n.center[f] - x[f];
    sq += d * d;
    proj += n.direction[f] * d;
  }
  return cut.scale * sq - cut.weight * (proj * proj) > cut.limit;
}

const Case cases[] = {{16, 4.0, 0.5, 0.5, 1e-7}, {16, 4.0, 0.5, 0.75, 0.0}, {4, 1.0, 1.0, 0.5, 0.0},
                      {5, 2.0, 0.999999, 0.6, 1e-7}, {8, 2.0, 1e-3, 0.6, 0.0},
                      {100, 8.0, 0.3, 0.8, 0.0},      {6, 0.5, 0.7, 0.0, 0.0}};

TEST(EarlyCut, NodesCutShortAlwaysFailAtTheTightestPatterns) {
  std::int64_t cut = 0, checked = 0;
  std::uint64_t seed = 11;
  for (const Case &c : cases) {
    SCOPED_TRACE("M " + std::to_string(c.M) + " ratio " + std::to_string(c.ratio));
    model_params = ModelParams{c.M, c.D, c.ratio, 0.01, 1.0};
    const ReachRule rule = make_reach_rule(c.M, c.D, c.ratio, c.vigilance, c.tolerance);
    const CutPoints points = cut_points(c.M);
    Tight tight(c, seed++);
    for (int k = 0; k < 300; ++k) {
      Node n = tight.node();
      for (std::int32_t p = 0; p < points.count; ++p) {
        const std::int32_t h = points.at[p];
        const EarlyCut at = early_cut(rule, n, h);
        for (int j = 0; j < 20; ++j) {
          const std::vector<double> x = tight.pattern(n, h);
          ++checked;
          if (!cut_holds(at, n, x.data(), h)) continue;
          ++cut;
          node_match(n, x.data());
          EXPECT_GT(n.excess, 0.0) << "node cut short is not outside";
          EXPECT_FALSE(n.mfv + c.tolerance >= c.vigilance) << "node cut short passes";
        }
      }
    }
  }
  // Enough cuts, or the checks above check nothing.
  EXPECT_GT(cut, checked / 10);
}

TEST(EarlyCut, NeverWhereNothingCanBeProved) {
  const ReachRule rule = make_reach_rule(16, 4.0, 0.5, 0.5, 0.0);
  model_params = ModelParams{16, 4.0, 0.5, 0.01, 1.0};
  std::vector<double> row(33, 0.0);
  row[16] = 1.0;  // unit direction along the first feature
  row[32] = 0.5;
  Node n;
  node_init(n, row.data(), 1, 1);
  EXPECT_TRUE(std::isfinite(early_cut(rule, n, 8).limit));
  Node far = n;
  far.center[3] = 1e100;  // sums could overflow
  EXPECT_TRUE(std::isinf(early_cut(rule, far, 8).limit));
  Node tilted = n;
  tilted.direction[1] = 1e-3;  // not of unit length
  EXPECT_TRUE(std::isinf(early_cut(rule, tilted, 8).limit));
  EXPECT_TRUE(std::isinf(early_cut(make_reach_rule(16, 0.0, 0.5, 0.5, 0.0), n, 8).limit));
  std::vector<double> x(16, 0.0);
  EXPECT_TRUE(cut_safe_pattern(x.data(), 16));
  x[15] = -1e100;
  EXPECT_FALSE(cut_safe_pattern(x.data(), 16));
  x[15] = NAN;
  EXPECT_FALSE(cut_safe_pattern(x.data(), 16));
}

// Packed with and without cuts, in node order: every node that passes has
// the same results, and the operation counts agree, for each kernel.
TEST(EarlyCut, MatcherResultsAgreeWithAndWithoutCuts) {
  const Case c{16, 4.0, 0.5, 0.5, 1e-7};
  model_params = ModelParams{c.M, c.D, c.ratio, 0.01, 1.0};
  const ReachRule rule = make_reach_rule(c.M, c.D, c.ratio, c.vigilance, c.tolerance);
  Tight tight(c, 99);
  std::vector<Node> nodes;
  for (int k = 0; k < 61; ++k) nodes.push_back(tight.node());
  PackedNodes with_cuts, plain(c.M);
  with_cuts.reset(c.M, rule);
  for (const Node &n : nodes) {
    with_cuts.push_back(n);
    plain.push_back(n);
  }
  const MatchParams params{c.ratio, c.D, c.tolerance, c.vigilance};
  NodeGroups groups;  // no groups built: it only allows the cuts
  groups.reset(c.M, rule);
  for (MatchKernel kernel : all_match_kernels) {
    if (!match_kernel_supported(kernel)) continue;
    SCOPED_TRACE(match_kernel_name(kernel));
    BlockMatcher cutting(kernel), full(kernel);
    for (int j = 0; j < 200; ++j) {
      const std::vector<double> x = tight.pattern(nodes[j % nodes.size()], 8);
      OpTally a, b;
      cutting.evaluate(with_cuts, x.data(), params, a, &groups);
      full.evaluate(plain, x.data(), params, b);
      EXPECT_EQ(a.flops, b.flops);
      for (std::int32_t i = 0; i < static_cast<std::int32_t>(nodes.size()); ++i) {
        ASSERT_EQ(cutting.passes_vt(i), full.passes_vt(i)) << i;
        if (!full.passes_vt(i)) continue;
        EXPECT_EQ(cutting.distance(i), full.distance(i));
        EXPECT_EQ(cutting.fit(i), full.fit(i));
      }
    }
    EXPECT_GT(cutting.skipped(), 0u);
  }
}

}  // namespace
}  // namespace qir
