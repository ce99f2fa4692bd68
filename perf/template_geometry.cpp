#include "template_geometry.h"

#include <algorithm>
#include <cmath>

namespace qir {

namespace {

// Rows are tested in blocks so that the sums of squares can be gathered
// column by column, in storage order, without allocating.
constexpr std::int32_t block_rows = 64;

// A zero direction marks a point node; a tiny one whose squares vanish
// is no zero and must still have unit length.
bool is_direction_length(double sum_of_squares, bool any_nonzero) {
  return !any_nonzero || std::fabs(std::sqrt(sum_of_squares) - 1.0) <= direction_length_tolerance;
}

}  // namespace

bool check_template_geometry(const double *column_major, std::int32_t N, std::int32_t M,
                             const char *module, MessageBuffer &message) {
  const std::size_t height = static_cast<std::size_t>(N);
  const double *radii = column_major + 2 * static_cast<std::size_t>(M) * height;
  for (std::int32_t first = 0; first < N; first += block_rows) {
    const std::int32_t count = std::min(block_rows, N - first);
    double sums[block_rows] = {};
    bool nonzero[block_rows] = {};
    for (std::int32_t i = 0; i < M; ++i) {
      const double *column = column_major + static_cast<std::size_t>(M + i) * height + first;
      for (std::int32_t r = 0; r < count; ++r) {
        sums[r] = sums[r] + column[r] * column[r];
        nonzero[r] = nonzero[r] || column[r] != 0.0;
      }
    }
    for (std::int32_t r = 0; r < count; ++r) {
      if (radii[first + r] < 0.0)
        return fail(message, "%s: 1st input argument (Templates) holds a negative radius at row %d.",
                    module, first + r + 1);
      if (!is_direction_length(sums[r], nonzero[r]))
        return fail(message,
                    "%s: 1st input argument (Templates) holds a direction at row %d that is "
                    "neither zero nor of unit length.",
                    module, first + r + 1);
    }
  }
  return true;
}

}  // namespace qir
