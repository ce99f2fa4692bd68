// Scaling: min-max ranges fitted on training data, clipping of values
// outside it, and constant features.
#include "model/feature_scaling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Rank scaling: the mean rank of tied values, 0 for a feature that never
// varied, the edges' shares beyond the training values, and no outlier
// moving the others.
TEST(FeatureScaling, RankSharesTiesConstantsAndValuesBeyondTraining) {
  const std::vector<std::vector<double>> train{{1, 7, 5}, {2, 7, 5}, {2, 7, 9}, {4, 7, 1e9},
                                               {9, 7, 5}};
  const FeatureScaling rank = fit_scaling(Scaling::rank, train);
  ASSERT_EQ(rank.values.size(), 3u);
  EXPECT_EQ(rank.values[0], (std::vector<double>{1, 2, 4, 9}));
  // Ranks 0..4 over 4: the two 2s share (1 + 2) / 2.
  EXPECT_EQ(rank.shares[0], (std::vector<double>{0, 0.375, 0.75, 1}));
  EXPECT_EQ(scale_feature(rank, 0, 2), 0.375);
  EXPECT_EQ(scale_feature(rank, 0, 3), 0.375 + (0.75 - 0.375) * 0.5);  // between kept values
  EXPECT_EQ(scale_feature(rank, 0, -50), 0);
  EXPECT_EQ(scale_feature(rank, 0, 1e300), 1);
  // A constant feature maps to 0 whatever comes later, as min-max does.
  EXPECT_EQ(scale_feature(rank, 1, 7), 0);
  EXPECT_EQ(scale_feature(rank, 1, -3), 0);
  // Ties at the low end share their mean rank there, and values below the
  // training ones take it too; the outlier 1e9 is only the top rank.
  EXPECT_EQ(scale_feature(rank, 2, 5), 0.25);
  EXPECT_EQ(scale_feature(rank, 2, 0), 0.25);
  EXPECT_EQ(scale_feature(rank, 2, 9), 0.75);
  EXPECT_EQ(scale_feature(rank, 2, 1e9), 1);
  // Min-max squashes the same feature's ordinary values onto 0.
  EXPECT_LT(scale_feature(fit_scaling(Scaling::min_max, train), 2, 9), 1e-8);
}

TEST(FeatureScaling, RankKeepsAtMostItsLimitOfValuesWithExactShares) {
  std::vector<std::vector<double>> train;
  const std::size_t n = 3 * most_rank_values + 1;
  for (std::size_t k = 0; k < n; ++k) train.push_back({static_cast<double>(k) * 0.5});
  const FeatureScaling rank = fit_scaling(Scaling::rank, train);
  ASSERT_EQ(rank.values[0].size(), most_rank_values);
  EXPECT_EQ(rank.values[0].front(), 0);
  EXPECT_EQ(rank.values[0].back(), static_cast<double>(n - 1) * 0.5);
  for (std::size_t j = 0; j < most_rank_values; ++j)  // evenly spaced values: their own ranks
    EXPECT_DOUBLE_EQ(rank.shares[0][j], rank.values[0][j] * 2 / static_cast<double>(n - 1));
  // The shares rise with the values, so classification keeps their order.
  EXPECT_TRUE(std::is_sorted(rank.shares[0].begin(), rank.shares[0].end()));
}

TEST(FeatureScaling, StandardCentresOnAHalfWithTheSpreadOfTheUnitInterval) {
  const std::vector<std::vector<double>> train{{1, 4}, {3, 4}, {5, 4}, {7, 4}};
  const FeatureScaling standard = fit_scaling(Scaling::standard, train);
  EXPECT_EQ(standard.low, (std::vector<double>{4, 4}));
  EXPECT_EQ(standard.high[0], std::sqrt(5.0));
  EXPECT_EQ(standard.high[1], 0);
  EXPECT_EQ(scale_feature(standard, 0, 4), 0.5);
  EXPECT_EQ(scale_feature(standard, 0, 4 + std::sqrt(12.0) * std::sqrt(5.0)), 1.5);  // not clipped
  EXPECT_EQ(scale_feature(standard, 1, 100), 0);
  // The inverse that pictures use returns to the data's values.
  EXPECT_DOUBLE_EQ(unscale_feature(standard, 0, scale_feature(standard, 0, 6.5)), 6.5);
  const FeatureScaling rank = fit_scaling(Scaling::rank, train);
  EXPECT_DOUBLE_EQ(unscale_feature(rank, 0, scale_feature(rank, 0, 4)), 4);
}

TEST(FeatureScaling, NonFiniteValuesAreRefusedWithTheirPlaceByEveryKind) {
  const std::vector<std::vector<double>> train{{1, 2}, {3, NAN}};
  for (Scaling kind : {Scaling::min_max, Scaling::standard, Scaling::rank, Scaling::automatic}) {
    try {
      fit_scaling(kind, train);
      ADD_FAILURE() << "NaN was fitted";
    } catch (const NonFiniteValue &fault) {
      EXPECT_EQ(fault.pattern, 2u);
      EXPECT_EQ(fault.feature, 2u);
    }
    const FeatureScaling fitted = fit_scaling(kind, {{1, 2}, {3, 4}});
    std::vector<double> row{INFINITY, 1};
    EXPECT_THROW(scale_rows(row.data(), 1, 2, fitted), NonFiniteValue);
  }
  // Unscaled data go to the modules as they are.
  EXPECT_TRUE(std::isnan(scale_patterns(train, fit_scaling(Scaling::none, train))[1][1]));
}

std::vector<std::vector<double>> rows_of(const std::vector<double> &a, const std::vector<double> &b) {
  std::vector<std::vector<double>> rows;
  for (std::size_t r = 0; r < a.size(); ++r) rows.push_back({a[r], b[r]});
  return rows;
}

TEST(FeatureScaling, SpreadIsRangeOverInterpolatedInterquartileRange) {
  // Quartiles of 0..3 lie at 0.75 and 2.25: range 3 over 1.5.
  EXPECT_DOUBLE_EQ(largest_spread(rows_of({3, 0, 2, 1}, {5, 5, 5, 5})), 2);
  // A feature whose middle half is one value says nothing: left out, though
  // its range is all outlier; the other's quartiles are 2 and 4.
  EXPECT_DOUBLE_EQ(largest_spread(rows_of({0, 0, 0, 0, 100}, {1, 2, 3, 4, 100})), 49.5);
  EXPECT_DOUBLE_EQ(largest_spread(rows_of({0, 1, 0, 0, 0, 0, 0}, {7, 7, 7, 7, 7, 7, 7})), 0);
  EXPECT_DOUBLE_EQ(largest_spread({}), 0);
}

TEST(FeatureScaling, AutomaticTakesRankOnlyBeyondTheOutlierSpread) {
  // Quartiles 2 and 6 of 0..7 and one far value: a range of exactly ten
  // times 4 stays min-max, a little more takes rank.
  const std::vector<double> steady{0, 1, 2, 3, 4, 5, 6, 7, 8};
  auto with_far = [&](double far) {
    std::vector<double> values{0, 1, 2, 3, 4, 5, 6, 7, far};
    return rows_of(steady, values);
  };
  EXPECT_EQ(resolved_scaling(Scaling::automatic, with_far(40)), Scaling::min_max);
  EXPECT_EQ(resolved_scaling(Scaling::automatic, with_far(41)), Scaling::rank);
  EXPECT_EQ(resolved_scaling(Scaling::automatic, {}), Scaling::min_max);
  // Given kinds are kept whatever the data.
  for (Scaling kind : {Scaling::none, Scaling::min_max, Scaling::standard, Scaling::rank})
    EXPECT_EQ(resolved_scaling(kind, with_far(1000)), kind);

  // The fitted scaling is the resolved one: the far value no longer
  // squashes the rest of its feature.
  const FeatureScaling fitted = fit_scaling(Scaling::automatic, with_far(1000));
  ASSERT_EQ(fitted.kind, Scaling::rank);
  EXPECT_DOUBLE_EQ(scale_feature(fitted, 1, 4), 0.5);
  EXPECT_EQ(fit_scaling(Scaling::automatic, with_far(40)).kind, Scaling::min_max);
}

// A block of rows (with a column beyond the features, as a label column)
// scaled into the host's column-major layout: each value as scale_feature
// gives it, bit for bit, under every kind, values beyond the training
// range included; the first value in row order that is not finite named
// with its row counted on from the rows before the block.
TEST(FeatureScaling, RowsScaledIntoColumnsAsValueByValue) {
  const std::vector<std::vector<double>> train{{1, -2, 0.1}, {3, 4, 0.1}, {2.5, 1e9, 0.1},
                                               {-7, 0.25, 0.1}};
  const std::size_t rows = 5, features = 3, stride = 4;
  const std::vector<double> block{0.3,  -5,   0.1, 99, 2,    1e10, 7,  98, -7,  0.25, 0.1, 97,
                                  1e-9, -0.0, 3,   96, 2.75, 4,    -1, 95};
  for (Scaling kind :
       {Scaling::none, Scaling::min_max, Scaling::standard, Scaling::rank, Scaling::automatic}) {
    FeatureScaling scaling = fit_scaling(kind == Scaling::automatic ? Scaling::min_max : kind, train);
    scaling.kind = kind;
    std::vector<double> columns(rows * features, -1);
    scale_rows_into_columns(block.data(), rows, features, stride, scaling, columns.data(), 40);
    for (std::size_t r = 0; r < rows; ++r)
      for (std::size_t k = 0; k < features; ++k) {
        const double expected = scale_feature(scaling, k, block[r * stride + k]);
        EXPECT_EQ(std::memcmp(&columns[k * rows + r], &expected, sizeof expected), 0)
            << "kind " << static_cast<int>(kind) << ", row " << r << ", feature " << k;
      }
  }
  // An infinity in row 2's last feature comes before a NaN in row 3's first.
  std::vector<double> faulty = block;
  faulty[1 * stride + 2] = INFINITY;
  faulty[2 * stride + 0] = NAN;
  std::vector<double> columns(rows * features);
  for (Scaling kind : {Scaling::min_max, Scaling::standard, Scaling::rank}) {
    try {
      scale_rows_into_columns(faulty.data(), rows, features, stride, fit_scaling(kind, train),
                              columns.data(), 40);
      ADD_FAILURE() << "an infinity was scaled";
    } catch (const NonFiniteValue &fault) {
      EXPECT_EQ(fault.pattern, 42u);
      EXPECT_EQ(fault.feature, 3u);
    }
  }
  // Unscaled, they go to the modules as they are.
  scale_rows_into_columns(faulty.data(), rows, features, stride, FeatureScaling{}, columns.data(), 0);
  EXPECT_EQ(columns[2 * rows + 1], INFINITY);
  EXPECT_TRUE(std::isnan(columns[0 * rows + 2]));
  // No rows: nothing read or written.
  scale_rows_into_columns(nullptr, 0, features, stride, fit_scaling(Scaling::min_max, train),
                          nullptr, 0);
}
