// Scaling of features before training and classification: fitted on the
// training patterns, stored in the model file, applied to every pattern the
// model classifies. Four kinds:
//
//   min_max   x' = (x - min) / (max - min), clipped to [0, 1]
//   standard  x' = 0.5 + (x - mean) / (sqrt(12) sd): mean 0.5 and the spread
//             of values even over [0, 1], so D keeps its meaning; not clipped
//   rank      x' = the training share ranked below x (ties share their mean
//             rank), linear between the kept values, clipped to the ends:
//             an outlier moves no other value
//   none      the raw features
//   auto      rank when some feature's training values have outliers that
//             would squash its min-max range, min-max otherwise; a model
//             keeps the kind it resolved to
//
// A feature that never varied in training maps to 0 under every kind.
//
// The command, the Python package and the toolbox all scale through this
// code, so all three give identical doubles.
#pragma once

#include <cstddef>
#include <vector>

#include "../base/errors.h"

namespace qir {

// A value that cannot be scaled, with where it is (from 1), so that a
// front end can name the place in its own terms.
struct NonFiniteValue : InputError {
  NonFiniteValue(std::size_t pattern, std::size_t feature);
  std::size_t pattern, feature;
};

// In the order of the parameter table's choices for `scale`.
enum class Scaling { none, min_max, standard, rank, automatic };

// `automatic` picks rank when some feature's range exceeds this many times
// its interquartile range. Normal data of a few thousand rows sit near 5;
// features whose middle half is one value (binary, mostly constant) are
// left out, since their range says nothing about outliers.
constexpr double outlier_spread = 10;

// The largest range over interquartile range among the features whose
// middle half is more than one value; 0 when there is none. Quartiles are
// interpolated linearly between the sorted values.
double largest_spread(const std::vector<std::vector<double>> &patterns);

// `kind`, with `automatic` resolved on `patterns` (min-max for no patterns).
Scaling resolved_scaling(Scaling kind, const std::vector<std::vector<double>> &patterns);

// The most values a rank scaling keeps per feature: beyond that, evenly
// spaced ones among the distinct values (each with its exact share).
constexpr std::size_t most_rank_values = 256;

struct FeatureScaling {
  Scaling kind = Scaling::none;
  std::vector<double> low, high;  // min_max: min and max; standard: mean and sd
  // rank: per feature, its kept values (ascending) and their shares in [0, 1]
  std::vector<std::vector<double>> values, shares;
};

// The scaling of `kind` fitted on `patterns` (rows of equal length), its
// kind resolved. Throws NonFiniteValue for a value that is not finite.
FeatureScaling fit_scaling(Scaling kind, const std::vector<std::vector<double>> &patterns);

// One value of feature `k` scaled.
double scale_feature(const FeatureScaling &scaling, std::size_t k, double value);

// A raw value of feature `k` that scales to `scaled` (within the scaled
// values' span; the ends beyond it), as pictures of the scaled space ask.
double unscale_feature(const FeatureScaling &scaling, std::size_t k, double scaled);

// Scales `rows` row-major rows of `features` values in place. Throws
// NonFiniteValue for the first value that is not finite: clipping
// would quietly turn an infinity into an edge of the range.
void scale_rows(double *values, std::size_t rows, std::size_t features,
                const FeatureScaling &scaling);

// The first `features` values of `rows` rows, each `stride` values after
// the one before, scaled into `columns`, a column-major block of rows x
// features. Throws NonFiniteValue, rows counted
// from first_row + 1, for the first value in row order that is not finite,
// as scale_rows does (none: copied as they are, unchecked).
void scale_rows_into_columns(const double *values, std::size_t rows, std::size_t features,
                             std::size_t stride, const FeatureScaling &scaling, double *columns,
                             std::size_t first_row);

// The patterns scaled, a new copy (the patterns themselves without scaling).
std::vector<std::vector<double>> scale_patterns(const std::vector<std::vector<double>> &patterns,
                                                const FeatureScaling &scaling);

// Min-max alone, as the streaming front ends fit it batch by batch.
struct FeatureRange {
  std::vector<double> min, max;  // one value per feature
};

// The smallest and largest value of each feature over `patterns` (rows of
// equal length; no rows give empty ranges).
FeatureRange fit_feature_range(const std::vector<std::vector<double>> &patterns);

// One value scaled by its feature's range.
double scale_value(double value, double min, double max);

void scale_rows(double *values, std::size_t rows, std::size_t features,
                const std::vector<double> &min, const std::vector<double> &max);

std::vector<std::vector<double>> scale_patterns(const std::vector<std::vector<double>> &patterns,
                                                const FeatureRange &range);

}  // namespace qir
