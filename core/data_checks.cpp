#include "data_checks.h"

#include <cmath>
#include <cstddef>

namespace qir {

namespace {

// x - x is 0 for every finite x and NaN for a NaN or an infinity, and a NaN
// stays in a sum. Four sums keep the additions independent, so the common
// case (every value finite) runs at about one value per cycle.
bool all_finite(const double *values, std::size_t n) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  std::size_t k = 0;
  for (; k + 4 <= n; k += 4) {
    s0 += values[k] - values[k];
    s1 += values[k + 1] - values[k + 1];
    s2 += values[k + 2] - values[k + 2];
    s3 += values[k + 3] - values[k + 3];
  }
  for (; k < n; ++k) s0 += values[k] - values[k];
  return (s0 + s1) + (s2 + s3) == 0.0;
}

}  // namespace

Cell first_non_finite(const double *column_major, std::int32_t rows, std::int32_t cols) {
  Cell first;
  // The first cols columns are one run of storage.
  if (rows <= 0 || cols <= 0 ||
      all_finite(column_major, static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols)))
    return first;
  const std::size_t height = static_cast<std::size_t>(rows);
  for (std::int32_t j = 0; j < cols; ++j) {
    const double *column = column_major + static_cast<std::size_t>(j) * height;
    // Only rows above the best found so far can improve on it.
    const std::int32_t limit = first.found() ? first.row : rows;
    for (std::int32_t i = 0; i < limit; ++i) {
      if (!std::isfinite(column[i])) {
        first = Cell{i, j};
        break;
      }
    }
  }
  return first;
}

bool check_finite(const mxArray *array, std::int32_t cols, const char *argument,
                  const char *advice, const char *module, MessageBuffer &message) {
  const std::int32_t rows = static_cast<std::int32_t>(mxGetM(array));
  const Cell cell = first_non_finite(mxGetPr(array), rows, cols);
  if (!cell.found()) return true;
  return fail(message, "%s: %s holds a non-finite value at row %d, column %d; %s.", module,
              argument, cell.row + 1, cell.col + 1, advice);
}

bool all_whole(const double *values, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k)
    if (!(std::isfinite(values[k]) && std::trunc(values[k]) == values[k])) return false;
  return true;
}

}  // namespace qir
