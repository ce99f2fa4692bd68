#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>

#include "evaluation/hints.h"
#include "model/training_defaults.h"

namespace qir {
namespace {

TEST(DefaultPresentations, SpendAboutTheTrainingWorkWithinTheirBounds) {
  const TrainingDefaults &d = training_defaults;
  for (int voters : {1, 2, 15, 1000}) {
    double before = d.max_presentations;
    for (std::size_t patterns : {1, 7, 150, 1000, 1438, 5000, 12800, 16000, 32000, 50000,
                                 1000000}) {
      SCOPED_TRACE(std::to_string(patterns) + " patterns, " + std::to_string(voters) + " voters");
      const double limit = default_max_presentations(patterns, voters);
      const double seen = static_cast<double>(patterns) * voters;
      EXPECT_EQ(limit, std::trunc(limit));
      EXPECT_GE(limit, d.fewest_presentations);
      EXPECT_LE(limit, d.max_presentations);
      EXPECT_LE(limit, before) << "more data never takes more presentations";
      before = limit;
      // The fewest presentations that reach the work, unless a bound holds.
      if (limit > d.fewest_presentations) {
        EXPECT_LT((limit - 1) * seen, d.training_work);
      }
      if (limit < d.max_presentations) {
        EXPECT_GE(limit * seen, d.training_work);
      }
    }
  }
  // The bundled sets' sizes: every member of theirs converges within 16.
  EXPECT_GT(default_max_presentations(1797, d.voters), 16);
  EXPECT_EQ(default_max_presentations(0, d.voters), d.max_presentations);
  EXPECT_EQ(default_max_presentations(16000, 0), default_max_presentations(16000, 1));
}

TEST(DefaultPresentations, ReachingADefaultLimitBelowTheMostIsNoCauseForAHint) {
  EXPECT_FALSE(presentation_limit_hint(2, 2, false));
  EXPECT_TRUE(presentation_limit_hint(2, 2, true));
  // The most is reached only where the data would need more.
  EXPECT_TRUE(presentation_limit_hint(100, training_defaults.max_presentations, false));
  EXPECT_FALSE(presentation_limit_hint(1, 2, true));
}

}  // namespace
}  // namespace qir
