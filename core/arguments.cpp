#include "arguments.h"

#include <cmath>
#include <limits>

namespace qir {

bool is_two_dimensional(const mxArray *array) {
  return mxGetNumberOfDimensions(array) == 2;
}

bool is_scalar_shaped(const mxArray *array) {
  if (!is_two_dimensional(array)) return false;
  const mwSize *dims = mxGetDimensions(array);
  if (dims[0] != 1 && dims[1] != 1) return false;
  // An empty row has no value to read, and cells, structs and text are no
  // numbers.
  return !mxIsEmpty(array) && (mxIsNumeric(array) || mxIsLogical(array));
}

bool is_full_real_double(const mxArray *array) {
  return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array);
}

bool fits_counts(const mxArray *array) {
  const mwSize count = mxGetNumberOfDimensions(array);
  const mwSize *dims = mxGetDimensions(array);
  for (mwSize k = 0; k < count; ++k) {
    if (static_cast<std::uint64_t>(dims[k]) >
        static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
      return false;
  }
  return true;
}

std::optional<std::int32_t> truncate_to_int(double value) {
  const double truncated = std::trunc(value);  // NaN stays NaN and fails below
  if (!(truncated >= std::numeric_limits<std::int32_t>::min() &&
        truncated <= std::numeric_limits<std::int32_t>::max()))
    return std::nullopt;
  return static_cast<std::int32_t>(truncated);
}

bool all_truncate_to_int(const double *values, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k)
    if (!truncate_to_int(values[k])) return false;
  return true;
}

}  // namespace qir
