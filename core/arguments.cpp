#include "arguments.h"

#include <cmath>
#include <limits>
#include <optional>

namespace qir {

bool is_two_dimensional(const mxArray *array) {
  return mxGetNumberOfDimensions(array) == 2;
}

bool is_scalar_shaped(const mxArray *array) {
  if (!is_two_dimensional(array)) return false;
  const mwSize *dims = mxGetDimensions(array);
  if (dims[0] != 1 && dims[1] != 1) return false;
  // An empty row has no value to read, and cells, structs and text are no
  // numbers. Nor is a complex or sparse value read as its real part.
  return !mxIsEmpty(array) && (mxIsNumeric(array) || mxIsLogical(array)) &&
         !mxIsComplex(array) && !mxIsSparse(array);
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

namespace qir {

bool read_real(const mxArray *array, const char *module, const char *shape_message,
               const char *range_message, bool (*holds)(double), double &value,
               MessageBuffer &message) {
  if (!is_scalar_shaped(array)) return fail(message, shape_message, module);
  value = mxGetScalar(array);
  if (!holds(value)) return fail(message, range_message, module);
  return true;
}

bool read_int(const mxArray *array, const char *module, const char *shape_message,
              const char *range_message, bool (*holds)(std::int32_t), std::int32_t &value,
              MessageBuffer &message) {
  if (!is_scalar_shaped(array)) return fail(message, shape_message, module);
  const std::optional<std::int32_t> truncated = truncate_to_int(mxGetScalar(array));
  if (!truncated || !holds(*truncated)) return fail(message, range_message, module);
  value = *truncated;
  return true;
}

bool check_model_scalars(const mxArray *const inputs[4], const char *module,
                         ModelScalars &scalars, MessageBuffer &message) {
  const auto non_negative = [](double v) { return v >= 0.0; };
  return read_real(inputs[0], module, "%s: 3rd input argument (D) must be a scalar.",
                   "%s: 3rd input argument (D) must be non-negative.", non_negative, scalars.D,
                   message) &&
         read_real(inputs[1], module, "%s: 4th input argument (ratio) must be a scalar.",
                   "%s: 4th input argument (ratio) must be in (0.0, 1.0].",
                   [](double v) { return 0.0 < v && v <= 1.0; }, scalars.ratio, message) &&
         read_real(inputs[2], module, "%s: 5th input argument (vigilance) must be a scalar.",
                   "%s: 5th input argument (vigilance) must be in [0.0, 1.0].",
                   [](double v) { return 0.0 <= v && v <= 1.0; }, scalars.vigilance, message) &&
         read_real(inputs[3], module, "%s: 6th input argument (alpha) must be a scalar.",
                   "%s: 6th input argument (alpha) must be non-negative.", non_negative,
                   scalars.alpha, message);
}

bool check_label_vector(const mxArray *array, std::int32_t N, const char *argument,
                        const char *module, MessageBuffer &message) {
  if (!is_two_dimensional(array)) return fail(message, "%s: %s must a vector.", module, argument);
  if (!is_full_real_double(array))
    return fail(message, "%s: %s must be a full real double vector.", module, argument);
  const mwSize *dims = mxGetDimensions(array);
  const mwSize n = static_cast<mwSize>(N);
  if (!((dims[0] == 1 && dims[1] == n) || (dims[0] == n && dims[1] == 1)))
    return fail(message, "%s: %s must be of type  %dx1 or 1x%d.", module, argument, N, N);
  if (!all_truncate_to_int(mxGetPr(array), n))
    return fail(message, "%s: %s must hold labels that fit a 32-bit integer.", module, argument);
  return true;
}

}  // namespace qir
