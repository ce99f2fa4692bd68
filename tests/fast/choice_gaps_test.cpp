// The gaps kept below a pattern's best choice value must never claim more
// than holds: the bound they give is at least the value they were taken
// from, at exact step boundaries, a unit of rounding either side of them,
// for tiny and huge magnitudes; NaN and infinities give no gap.
#include "choice_gaps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace qir {
namespace {

TEST(ChoiceGaps, BoundsNeverFallBelowTheValueTheyWereTakenFrom) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  int gaps_found = 0;
  for (double scale : {1e-300, 1e-9, 1.0, 3.0, 1e6, 1e300}) {
    for (int n = 0; n < 20000; ++n) {
      const double ref = unit(rng) * scale;
      const int k = static_cast<int>(rng() % 20);
      double value = ref - k * choice_step * (rng() % 2 ? 1.0 : scale);
      const int nudge = static_cast<int>(rng() % 3);
      if (nudge == 1) value = std::nextafter(value, 1e308);
      if (nudge == 2) value = std::nextafter(value, -1e308);
      const std::uint32_t q = gap_steps(ref, value);
      ASSERT_LE(q, most_steps);
      if (q == 0) continue;
      ++gaps_found;
      ASSERT_LE(value, upper_bound(ref, q)) << ref << " " << value << " " << q;
      // Short of the most steps, the bound is no looser than two steps and a hair.
      if (q < most_steps) {
        ASSERT_LE(upper_bound(ref, q), value + 2 * choice_step + 1e-8 * std::fabs(ref)) << ref;
      }
    }
  }
  EXPECT_GT(gaps_found, 10000);
}

TEST(ChoiceGaps, ExactBoundariesAndOddValues) {
  // Exactly one step below: the slack takes the claim back to no gap.
  EXPECT_EQ(gap_steps(1.0, 1.0 - choice_step), 0u);
  EXPECT_EQ(gap_steps(1.0, 1.0 - 2 * choice_step), 1u);
  EXPECT_EQ(gap_steps(1.0, 1.0), 0u);
  EXPECT_EQ(gap_steps(1.0, 2.0), 0u);
  EXPECT_EQ(gap_steps(1.0, -5.0), most_steps);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(gap_steps(nan, 0.0), 0u);
  EXPECT_EQ(gap_steps(0.0, nan), 0u);
  EXPECT_EQ(gap_steps(inf, 0.0), 0u);
  EXPECT_EQ(gap_steps(0.0, -inf), 0u);
  EXPECT_TRUE(std::isnan(upper_bound(nan, 3)));
  // The two gaps share one byte.
  EXPECT_EQ(cfv_steps(pack_gaps(7, 15)), 7u);
  EXPECT_EQ(mfv_steps(pack_gaps(7, 15)), 15u);
}

// A search decides once for all blocks which gaps put them below its best
// CFV, and re-measures carried gaps from a table: the first must give what
// the bound itself gives for every gap, the second a gap that still holds
// (and is lost by at most a step and a hair), also around exact ties and
// with NaN or infinite values on either side.
TEST(ChoiceGaps, TablesGiveWhatTheBoundGivesForEveryGap) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> refs = {0.0, 1.0, -1.0, 0.9, 1e-300, 1e6, nan, inf, -inf};
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> unit(-2.0, 2.0);
  for (int n = 0; n < 200; ++n) refs.push_back(unit(rng));
  for (double ref : refs) {
    std::vector<double> others = {ref, nan, inf, -inf, std::nextafter(ref, inf)};
    for (std::uint32_t q = 0; q <= most_steps; ++q) {
      others.push_back(upper_bound(ref, q));
      others.push_back(std::nextafter(upper_bound(ref, q), inf));
      others.push_back(ref - q * choice_step);
    }
    for (double other : others) {
      const std::uint32_t below = gaps_below(ref, other);
      const GapRebase rebase(ref, other);
      EXPECT_EQ(below & 1u, 0u);
      EXPECT_EQ(rebase.steps[0], 0u);
      for (std::uint32_t q = 1; q <= most_steps; ++q) {
        EXPECT_EQ((below >> q) & 1u, upper_bound(ref, q) < other ? 1u : 0u) << ref << " " << other;
        // The largest value the old gap allows: a hair below ref - q step.
        const double value = std::nextafter(ref - q * choice_step, -inf);
        const std::uint32_t moved = rebase.steps[q];
        ASSERT_LE(moved, most_steps);
        if (moved > 0) {
          EXPECT_LE(value, upper_bound(other, moved)) << ref << " " << other << " " << q;
        }
        const std::uint32_t exact = gap_steps(other, upper_bound(ref, q));
        if (std::isfinite(ref) && std::isfinite(other) && exact > 1 && exact < most_steps) {
          EXPECT_GE(moved + 1, exact) << ref << " " << other << " " << q;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qir
