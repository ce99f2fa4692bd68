// Conversions between host arrays (column-major) and the modules' own
// arrays. An unsuitable host array draws a warning and gives no result; a
// refused allocation throws std::bad_alloc. Conversions out consume the
// module array only when they succeed.
#pragma once

#include "host_memory.h"

#include <cstdint>
#include <optional>

namespace qir {

// A row or column into a module vector; writes its length to n.
std::optional<HostVector> mxArray1D_to_cArray1D(std::int32_t &n, const mxArray *array);

// A matrix into rows of doubles; writes its sizes to rows and cols.
std::optional<HostRows> mxArray2D_to_cArray2D(std::int32_t &rows, std::int32_t &cols,
                                              const mxArray *array);

// A module vector into a new n x 1 host array; releases the vector.
mxArray *cArray1D_to_mxArray1D(std::int32_t n, HostVector &vector);

// Rows of doubles into a new rows x cols host matrix; releases the rows.
mxArray *cArray2D_to_mxArray2D(std::int32_t rows, std::int32_t cols, HostRows &matrix);

}  // namespace qir
