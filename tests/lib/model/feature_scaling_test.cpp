// Min-max scaling: the range fitted on training data, clipping of values
// outside it, and constant features.
#include "model/feature_scaling.h"

#include <gtest/gtest.h>

using namespace qir;

TEST(FeatureScaling, FitsEachFeaturesRangeAndMapsItOntoTheUnitInterval) {
  const std::vector<std::vector<double>> train{{2, -1, 5}, {4, 3, 5}, {3, 1, 5}};
  const FeatureRange range = fit_feature_range(train);
  EXPECT_EQ(range.min, (std::vector<double>{2, -1, 5}));
  EXPECT_EQ(range.max, (std::vector<double>{4, 3, 5}));

  const auto scaled = scale_patterns(train, range);
  EXPECT_EQ(scaled[0], (std::vector<double>{0, 0, 0}));
  EXPECT_EQ(scaled[1], (std::vector<double>{1, 1, 0}));
  EXPECT_EQ(scaled[2], (std::vector<double>{0.5, 0.5, 0}));  // constant feature: 0
}

TEST(FeatureScaling, ClipsValuesBeyondTheTrainingRange) {
  EXPECT_EQ(scale_value(-3, 0, 2), 0);
  EXPECT_EQ(scale_value(7, 0, 2), 1);
  EXPECT_EQ(scale_value(7, 7, 7), 0);
  EXPECT_EQ(scale_value(8, 7, 7), 0);
  // The same operations as the formula, so the m-files and Python agree bit for bit.
  EXPECT_EQ(scale_value(0.3, 0.1, 0.7), (0.3 - 0.1) / (0.7 - 0.1));
}

TEST(FeatureScaling, ScalesRowMajorBlocksInPlace) {
  std::vector<double> block{0, 10, 5, 20, 10, 30};  // 3 rows, 2 features
  scale_rows(block.data(), 3, 2, {0, 10}, {10, 30});
  EXPECT_EQ(block, (std::vector<double>{0, 0, 0.5, 0.5, 1, 1}));
}
