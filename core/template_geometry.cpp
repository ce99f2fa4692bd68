#include "template_geometry.h"

#include "data_checks.h"

#include <cmath>
#include <cstring>

namespace qir {

namespace {

// A zero direction marks a point node; a tiny one whose squares vanish
// is no zero and must still have unit length.
bool is_direction_length(double sum_of_squares, bool any_nonzero) {
  return !any_nonzero || std::fabs(std::sqrt(sum_of_squares) - 1.0) <= direction_length_tolerance;
}

std::uint64_t magnitude_bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits & ~(std::uint64_t{1} << 63);
}

// What the test needs of one row's direction: the sum of its squares, in
// feature order, and its magnitude bits or-ed together (zero only when
// every value is 0 or -0: x != 0 without a branch per value).
struct DirectionSums {
  double squares = 0.0;
  std::uint64_t magnitude = 0;
  void add(double value) {
    squares = squares + value * value;
    magnitude |= magnitude_bits(value);
  }
};

// Refuses the first of `count` rows from `first` whose radius or direction
// fails, in row order.
bool check_rows(const double *column_major, std::size_t height, std::int32_t M,
                std::int32_t first, const DirectionSums *sums, std::int32_t count,
                const char *argument, const char *module, MessageBuffer &message) {
  const double *radii = column_major + 2 * static_cast<std::size_t>(M) * height;
  for (std::int32_t r = 0; r < count; ++r) {
    if (radii[first + r] < 0.0)
      return fail(message, "%s: %s holds a negative radius at row %d.", module, argument,
                  first + r + 1);
    if (!is_direction_length(sums[r].squares, sums[r].magnitude != 0))
      return fail(message,
                  "%s: %s holds a direction at row %d that is neither zero nor of unit length.",
                  module, argument, first + r + 1);
  }
  return true;
}

}  // namespace

bool check_template_geometry(const double *column_major, std::int32_t N, std::int32_t M,
                             const char *argument, const char *module, MessageBuffer &message) {
  const std::size_t height = static_cast<std::size_t>(N);
  const double *directions = column_major + static_cast<std::size_t>(M) * height;
  // Four rows at a time, each pass down the direction columns reading four
  // neighbouring values, so the sums stay in registers and the columns are
  // read in storage order.
  std::int32_t first = 0;
  for (; first + 4 <= N; first += 4) {
    DirectionSums sums[4];
    const double *column = directions + first;
    for (std::int32_t i = 0; i < M; ++i, column += height) {
      sums[0].add(column[0]);
      sums[1].add(column[1]);
      sums[2].add(column[2]);
      sums[3].add(column[3]);
    }
    if (!check_rows(column_major, height, M, first, sums, 4, argument, module, message))
      return false;
  }
  for (; first < N; ++first) {
    DirectionSums sums[1];
    const double *column = directions + first;
    for (std::int32_t i = 0; i < M; ++i, column += height) sums[0].add(column[0]);
    if (!check_rows(column_major, height, M, first, sums, 1, argument, module, message))
      return false;
  }
  return true;
}

bool check_template_values(const mxArray *templates, std::int32_t N, std::int32_t M,
                           const char *argument, const char *module, MessageBuffer &message) {
  return check_finite(templates, N > 0 ? 2 * M + 1 : 0, argument, template_value_advice, module,
                      message) &&
         check_template_geometry(mxGetPr(templates), N, M, argument, module, message);
}

}  // namespace qir
