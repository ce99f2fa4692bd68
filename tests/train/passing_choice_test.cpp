// The choice among the nodes that pass the vigilance test, from the
// kernels' flags and CFVs by slot, against the node-order visit that
// CandidateChoice stands for: nodes in node order or placed anywhere among
// padding, ties (zeros of either sign among them), NaN, infinities, and
// node counts across word boundaries, on every kernel.
#include "model.h"
#include "node.h"
#include "node_block.h"
#include "passing_choice.h"
#include "search.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

namespace qir {
namespace {

Node point_at(double x) {
  const double row[3] = {x, 0.0, 0.0};
  Node node;
  node_init(node, row, 1, 1);
  return node;
}

struct ChoiceCase {
  PackedNodes packed{1};
  std::vector<double> cfv;           // by slot
  std::vector<std::uint64_t> passing;  // by slot
  std::vector<double> word_most;
};

// n nodes, in node order or shuffled over twice as many slots; each passes
// with the given odds and takes its CFV from a few values, so that ties
// (and, when asked, NaN and infinities) are common.
ChoiceCase make_case(std::mt19937_64 &rng, std::int32_t n, bool shuffled, bool odd_values) {
  model_params = ModelParams{1, 4.0, 1.0, 0.01, 1.0};
  ChoiceCase c;
  c.packed.reset(1);
  if (shuffled) {
    std::vector<std::int32_t> slots(static_cast<std::size_t>(2 * n + 4));
    std::iota(slots.begin(), slots.end(), 0);
    std::shuffle(slots.begin(), slots.end(), rng);
    for (std::int32_t i = 0; i < n; ++i) c.packed.place(point_at(0.1 * i), slots[i]);
  } else {
    for (std::int32_t i = 0; i < n; ++i) c.packed.push_back(point_at(0.1 * i));
  }
  const std::int32_t slots = c.packed.slots();
  c.cfv.assign(static_cast<std::size_t>(slots), 0.0);
  c.passing.assign(static_cast<std::size_t>((slots + 63) / 64), 0);
  c.word_most.assign(c.passing.size(), 0.0);
  const double values[] = {0.25, 0.5, 0.5, 0.75, -1.0, 0.0, -0.0};
  const double odd[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  const std::uint64_t pass_odds = 1 + rng() % 4;  // of 4
  for (std::int32_t s = 0; s < slots; ++s) {
    // Slots that do not pass hold anything, NaN included: never read as a
    // candidate.
    c.cfv[s] = odd_values && rng() % 8 == 0 ? odd[rng() % 3] : values[rng() % 7];
    if (c.packed.node_at(s) >= 0 && rng() % 4 < pass_odds)
      c.passing[s >> 6] |= std::uint64_t{1} << (s & 63);
  }
  return c;
}

PassingChoice choose(ChoiceCase &c, MatchKernel kernel) {
  return choose_passing(kernel, c.packed, c.passing.data(), c.packed.slots(), c.cfv.data(),
                        c.word_most.data());
}

std::vector<MatchKernel> supported_kernels() {
  std::vector<MatchKernel> kernels;
  for (MatchKernel k : all_match_kernels)
    if (match_kernel_supported(k)) kernels.push_back(k);
  return kernels;
}

CandidateChoice in_node_order(const ChoiceCase &c) {
  CandidateChoice choice;
  for (std::int32_t i = 0; i < c.packed.size(); ++i) {
    const std::int32_t s = c.packed.slot_of(i);
    if ((c.passing[s >> 6] >> (s & 63)) & 1u) choice.add(i, c.cfv[s]);
  }
  return choice;
}

TEST(PassingChoiceTest, AgreesWithTheVisitInNodeOrder) {
  std::mt19937_64 rng(20261209);
  const std::int32_t counts[] = {1, 2, 3, 4, 5, 63, 64, 65, 127, 200};
  for (int round = 0; round < 400; ++round) {
    const std::int32_t n = counts[round % 10];
    const bool shuffled = (round / 10) % 2 == 1;
    const bool odd_values = (round / 20) % 2 == 1;
    ChoiceCase c = make_case(rng, n, shuffled, odd_values);
    const CandidateChoice expected = in_node_order(c);
    for (MatchKernel kernel : supported_kernels()) {
      const PassingChoice got = choose(c, kernel);
      ASSERT_EQ(got.candidates, expected.candidates) << "round " << round;
      ASSERT_EQ(got.winner, expected.winner())
          << match_kernel_name(kernel) << ", round " << round << ", " << n << " nodes";
    }
  }
}

TEST(PassingChoiceTest, TiesGoToTheLowestNodeWhereverItSits) {
  for (MatchKernel kernel : supported_kernels()) {
    SCOPED_TRACE(match_kernel_name(kernel));
    model_params = ModelParams{1, 4.0, 1.0, 0.01, 1.0};
    ChoiceCase c;
    c.packed.reset(1);
    // Node 0 in the last slot, node 2 in the first: all three tie.
    c.packed.place(point_at(0.0), 70);
    c.packed.place(point_at(0.1), 5);
    c.packed.place(point_at(0.2), 0);
    c.cfv.assign(static_cast<std::size_t>(c.packed.slots()), 0.0);
    c.passing.assign(static_cast<std::size_t>((c.packed.slots() + 63) / 64), 0);
    c.word_most.assign(c.passing.size(), 0.0);
    for (std::int32_t s : {70, 5, 0}) {
      c.cfv[s] = 0.5;
      c.passing[s >> 6] |= std::uint64_t{1} << (s & 63);
    }
    EXPECT_EQ(choose(c, kernel).winner, 0);
    // A NaN at the lowest node wins outright; a NaN later never does.
    c.cfv[70] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(choose(c, kernel).winner, 0);
    c.cfv[70] = 0.25;
    c.cfv[0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(choose(c, kernel).winner, 1);
    // Nothing passes: no candidate.
    std::fill(c.passing.begin(), c.passing.end(), 0);
    const PassingChoice none = choose(c, kernel);
    EXPECT_EQ(none.candidates, 0);
    EXPECT_EQ(none.winner, -1);
  }
}

}  // namespace
}  // namespace qir
