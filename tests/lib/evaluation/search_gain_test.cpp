#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "evaluation/search_grid.h"

using namespace qir;

namespace {

CvResult folds_of_30(const std::vector<std::size_t> &correct) {
  CvResult result;
  for (std::size_t right : correct) {
    FoldResult fold;
    fold.patterns = 30;
    fold.correct = right;
    result.folds.push_back(fold);
  }
  return result;
}

}  // namespace

// Taking each fold's accuracy in points before subtracting left a residue
// of about -5e-15 here, printed as a gain of "-0.00" and read by callers as
// a loss.
TEST(SearchGain, FoldsWhoseGainsCancelGainNothing) {
  const FoldGain gain = fold_gain(folds_of_30({25, 25, 27}), folds_of_30({25, 26, 26}));
  EXPECT_EQ(gain.mean, 0.0);
  EXPECT_FALSE(std::signbit(gain.mean));
  EXPECT_NEAR(gain.error, 100.0 / 30 / std::sqrt(3.0), 1e-12);  // gains 0, -1 and +1 pattern
  EXPECT_FALSE(clearly_better(gain));
}

TEST(SearchGain, AClearWinIsClearAndAMixedOneIsNot) {
  const FoldGain steady = fold_gain(folds_of_30({27, 28, 27}), folds_of_30({25, 26, 25}));
  EXPECT_NEAR(steady.mean, 200.0 / 30, 1e-12);
  EXPECT_EQ(steady.error, 0.0);
  EXPECT_TRUE(clearly_better(steady));
  const FoldGain mixed = fold_gain(folds_of_30({30, 20, 26}), folds_of_30({25, 25, 25}));
  EXPECT_GT(mixed.mean, 0);
  EXPECT_FALSE(clearly_better(mixed));
}
