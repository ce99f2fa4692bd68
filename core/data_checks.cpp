#include "data_checks.h"

#include <cmath>

namespace qir {

Cell first_non_finite(const double *column_major, std::int32_t rows, std::int32_t cols) {
  Cell first;
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
                  const char *module, MessageBuffer &message) {
  const std::int32_t rows = static_cast<std::int32_t>(mxGetM(array));
  const Cell cell = first_non_finite(mxGetPr(array), rows, cols);
  if (!cell.found()) return true;
  return fail(message, "%s: %s holds a non-finite value at row %d, column %d.", module, argument,
              cell.row + 1, cell.col + 1);
}

bool all_whole(const double *values, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k)
    if (!(std::isfinite(values[k]) && std::trunc(values[k]) == values[k])) return false;
  return true;
}

}  // namespace qir
