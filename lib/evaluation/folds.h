// Stratified folds for cross-validation: every fold gets its share of each
// class, and the same seed gives the same folds on every platform and in
// the toolbox's qir_cv (which uses the same generator and steps).
#pragma once

#include <cstdint>
#include <vector>

namespace qir {

// The fold (0 .. folds-1) of each pattern. Each class's patterns, in file
// order, are shuffled (Fisher-Yates from the last down, with the "minimal
// standard" generator x <- 16807 x mod (2^31 - 1), x0 = seed mod (2^31 - 2)
// + 1, drawing j = floor(x k / (2^31 - 1)) for position k); then the classes
// in ascending label order are dealt out to folds 0, 1, ... in turn, so fold
// sizes differ by at most one and each class's count per fold by at most one.
std::vector<int> stratified_folds(const std::vector<double> &labels, int folds, std::uint64_t seed);

}  // namespace qir
