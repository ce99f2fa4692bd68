// The packed evaluator against node_match, node by node: every kernel must
// give the same four values bit for bit, the same vigilance decisions and
// the same operation totals, for any node count, feature count and node
// shape, including the ones that produce NaN.
#include "model.h"
#include "node.h"
#include "byte_lanes.h"
#include "node_block.h"
#include "portability.h"

#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace qir {
namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

std::vector<MatchKernel> supported_kernels() {
  std::vector<MatchKernel> kernels;
  for (MatchKernel k : all_match_kernels)
    if (match_kernel_supported(k)) kernels.push_back(k);
  return kernels;
}

// Nodes of every shape the cores meet, and some they should never meet.
class NodeFactory {
 public:
  NodeFactory(std::int32_t M, std::uint64_t seed) : M_(M), rng_(seed) {}

  Node make() {
    std::vector<double> row(2 * M_ + 1);
    for (std::int32_t f = 0; f < M_; ++f) row[f] = uniform(-1.0, 2.0);
    const int shape = static_cast<int>(rng_() % 6);
    if (shape >= 2) set_direction(row, shape == 5 ? uniform(0.5, 2.0) : 1.0);
    // Mostly ordinary radii; sometimes 0, negative or beyond D/2.
    const int size = static_cast<int>(rng_() % 8);
    row[2 * M_] = size == 0 ? 0.0 : size == 1 ? -0.25 : size == 2 ? 5.0 : uniform(0.0, 1.2);
    Node node;
    node_init(node, row.data(), 1, 1);
    return node;
  }

  std::vector<double> pattern_near(const Node &node) {
    std::vector<double> p(M_);
    const double spread = (rng_() % 3 == 0) ? 0.05 : 1.0;
    for (std::int32_t f = 0; f < M_; ++f) p[f] = node.center[f] + uniform(-spread, spread);
    return p;
  }

  std::vector<double> pattern() {
    std::vector<double> p(M_);
    for (double &x : p) x = uniform(-1.0, 2.0);
    return p;
  }

  double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  std::uint64_t next() { return rng_(); }

 private:
  // A direction of the given length (1: unit, else a NaN source).
  void set_direction(std::vector<double> &row, double length) {
    double s = 0.0;
    for (std::int32_t f = 0; f < M_; ++f) {
      row[M_ + f] = uniform(-1.0, 1.0);
      s += row[M_ + f] * row[M_ + f];
    }
    if (M_ > 0 && s == 0.0) row[M_] = s = 1.0;
    for (std::int32_t f = 0; f < M_; ++f) row[M_ + f] *= length / std::sqrt(s);
  }

  std::int32_t M_;
  std::mt19937_64 rng_;
};

struct Totals {
  std::uint32_t flops = 0;
  std::uint32_t comparisons = 0;
  std::int64_t host = 0;
};

// Runs `body` as a host call and returns what it added to the counters.
template <class Body>
Totals counted(Body body) {
  const OpCounters before = op_counters;
  const qirhost::CallResult result = qirhost::run_call(0, [&](mxArray **) { body(); });
  return Totals{op_counters.flop_count - before.flop_count,
                op_counters.comparison_count - before.comparison_count, result.flops};
}

void expect_same_bits(double expected, double actual, const char *what, std::int32_t i) {
  EXPECT_EQ(bits_of(expected), bits_of(actual))
      << what << " of node " << i << ": " << expected << " vs " << actual;
}

// One pattern against every node: node_match one node at a time, then the
// packed kernel; values, vigilance bits and counts must agree.
void compare_pattern(std::vector<Node> &nodes, const PackedNodes &packed, BlockMatcher &matcher,
                     const std::vector<double> &pattern, const MatchParams &params) {
  const Totals expected = counted([&] {
    for (Node &node : nodes) node_match(node, pattern.data());
  });
  const Totals actual = counted([&] {
    OpTally tally;
    matcher.evaluate(packed, pattern.data(), params, tally);
    flush_ops(tally);
  });
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(nodes.size()); ++i) {
    expect_same_bits(nodes[i].distance, matcher.distance(i), "distance", i);
    expect_same_bits(nodes[i].excess, matcher.excess(i), "excess", i);
    expect_same_bits(nodes[i].fit, matcher.fit(i), "fit", i);
    expect_same_bits(nodes[i].mfv, matcher.mfv(i), "mfv", i);
    const bool passes = nodes[i].mfv + params.vt_tolerance >= params.vt_threshold;
    EXPECT_EQ(passes, matcher.passes_vt(i)) << "vigilance of node " << i;
  }
  // Padding slots of the last block never pass.
  const std::int32_t padded = (packed.size() + block_lanes - 1) / block_lanes * block_lanes;
  for (std::int32_t i = packed.size(); i < padded; ++i) EXPECT_FALSE(matcher.passes_vt(i)) << i;
  EXPECT_EQ(expected.flops, actual.flops);
  EXPECT_EQ(expected.comparisons, actual.comparisons);
  EXPECT_EQ(expected.host, actual.host);
}

struct Scenario {
  double D;
  double ratio;
  double vt_tolerance;
  double vt_threshold;
};

void run_scenario(MatchKernel kernel, std::int32_t M, std::int32_t N, const Scenario &s,
                  std::uint64_t seed) {
  SCOPED_TRACE(std::string(match_kernel_name(kernel)) + " M=" + std::to_string(M) +
               " N=" + std::to_string(N) + " D=" + std::to_string(s.D) +
               " ratio=" + std::to_string(s.ratio));
  model_params = ModelParams{M, s.D, s.ratio, 0.01, 1.0};
  NodeFactory factory(M, seed);
  std::vector<Node> nodes;
  PackedNodes packed(M);
  for (std::int32_t i = 0; i < N; ++i) {
    nodes.push_back(factory.make());
    packed.push_back(nodes.back());
  }
  BlockMatcher matcher(kernel);
  ASSERT_EQ(matcher.kernel(), kernel);
  const MatchParams params{s.ratio, s.D, s.vt_tolerance, s.vt_threshold};
  for (int p = 0; p < 6; ++p) {
    std::vector<double> pattern =
        (N > 0 && p % 2 == 0) ? factory.pattern_near(nodes[factory.next() % N]) : factory.pattern();
    compare_pattern(nodes, packed, matcher, pattern, params);
  }
  if (N > 0) compare_pattern(nodes, packed, matcher, nodes[N - 1].center, params);
}

TEST(PackedMatch, EveryKernelMatchesNodeMatchBitForBit) {
  const std::vector<Scenario> scenarios{
      {4.0, 0.5, 0.0, 0.5},    // classification-like
      {4.0, 0.5, 1e-7, 0.5},   // training-like vigilance test
      {2.0, 1.0, 0.0, 0.0},    // Euclidean whatever the direction
      {1.0, 1e-3, 0.0, 0.25},  // tiny ratio: roots of negative values
      {0.0, 0.7, 0.0, 0.0},    // D = 0: infinite and NaN MFVs
  };
  std::uint64_t seed = 1;
  for (MatchKernel kernel : supported_kernels())
    for (std::int32_t M : {0, 1, 2, 3, 4, 5, 8, 16, 17})
      for (std::int32_t N : {0, 1, 2, 3, 4, 5, 7, 8, 9, 13, 66})
        for (const Scenario &s : scenarios) run_scenario(kernel, M, N, s, seed++);
}

TEST(PackedMatch, ToleranceBoundaryAndNonFiniteInputs) {
  for (MatchKernel kernel : supported_kernels()) {
    SCOPED_TRACE(match_kernel_name(kernel));
    model_params = ModelParams{2, 4.0, 0.5, 0.01, 1.0};
    // Balls of radius 1 at the origin: patterns just inside and just beyond
    // the 1e-8 tolerance, and on the boundary exactly.
    std::vector<Node> nodes(5);
    PackedNodes packed(2);
    for (Node &node : nodes) {
      node_init(node, std::vector<double>{0, 0, 0, 0, 1.0}.data(), 1, 1);
      packed.push_back(node);
    }
    BlockMatcher matcher(kernel);
    const MatchParams params{0.5, 4.0, 0.0, 0.5};
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const std::vector<double> &p :
         {std::vector<double>{1.0 + 0.5e-8, 0}, {1.0 + 2e-8, 0}, {1.0, 0}, {0.6, 0.8},
          {inf, 0}, {-inf, inf}, {nan, 0}, {1e300, 1e300}})
      compare_pattern(nodes, packed, matcher, p, params);
  }
}

TEST(PackedNodes, RefreshFollowsAChangedNodeAndItsShape) {
  model_params = ModelParams{3, 4.0, 0.5, 0.01, 1.0};
  NodeFactory factory(3, 99);
  std::vector<Node> nodes;
  PackedNodes packed(3);
  for (int i = 0; i < 6; ++i) {
    Node node;
    const std::vector<double> p = factory.pattern();
    node_init(node, p.data(), 1, 0);  // point nodes, as training makes them
    nodes.push_back(node);
    packed.push_back(node);
  }
  EXPECT_EQ(packed.point_count(), 6);
  // Slot 4 becomes an ellipsoid and moves, as a first update would do.
  nodes[4].direction = {0.6, 0.0, 0.8};
  nodes[4].is_point = 0;
  nodes[4].center[1] += 0.25;
  nodes[4].radius = 0.3;
  nodes[4].free_size = 4.0 - 0.6;
  packed.refresh(4, nodes[4]);
  EXPECT_EQ(packed.point_count(), 5);
  for (MatchKernel kernel : supported_kernels()) {
    BlockMatcher matcher(kernel);
    for (int p = 0; p < 5; ++p)
      compare_pattern(nodes, packed, matcher, factory.pattern_near(nodes[4]),
                      MatchParams{0.5, 4.0, 1e-7, 0.5});
    Node copy = nodes[2];
    matcher.store_into(2, copy);
    EXPECT_EQ(bits_of(copy.mfv), bits_of(nodes[2].mfv));
    EXPECT_EQ(bits_of(copy.excess), bits_of(nodes[2].excess));
  }
  packed.reset(1);
  EXPECT_EQ(packed.size(), 0);
  EXPECT_EQ(packed.point_count(), 0);
}

// One matcher kept across packings, as a module keeps it across calls and
// a training run while it adds nodes: what it evaluates must always be the
// packing it is handed now (its arrays may have moved, or be another's).
TEST(PackedNodes, OneMatcherFollowsEveryPackingItIsHanded) {
  model_params = ModelParams{5, 4.0, 0.5, 0.01, 1.0};
  NodeFactory factory(5, 2024);
  const MatchParams params{0.5, 4.0, 1e-7, 0.3};
  for (MatchKernel kernel : supported_kernels()) {
    SCOPED_TRACE(match_kernel_name(kernel));
    BlockMatcher matcher(kernel);
    std::vector<Node> a_nodes, b_nodes;
    PackedNodes a(5), b(5);
    for (int i = 0; i < 3; ++i) {
      a_nodes.push_back(factory.make());
      a.push_back(a_nodes.back());
    }
    for (int i = 0; i < 9; ++i) {
      b_nodes.push_back(factory.make());
      b.push_back(b_nodes.back());
    }
    compare_pattern(a_nodes, a, matcher, factory.pattern(), params);
    compare_pattern(b_nodes, b, matcher, factory.pattern(), params);
    // Grown one node at a time past many reallocations of its arrays.
    for (int i = 0; i < 40; ++i) {
      a_nodes.push_back(factory.make());
      a.push_back(a_nodes.back());
      compare_pattern(a_nodes, a, matcher, factory.pattern_near(a_nodes.back()), params);
    }
    // A node changed in place, then a copy and an assignment over the other.
    a_nodes[7] = factory.make();
    a.refresh(7, a_nodes[7]);
    compare_pattern(a_nodes, a, matcher, factory.pattern_near(a_nodes[7]), params);
    const PackedNodes copy = a;
    compare_pattern(a_nodes, copy, matcher, factory.pattern(), params);
    b = a;
    compare_pattern(a_nodes, b, matcher, factory.pattern(), params);
    // Emptied and refilled with fewer features.
    model_params = ModelParams{2, 4.0, 0.5, 0.01, 1.0};
    NodeFactory narrow(2, 7);
    std::vector<Node> c_nodes;
    a.reset(2);
    for (int i = 0; i < 6; ++i) {
      c_nodes.push_back(narrow.make());
      a.push_back(c_nodes.back());
    }
    compare_pattern(c_nodes, a, matcher, narrow.pattern(), params);
    model_params = ModelParams{5, 4.0, 0.5, 0.01, 1.0};
  }
}

// A ball (a point of radius 0.5) or, with `ellipsoid`, an ellipsoid of the
// same radius along the first feature, centred at 0.5 in every feature:
// a pattern there lies inside both, at the same choice value.
Node centred_node(std::int32_t M, bool ellipsoid) {
  std::vector<double> row(2 * M + 1, 0.0);
  for (std::int32_t f = 0; f < M; ++f) row[f] = 0.5;
  if (ellipsoid) row[M] = 1.0;
  row[2 * M] = 0.5;
  Node node;
  node_init(node, row.data(), 1, 1);
  return node;
}

// Several patterns per pass over the nodes against one at a time: the
// winner (greatest choice value, lowest slot), the counts, the NaN flag and
// the operations, for batches of 1 to 16 (up to 4 share the nodes' loads;
// from 8 on, one or two registers of patterns across the lanes, the rest of
// the last register filled and dropped) over node counts that leave whole
// groups of pairs, a lone pair and a lone block, and feature counts on both
// sides of what the patterns across the lanes take. Copies of nodes tie;
// nodes of radius D/2 with alpha 0 give NaN choice values; a NaN feature
// gives NaN distances, huge and infinite features infinite ones (0 * inf in
// a point's projection must not leak into its radicand); a pattern at a
// node's centre lies inside it. Ellipsoids are visited before points in
// the wide batches, so a point (slot 2) tying an ellipsoid (slot 20) must
// still win.
TEST(LeanBatch, SeveralPatternsPerPassMatchOneAtATime) {
  bool saw_unordered = false, saw_tie = false, saw_shapes_tie = false;
  std::uint64_t seed = 500;
  constexpr int patterns_made = 21;
  for (MatchKernel kernel : supported_kernels())
    for (std::int32_t M : {1, 5, 17, 64, 65, 100})
      for (std::int32_t N : {33, 45, 70, 130}) {
        if (M >= 64 && N > 45) continue;  // the width is what matters there
        SCOPED_TRACE(std::string(match_kernel_name(kernel)) + " M=" + std::to_string(M) +
                     " N=" + std::to_string(N));
        model_params = ModelParams{M, 4.0, 0.5, 0.01, 1.0};
        NodeFactory factory(M, seed++);
        std::vector<Node> nodes;
        PackedNodes packed(M);
        for (std::int32_t i = 0; i < N; ++i) {
          nodes.push_back(i % 9 == 4 ? nodes[i - 3] : factory.make());  // ties
          if (i % 11 == 7) nodes.back().radius = 2.0, nodes.back().free_size = 0.0;
          if (i == 2 || i == 20) nodes.back() = centred_node(M, i == 20 && M > 1);
          packed.push_back(nodes.back());
        }
        std::vector<std::vector<double>> patterns;
        for (int j = 0; j < patterns_made; ++j)
          patterns.push_back(j % 2 == 0 ? factory.pattern_near(nodes[factory.next() % N])
                                        : factory.pattern());
        patterns[5][0] = std::numeric_limits<double>::quiet_NaN();
        patterns[6] = nodes[7].center;  // inside the node of no free size
        patterns[9] = nodes[4].center;  // inside a node and its copy
        patterns[12][M - 1] = 1e300;     // a sum that overflows
        patterns[15][0] = -std::numeric_limits<double>::infinity();
        patterns[18] = std::vector<double>(static_cast<std::size_t>(M), 0.5);
        BlockMatcher one(kernel), batch(kernel);
        for (double vigilance : {0.0, 0.5})
          for (double alpha : {0.01, 0.0})
            for (bool ct : {false, true}) {
              MatchParams params{0.5, 4.0, 0.0, vigilance};
              params.alpha = alpha;
              const double Tu = ct ? 0.3 : 0.0;
              for (std::int32_t count = 1; count <= lean_batch_patterns; ++count)
                for (std::int32_t first = 0; first + count <= patterns_made; first += count) {
                  const double *x[lean_batch_patterns];
                  WinnerLanes got[lean_batch_patterns];
                  OpTally got_ops[lean_batch_patterns];
                  for (std::int32_t q = 0; q < count; ++q) {
                    x[q] = patterns[first + q].data();
                    got[q].reset(ct, Tu);
                  }
                  batch.evaluate_lean_batch(packed, x, count, params, got_ops, got);
                  for (std::int32_t q = 0; q < count; ++q) {
                    SCOPED_TRACE("pattern " + std::to_string(first + q) + " of a batch of " +
                                 std::to_string(count));
                    WinnerLanes want;
                    want.reset(ct, Tu);
                    OpTally want_ops;
                    one.evaluate_lean(packed, x[q], params, want_ops, want);
                    EXPECT_EQ(want.unordered, got[q].unordered);
                    if (!want.unordered) {
                      EXPECT_EQ(want.winner(), got[q].winner());
                    }
                    EXPECT_EQ(want.passing, got[q].passing);
                    EXPECT_EQ(want.candidates, got[q].candidates);
                    EXPECT_EQ(want_ops.flops, got_ops[q].flops);
                    EXPECT_EQ(want_ops.comparisons, got_ops[q].comparisons);
                    saw_unordered |= want.unordered;
                    // The winner's copy (slot 4 holds a copy of slot 1)
                    // ties it: the lower slot must win.
                    saw_tie |= !want.unordered && want.winner() == 1 && count >= 8;
                    saw_shapes_tie |= first + q == 18 && want.winner() == 2 && count >= 8;
                  }
                  if (HasFailure()) return;
                }
            }
      }
  EXPECT_TRUE(saw_unordered);  // the NaN choice values were reached
  EXPECT_TRUE(saw_tie);        // and a tie between copies in a wide batch
  EXPECT_TRUE(saw_shapes_tie);  // and between a point and an ellipsoid
}

// One matcher kept across changes of its nodes, as a module keeps it from
// call to call: a point that becomes an ellipsoid in place (the same
// number of nodes), a node added, the nodes emptied and filled anew. The
// wide batches must follow each change as one pattern at a time does.
TEST(LeanBatch, KeptMatcherFollowsNodesThatChangeShape) {
  for (MatchKernel kernel : supported_kernels()) {
    SCOPED_TRACE(match_kernel_name(kernel));
    const std::int32_t M = 6;
    model_params = ModelParams{M, 4.0, 0.5, 0.01, 1.0};
    NodeFactory factory(M, 77);
    std::vector<Node> nodes;
    PackedNodes packed(M);
    for (std::int32_t i = 0; i < 40; ++i) {
      nodes.push_back(i % 2 == 0 ? centred_node(M, false) : factory.make());
      packed.push_back(nodes.back());
    }
    std::vector<std::vector<double>> patterns(16, std::vector<double>(M, 0.5));
    for (int j = 1; j < 16; ++j) patterns[j] = factory.pattern_near(nodes[j]);
    const double *x[16];
    for (int j = 0; j < 16; ++j) x[j] = patterns[j].data();
    BlockMatcher kept(kernel);
    const MatchParams params{0.5, 4.0, 0.0, 0.0};
    const auto compare = [&](const char *step) {
      SCOPED_TRACE(step);
      WinnerLanes got[16];
      OpTally got_ops[16];
      for (WinnerLanes &w : got) w.reset(false, 0.0);
      kept.evaluate_lean_batch(packed, x, 16, params, got_ops, got);
      BlockMatcher fresh(kernel);
      for (int q = 0; q < 16; ++q) {
        WinnerLanes want;
        want.reset(false, 0.0);
        OpTally want_ops;
        fresh.evaluate_lean(packed, x[q], params, want_ops, want);
        EXPECT_EQ(want.winner(), got[q].winner()) << "pattern " << q;
        EXPECT_EQ(want.passing, got[q].passing) << "pattern " << q;
        EXPECT_EQ(want_ops.flops, got_ops[q].flops) << "pattern " << q;
      }
    };
    compare("as made");
    // The ball at slot 0, which pattern 0 lies at the centre of, becomes an
    // ellipsoid of the same radius: it still ties the ball at slot 2.
    nodes[0] = centred_node(M, true);
    packed.refresh(0, nodes[0]);
    compare("a point made an ellipsoid");
    nodes.push_back(centred_node(M, false));
    packed.push_back(nodes.back());
    compare("a node added");
    packed.reset(M);
    for (std::int32_t i = 0; i < 33; ++i) packed.push_back(factory.make());
    compare("emptied and filled anew");
    if (HasFailure()) return;
  }
  model_params = ModelParams{5, 4.0, 0.5, 0.01, 1.0};
}

TEST(OpBatching, LargeTalliesReachCountersAndHostUnchanged) {
  // 5e9 flops and 3e9 comparisons: more than one int call can carry.
  OpTally tally{5000000000ull, 3000000000ull};
  const OpCounters before = op_counters;
  const qirhost::CallResult result = qirhost::run_call(0, [&](mxArray **) { flush_ops(tally); });
  EXPECT_EQ(op_counters.flop_count - before.flop_count,
            static_cast<std::uint32_t>(5000000000ull));
  EXPECT_EQ(op_counters.comparison_count - before.comparison_count,
            static_cast<std::uint32_t>(3000000000ull));
  EXPECT_EQ(result.flops, 8000000000ll);
  for (std::int64_t amount : result.flop_reports) {
    EXPECT_GT(amount, 0);
    EXPECT_LE(amount, std::numeric_limits<std::int32_t>::max());
  }
  EXPECT_EQ(tally.flops, 0u);
  EXPECT_EQ(tally.comparisons, 0u);
  // Nothing to report: no call at all, as when no node was evaluated.
  EXPECT_TRUE(qirhost::run_call(0, [&](mxArray **) { flush_ops(tally); }).flop_reports.empty());
}

TEST(KernelChoice, EnvironmentSelectsOnlyKernelsTheProcessorRuns) {
  const MatchKernel best = best_match_kernel();
  EXPECT_TRUE(match_kernel_supported(best));
  EXPECT_TRUE(match_kernel_supported(MatchKernel::scalar));
#if defined(QIR_X86_64)
  EXPECT_TRUE(match_kernel_supported(MatchKernel::sse2));
  EXPECT_FALSE(match_kernel_supported(MatchKernel::neon));
  EXPECT_NE(best, MatchKernel::scalar);
#elif defined(QIR_AARCH64)
  EXPECT_EQ(best, MatchKernel::neon);
  EXPECT_FALSE(match_kernel_supported(MatchKernel::sse2));
#endif
  const char *saved = std::getenv("QIR_MATCH_KERNEL");
  const std::string restore = saved ? saved : "";
  setenv("QIR_MATCH_KERNEL", "scalar", 1);
  EXPECT_EQ(select_match_kernel(), MatchKernel::scalar);
  setenv("QIR_MATCH_KERNEL", "no-such-kernel", 1);
  EXPECT_EQ(select_match_kernel(), best);
  // A kernel this processor lacks runs as the best one (the kernel suites
  // skip such kernels for that reason).
  for (MatchKernel kernel : all_match_kernels) {
    setenv("QIR_MATCH_KERNEL", match_kernel_name(kernel), 1);
    EXPECT_EQ(select_match_kernel(), match_kernel_supported(kernel) ? kernel : best)
        << match_kernel_name(kernel);
  }
  unsetenv("QIR_MATCH_KERNEL");
  EXPECT_EQ(select_match_kernel(), best);
  if (saved) setenv("QIR_MATCH_KERNEL", restore.c_str(), 1);
}

#if defined(QIR_X86_64) && defined(__linux__)
// The cpuid/xgetbv probe agrees with what the kernel tells Linux programs.
TEST(KernelChoice, Avx2ProbeAgreesWithTheKernelsFlags) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  bool listed = false;
  while (std::getline(cpuinfo, line))
    if (line.rfind("flags", 0) == 0) {
      listed = (line + " ").find(" avx2 ") != std::string::npos;
      break;
    }
  EXPECT_EQ(qir_cpu_has_avx2(), listed);
  EXPECT_EQ(match_kernel_supported(MatchKernel::avx2), listed);
}
#endif

TEST(Portability, CountTrailingZerosOverTheWholeWord) {
  for (int bit = 0; bit < 64; ++bit) {
    const std::uint64_t one = std::uint64_t{1} << bit;
    EXPECT_EQ(qir_count_trailing_zeros(one), bit);
    EXPECT_EQ(qir_count_trailing_zeros(~std::uint64_t{0} << bit), bit);
  }
}

// Eight bytes at a time must give what a byte-by-byte loop gives, with
// the bytes' values at every edge (0, 15, 16, 0x7F, 0x80, 0xFF).
TEST(ByteLanes, EightAtOnceAgreeWithOneAtATime) {
  std::mt19937_64 rng(7);
  const std::uint8_t edges[] = {0, 1, 14, 15, 16, 0x7F, 0x80, 0xF0, 0xFF};
  for (int n = 0; n < 4000; ++n) {
    std::uint8_t bytes[8];
    for (std::uint8_t &x : bytes) x = n % 2 ? edges[rng() % 9] : static_cast<std::uint8_t>(rng());
    const std::uint64_t word = byte_lanes::load8(bytes);
    std::uint8_t back[8];
    byte_lanes::store8(back, word);
    const std::uint32_t q = 1 + static_cast<std::uint32_t>(rng() % 16);
    std::uint32_t packed = 0;
    std::int32_t low_bits = 0, high_bits = 0;
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(back[i], bytes[i]);
      EXPECT_EQ((word >> (8 * i)) & 0xFF, bytes[i]);
      EXPECT_EQ((byte_lanes::zero_bytes(word) >> (8 * i)) & 0xFF, bytes[i] == 0 ? 0xFFu : 0u);
      EXPECT_EQ((byte_lanes::low_nibble_at_least(word, q) >> (8 * i)) & 0xFF,
                (bytes[i] & 15u) >= q ? 0xFFu : 0u);
      packed |= static_cast<std::uint32_t>(bytes[i] & 15u) << (4 * i);
      for (int b = 0; b < 8; ++b) (b < 4 ? low_bits : high_bits) += (bytes[i] >> b) & 1;
    }
    EXPECT_EQ(byte_lanes::pack_nibbles(word & (15 * byte_lanes::ones)), packed);
    EXPECT_EQ(byte_lanes::count_bits(packed), low_bits);
    EXPECT_EQ(byte_lanes::count_bits(word), low_bits + high_bits);
  }
}

}  // namespace
}  // namespace qir
