// Shape, class and value tests shared by the entry points.
#pragma once

#include "mex_api.h"

#include <cstdint>
#include <optional>

namespace qir {

bool is_two_dimensional(const mxArray *array);

// Two dimensions with a size of 1 among them (any row or column), holding
// at least one numeric or logical value to read as the scalar.
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
