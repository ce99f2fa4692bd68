// Shape, class and value tests shared by the entry points.
#pragma once

#include "messages.h"
#include "mex_api.h"

#include <cstdint>
#include <optional>

namespace qir {

bool is_two_dimensional(const mxArray *array);

// Two dimensions with a size of 1 among them (any row or column), holding
// at least one real, full numeric or logical value to read as the scalar.
bool is_scalar_shaped(const mxArray *array);

// Data that can be read as doubles: full, real, double.
bool is_full_real_double(const mxArray *array);

// Every dimension fits the modules' signed 32-bit counts.
bool fits_counts(const mxArray *array);

// The double truncated toward zero, if that fits a signed 32-bit int.
std::optional<std::int32_t> truncate_to_int(double value);

// True when every value truncates to a signed 32-bit int (labels).
bool all_truncate_to_int(const double *values, std::size_t n);

}  // namespace qir

namespace qir {

// A scalar-shaped argument read as a double; refused with `range_message`
// unless `holds` (written so that NaN fails it).
bool read_real(const mxArray *array, const char *module, const char *shape_message,
               const char *range_message, bool (*holds)(double), double &value,
               MessageBuffer &message);

// A scalar-shaped argument truncated toward zero to an int; refused with
// `range_message` when NaN, beyond 32 bits, or not `holds`.
bool read_int(const mxArray *array, const char *module, const char *shape_message,
              const char *range_message, bool (*holds)(std::int32_t), std::int32_t &value,
              MessageBuffer &message);

// D, ratio, vigilance and alpha: the 3rd to 6th inputs of both modules,
// tested alike and in this order.
struct ModelScalars {
  double D = 0.0;
  double ratio = 0.0;
  double vigilance = 0.0;
  double alpha = 0.0;
};
bool check_model_scalars(const mxArray *const inputs[4], const char *module,
                         ModelScalars &scalars, MessageBuffer &message);

// Labels as a 1 x N or N x 1 real double vector whose values truncate to
// ints. `argument` names it in messages, e.g. "2nd input argument (PLabels)".
bool check_label_vector(const mxArray *array, std::int32_t N, const char *argument,
                        const char *module, MessageBuffer &message);

}  // namespace qir
