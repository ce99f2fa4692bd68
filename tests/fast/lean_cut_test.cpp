// A lean evaluation's thresholds on the radicand: each decision they prove
// must be the one the kernels' own operations take at every radicand on
// its side, on the boundaries to the last unit, and a lean evaluation
// decided from them must leave the winner's lanes, counts and operation
// totals exactly as the full evaluation leaves them, on every kernel.
#include "lean_cut.h"
#include "model.h"
#include "node.h"
#include "node_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace qir {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// One lane of the kernels, from the radicand on.
struct Exact {
  double radius, free_size, ratio, D, alpha, vigilance;
  bool point;
  double distance(double r) const { return point ? std::sqrt(r) : std::sqrt(r) / ratio; }
  bool outside(double r) const { return distance(r) - inside_tolerance > radius; }
  double fit(double r) const {
    return outside(r) ? free_size - (distance(r) - radius) : free_size;
  }
  bool passes(double r) const { return fit(r) / D + 0.0 >= vigilance; }
  double cfv(double r) const { return fit(r) / (free_size + alpha); }
};

// Radicands on both sides of t: t itself, a few units in the last place
// either way and a little farther.
std::vector<double> around(double t) {
  std::vector<double> r;
  if (!std::isfinite(t)) return r;
  double up = t, down = t;
  for (int k = 0; k < 4; ++k) {
    r.push_back(up);
    r.push_back(down);
    up = std::nextafter(up, inf);
    down = std::nextafter(down, -inf);
  }
  for (double f : {1.0 + 1e-12, 1.0 - 1e-12, 1.5, 0.5}) r.push_back(t * f);
  return r;
}

// The CFV bound of one lane as the kernels take it (lean_cut.h).
double cfv_threshold(const LeanCuts::Slot &s, double best) {
  const double xr = s.reach - best * s.scale;
  const double above = xr > 0.0 ? xr : 0.0;
  return above * above;
}

void check_slot(const Exact &e, const MatchParams &params) {
  const LeanCuts::Slot s = LeanCuts::slot_cuts(e.radius, e.free_size, e.point, params);
  std::vector<double> radicands{0.0, 1e-300, 1e300, lean_cut::most_radicand};
  for (double t : {s.inside, s.outside, s.pass, s.fail})
    for (double r : around(t)) radicands.push_back(r);
  for (double r : radicands) {
    if (!(r >= 0.0)) continue;
    if (r <= s.inside) {
      EXPECT_FALSE(e.outside(r)) << r;
    }
    if (r >= s.outside) {
      EXPECT_TRUE(e.outside(r)) << r;
      if (r <= s.pass) {
        EXPECT_TRUE(e.passes(r)) << r;
      }
      if (r >= s.fail) {
        EXPECT_FALSE(e.passes(r)) << r;
      }
    }
  }
  // The tightest bests: the CFVs this node reaches outside, so that a
  // radicand a unit too low would let the node tie or win.
  if (!(s.outside <= s.pass)) return;
  std::vector<double> bests{0.0, 1.0, 1e-300};
  for (double r : around(s.outside)) bests.push_back(e.cfv(r));
  for (double r : around(s.pass)) bests.push_back(e.cfv(r));
  for (double best : bests) {
    if (!(best >= 0.0 && best <= lean_cut::best_limit)) continue;
    const double T = cfv_threshold(s, best);
    for (double r : around(T)) {
      if (r < T || r < s.outside || r > s.pass) continue;
      EXPECT_LE(e.cfv(r), best) << "r " << r << " best " << best << " radius " << e.radius;
    }
  }
}

TEST(LeanCuts, EachThresholdHoldsOnItsSideToTheLastUnit) {
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::int64_t proved_beyond = 0;
  for (double ratio : {1.0, 0.75, 1e-3, 0x1p-100})
    for (double D : {4.0, 1.0, 0x1p-90})
      for (double vigilance : {0.0, 0.5, 0.9})
        for (double alpha : {0.1, 0.0, 1e-12}) {
          const MatchParams params{ratio, D, 0.0, vigilance, false, false, alpha};
          for (int k = 0; k < 40; ++k) {
            // Ordinary, empty, whole (no free size) and far too large nodes.
            const int shape = k % 8;
            const double radius = shape == 0   ? 0.0
                                  : shape == 1 ? D / 2
                                  : shape == 2 ? 3 * D
                                               : unit(rng) * D / 2;
            const Exact e{radius, D - 2 * radius, ratio, D, alpha, vigilance, k % 3 == 0};
            check_slot(e, params);
            const LeanCuts::Slot s = LeanCuts::slot_cuts(e.radius, e.free_size, e.point, params);
            proved_beyond += s.outside < inf && s.outside <= s.inside * (1 + 0x1p-30);
          }
        }
  // The thresholds must prove something: inside and outside meet within a
  // hair for nearly every node.
  EXPECT_GT(proved_beyond, 1000);
}

TEST(LeanCuts, SlotsBeyondTheBoundsProveNothingOfTheirChoiceValue) {
  const MatchParams params{0.5, 4.0, 0.0, 0.0, false, false, 0.1};
  for (double free_size : {nan, inf, -1.0, 0x1p201})
    EXPECT_EQ(LeanCuts::slot_cuts(1.0, free_size, false, params).reach, inf) << free_size;
  // Padding: infinite radius, NaN free size: inside everywhere, never passing.
  const LeanCuts::Slot pad = LeanCuts::slot_cuts(inf, nan, true, params);
  EXPECT_EQ(pad.inside, lean_cut::most_radicand);
  EXPECT_EQ(pad.outside, inf);
  EXPECT_FALSE(pad.passes);
  MatchParams unusable = params;
  unusable.D = 0.0;
  EXPECT_FALSE(LeanCuts::usable(unusable));
  unusable = params;
  unusable.ratio = 0x1p-101;
  EXPECT_FALSE(LeanCuts::usable(unusable));
  EXPECT_TRUE(LeanCuts::usable(params));
}

std::uint64_t bits_of(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Nodes of a few sizes around a handful of centres, and patterns on their
// surfaces, on the vigilance limit, at ties (copies of nodes) and beyond.
struct Geometry {
  std::vector<Node> nodes;
  std::vector<std::vector<double>> patterns;
};

Geometry geometry(std::int32_t M, double D, double vigilance, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Geometry g;
  const std::int32_t N = 40 + static_cast<std::int32_t>(rng() % 90);
  for (std::int32_t k = 0; k < N; ++k) {
    if (k > 0 && rng() % 5 == 0) {
      g.nodes.push_back(g.nodes[rng() % k]);  // equal choice values
      continue;
    }
    std::vector<double> row(2 * M + 1, 0.0);
    for (std::int32_t f = 0; f < M; ++f) row[f] = unit(rng);
    if (rng() % 2 == 0) {
      double s = 0;
      for (std::int32_t f = 0; f < M; ++f) s += (row[M + f] = unit(rng) - 0.5) * row[M + f];
      for (std::int32_t f = 0; f < M; ++f) row[M + f] /= std::sqrt(s);
    }
    const int size = static_cast<int>(rng() % 6);
    row[2 * M] = size == 0 ? 0.0 : size == 1 ? D / 2 : unit(rng) * 0.3 * D;
    Node node;
    node_init(node, row.data(), 1, 1);
    g.nodes.push_back(node);
  }
  for (int j = 0; j < 120; ++j) {
    const Node &n = g.nodes[rng() % g.nodes.size()];
    std::vector<double> x = n.center;
    const double r = n.radius;
    const double at = (rng() % 4 == 0)   ? r + inside_tolerance
                      : (rng() % 3 == 0) ? (D - r) - vigilance * D
                                         : unit(rng) * 2 * D;
    const double nudge = std::vector<double>{1.0, 1.0 + 1e-16, 1.0 - 1e-16, 1.0 + 1e-9}[rng() % 4];
    for (std::int32_t f = 0; f < M; ++f)
      x[f] += at * nudge * (n.is_point ? (f == 0) : n.direction[f]);
    g.patterns.push_back(x);
  }
  return g;
}

TEST(LeanCuts, DecidedRegistersLeaveTheWinnerLanesAsTheFullEvaluation) {
  std::int64_t decided = 0, exact = 0;
  std::uint64_t seed = 5;
  for (MatchKernel kernel : all_match_kernels) {
    if (!match_kernel_supported(kernel)) continue;
    SCOPED_TRACE(match_kernel_name(kernel));
    for (std::int32_t M : {1, 16, 100})
      for (double ratio : {1.0, 0.75, 1e-3})
        for (double vigilance : {0.0, 0.6})
          for (double alpha : {0.1, 0.0}) {
            const double D = std::sqrt(static_cast<double>(M));
            model_params = ModelParams{M, D, ratio, alpha, 1.0};
            const Geometry g = geometry(M, D, vigilance, seed++);
            PackedNodes packed(M);
            for (const Node &n : g.nodes) packed.push_back(n);
            MatchParams params{ratio, D, 0.0, vigilance};
            params.alpha = alpha;
            LeanCuts cuts;
            cuts.build(packed, params);
            ASSERT_TRUE(cuts.holds(packed, params));
            const LeanCutView view = cuts.view();
            BlockMatcher with(kernel), without(kernel);
            for (const auto &x : g.patterns) {
              WinnerLanes a, b;
              a.reset(false, 0.0);
              b.reset(false, 0.0);
              OpTally ta, tb;
              with.evaluate_lean(packed, x.data(), params, ta, a, &view);
              without.evaluate_lean(packed, x.data(), params, tb, b);
              for (int k = 0; k < 8; ++k) {
                ASSERT_EQ(bits_of(a.best[k]), bits_of(b.best[k])) << "lane " << k;
                ASSERT_EQ(a.slot[k], b.slot[k]) << "lane " << k;
              }
              ASSERT_EQ(a.passing, b.passing);
              ASSERT_EQ(a.candidates, b.candidates);
              ASSERT_EQ(a.unordered, b.unordered);
              ASSERT_EQ(ta.flops, tb.flops);
              ASSERT_EQ(ta.comparisons, tb.comparisons);
            }
            decided += with.lean_cut_registers();
            exact += with.lean_exact_registers();
            EXPECT_EQ(without.lean_cut_registers(), 0);
          }
  }
  // Both ways must be taken often, or one goes untested.
  EXPECT_GT(decided, 10000);
  EXPECT_GT(exact, 1000);
}

}  // namespace
}  // namespace qir
