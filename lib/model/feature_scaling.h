// Min-max scaling of features to [0, 1]: fitted on the training patterns,
// stored in the model file, applied to every pattern the model classifies.
//
//   x' = (x - min) / (max - min), then clipped to [0, 1];
//   a feature whose max equals its min maps to 0.
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

struct FeatureRange {
  std::vector<double> min, max;  // one value per feature
};

// The smallest and largest value of each feature over `patterns` (rows of
// equal length; no rows give empty ranges).
FeatureRange fit_feature_range(const std::vector<std::vector<double>> &patterns);

// One value scaled by its feature's range.
double scale_value(double value, double min, double max);

// Scales `rows` row-major rows of `features` values in place. Throws
// NonFiniteValue for the first value that is not finite: clipping
// would quietly turn an infinity into an edge of the range.
void scale_rows(double *values, std::size_t rows, std::size_t features,
                const std::vector<double> &min, const std::vector<double> &max);

// The patterns scaled by the range, a new copy.
std::vector<std::vector<double>> scale_patterns(const std::vector<std::vector<double>> &patterns,
                                                const FeatureRange &range);

}  // namespace qir
