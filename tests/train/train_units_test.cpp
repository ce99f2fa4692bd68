// Node learning, the choice during match tracking and the closing phase,
// tested on nodes set up by hand.
#include "model.h"
#include "node_learn.h"
#include "node_list.h"
#include "process_clock.h"
#include "search.h"
#include "training_report.h"

#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace qir {
namespace {

// Runs `body` in a host call; returns the counters' growth and the host's reports.
struct Counted {
  std::uint32_t flops = 0;
  std::uint32_t comparisons = 0;
  qirhost::CallResult call;
};
template <class Body>
Counted counted(Body body) {
  const OpCounters before = op_counters;
  Counted c;
  c.call = qirhost::run_call(0, [&](mxArray **) { body(); });
  c.flops = op_counters.flop_count - before.flop_count;
  c.comparisons = op_counters.comparison_count - before.comparison_count;
  return c;
}

TEST(NodeLearn, FirstUpdateSetsDirectionAndLaterOnesOnlyMoveAndGrow) {
  model_params = ModelParams{2, 4.0, 0.5, 0.0, 1.0};
  Node node;
  const double origin[] = {1, 1}, far[] = {4, 5};  // 5 apart
  node_init(node, origin, 1, 0);
  node_match(node, far);
  Counted first = counted([&] { EXPECT_EQ(node_learn(node, far), 1); });
  EXPECT_EQ(node.center, (std::vector<double>{2.5, 3}));  // the midpoint
  EXPECT_EQ(node.direction, (std::vector<double>{0.6, 0.8}));
  EXPECT_EQ(node.radius, 2.5);
  EXPECT_EQ(node.free_size, -1.0);
  EXPECT_EQ(node.is_point, 0);
  EXPECT_EQ(first.flops, 6u * 2 + 7);
  EXPECT_EQ(first.comparisons, 1u);
  EXPECT_EQ(first.call.flop_reports, std::vector<std::int64_t>{20});

  // 5 further along the axis; half the excess of 2.5 is applied.
  model_params.D = 8.0;
  model_params.learning_rate = 0.5;
  const double along[] = {5.5, 7};
  node_match(node, along);
  EXPECT_NEAR(node.excess, 2.5, 1e-12);
  Counted later = counted([&] { EXPECT_EQ(node_learn(node, along), 1); });
  EXPECT_NEAR(node.center[0], 2.875, 1e-12);
  EXPECT_NEAR(node.center[1], 3.5, 1e-12);
  EXPECT_NEAR(node.radius, 3.125, 1e-12);
  EXPECT_NEAR(node.free_size, 1.75, 1e-12);
  EXPECT_EQ(node.direction, (std::vector<double>{0.6, 0.8}));
  EXPECT_EQ(later.flops, 3u * 2 + 6);
  EXPECT_EQ(later.comparisons, 1u);
  node_match(node, along);
  EXPECT_NEAR(node.excess, 1.25, 1e-12);  // (1 - 0.5) of the old excess
}

TEST(NodeLearn, PatternInsideOrOnTheBoundaryChangesNothing) {
  model_params = ModelParams{1, 4.0, 1.0, 0.0, 1.0};
  Node node;
  const double zero[] = {0}, two[] = {2}, just_beyond[] = {2 + 5e-9};
  node_init(node, zero, 1, 0);
  node_match(node, two);
  node_learn(node, two);  // centre 1, radius 1: 2 now lies on the boundary
  for (const double *pattern : {zero, two, just_beyond}) {
    node_match(node, pattern);
    Counted none = counted([&] { EXPECT_EQ(node_learn(node, pattern), 0); });
    EXPECT_EQ(none.flops + none.comparisons, 0u);
    EXPECT_TRUE(none.call.flop_reports.empty());
    EXPECT_EQ(node.center, std::vector<double>{1});
    EXPECT_EQ(node.radius, 1.0);
  }
}

TEST(MatchTracking, NewWinnerHasTheHighestChoiceValueAmongHigherMatches) {
  model_params = ModelParams{1, 1.0, 1.0, 0.0, 1.0};
  const double zero[] = {0};
  NodeList nodes;
  // {eligible, mfv, cfv}: the old winner, a better match with a lower
  // choice value, the best choice, an ineligible node, a tie with the best.
  const double fields[][3] = {{1, 0.2, 1}, {1, 0.5, 0.5}, {1, 0.4, 1}, {0, 0.9, 2}, {1, 0.4, 1}};
  for (const auto &f : fields) {
    Node &node = node_init(nodes.add(), zero, 1, 0);
    node.eligible = static_cast<std::int32_t>(f[0]);
    node.mfv = f[1];
    node.cfv = f[2];
  }
  PatternTally tally;
  EXPECT_EQ(choose_during_mt(nodes, 0.2, tally), 2);
  EXPECT_EQ(nodes[0].eligible, 0);
  EXPECT_EQ(tally.pattern_comparisons, 4u + 2u);  // one per eligible node, one per later survivor
  EXPECT_EQ(tally.pattern_flops, 0u);
  // Raised to the winner's MFV, it and its twin drop out as well.
  EXPECT_EQ(choose_during_mt(nodes, 0.4, tally), 1);
  EXPECT_EQ(tally.pattern_comparisons, 6u + 3u);
}

// The packed search visits candidates in slot order, not node order: it
// must still pick the node that the visit in node order picks, through
// ties (the lowest number wins), signed zeros and NaN choice values (a
// NaN wins only as the first candidate).
TEST(CandidateChoice, AnyOrderOfVisitsPicksTheWinnerOfNodeOrder) {
  const double nan = std::nan("");
  const double values[] = {0.5, 0.5, 0.25, -0.0, 0.0, nan, 1.0, 1.0};
  std::mt19937_64 rng(5);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t n = 1 + rng() % 7;
    std::vector<double> cfv(n);
    for (double &v : cfv) v = values[rng() % 8];
    // In node order, as search_nodes and choose_during_mt choose.
    std::int32_t expected = 0;
    for (std::size_t i = 1; i < n; ++i)
      if (cfv[i] > cfv[expected]) expected = static_cast<std::int32_t>(i);
    std::vector<std::int32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::int32_t>(i);
    std::shuffle(order.begin(), order.end(), rng);
    CandidateChoice choice;
    for (std::int32_t i : order) choice.add(i, cfv[i]);
    ASSERT_EQ(choice.winner(), expected) << "round " << round;
    EXPECT_EQ(choice.candidates, static_cast<std::int64_t>(n));
  }
  EXPECT_EQ(CandidateChoice().winner(), -1);
}

// The packed search keeps its own list of eligible nodes; the nodes' own
// flags must still say what the plain search leaves in them, after the
// search and after each round of match tracking, when grouped or not.
TEST(MatchTracking, PackedSearchLeavesTheSameEligibilityAsThePlainOne) {
  const qirhost::CallResult call = qirhost::run_call(0, [](mxArray **) {
    model_params = ModelParams{2, 1.0, 0.5, 0.001, 1.0};
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<double>> points(300, std::vector<double>(2));
    for (auto &p : points)
      for (double &x : p) x = unit(rng);
    const SearchRules rules{compute_Tu(1.0, 0.001), 0.001, 0, 0};
    std::vector<const double *> patterns;
    for (const auto &p : points) patterns.push_back(p.data());
    const auto N = static_cast<std::int32_t>(patterns.size());
    for (std::int32_t nodes_made : {20, 200}) {
      NodeList plain_nodes, packed_nodes;
      PlainSearch plain;
      PackedSearch packed;
      plain.start(0.8, rules, N, patterns.data());
      packed.start(0.8, rules, N, patterns.data());
      // Ellipsoids of many sizes, so that the best choice is often not the
      // best match and match tracking finds other candidates.
      for (std::int32_t k = 0; k < nodes_made; ++k) {
        const double stretch[] = {points[k][0] + 0.3 * unit(rng) - 0.15,
                                  points[k][1] + 0.3 * unit(rng) - 0.15};
        for (NodeList *nodes : {&plain_nodes, &packed_nodes}) {
          Node &node = node_init(nodes->add(), patterns[k], 1, 0);
          node_match(node, stretch);
          node_learn(node, stretch);
        }
        plain.node_added(plain_nodes);
        packed.node_added(packed_nodes);
      }
      int second_winners = 0;
      for (std::int32_t J = 0; J < N; ++J) {
        PatternTally a, b;
        double rho = 0.8;
        std::int32_t plain_winner = plain.search(plain_nodes, J, patterns[J], rho, rules, a);
        std::int32_t packed_winner = packed.search(packed_nodes, J, patterns[J], rho, rules, b);
        for (;;) {
          ASSERT_EQ(packed_winner, plain_winner) << "pattern " << J;
          for (std::int32_t i = 0; i < nodes_made; ++i)
            ASSERT_EQ(packed_nodes[i].eligible, plain_nodes[i].eligible) << "pattern " << J << " node " << i;
          if (plain_winner < 0) break;
          rho = plain_nodes[plain_winner].mfv;
          plain_winner = plain.choose_during_mt(plain_nodes, rho, a);
          packed_winner = packed.choose_during_mt(packed_nodes, rho, b);
          second_winners += plain_winner >= 0;
        }
      }
      EXPECT_GT(second_winners, 5);  // match tracking found other candidates
    }
  });
  EXPECT_EQ(call.blocks_left, 0u);
}

TEST(ClosingPhase, EveryNodeTrimmedLeavesEmptyResults) {
  const qirhost::CallResult call = qirhost::run_call(0, [](mxArray **) {
    model_params = ModelParams{1, 1.0, 1.0, 0.001, 1.0};
    const double patterns[][1] = {{0}, {3}};
    NodeList nodes;
    for (const auto &pattern : patterns) node_init(nodes.add(), pattern, 1, 0).active = 0;
    TrainingOutcome outcome{true, 1, 0, 3, 0, whole_seconds(process_clock_ms())};
    TrainingResults results;
    close_training(nodes, outcome, 2, 1, 1, 1, results);
    EXPECT_EQ(results.num_templates, 0);
    EXPECT_EQ(results.template_rows.rows(), 0);
    EXPECT_EQ(results.template_labels.n, 0);
    EXPECT_EQ(nodes.size(), 0);
  });
  EXPECT_EQ(call.console.substr(0, call.console.rfind('\n', call.console.rfind(" FLOPs")) + 1),
            "\nQIR training converged after 1 list presentation\n"
            "2 inactive nodes trimmed (100.000000% redundacy)\n"
            "0 nodes created (100.000000% compression)\n");
  EXPECT_EQ(call.allocation_requests, 2u);  // the node list only
  EXPECT_EQ(call.blocks_left, 0u);
}

}  // namespace
}  // namespace qir
