// Tests on the values of the matrix and label arguments: what would
// silently corrupt a run is refused before anything is allocated.
#pragma once

#include "messages.h"
#include "mex_api.h"

#include <cstdint>

namespace qir {

// Row and column, counted from 0, of a matrix element.
struct Cell {
  std::int32_t row = -1;
  std::int32_t col = -1;
  bool found() const { return row >= 0; }
};

// The first NaN or infinity in row order (lowest row, then lowest column)
// among the first `cols` columns of a column-major rows x cols block; none
// found: row -1. One pass in storage order.
Cell first_non_finite(const double *column_major, std::int32_t rows, std::int32_t cols);

// Refuses a full real double matrix holding a NaN or infinity in its first
// `cols` columns, naming `argument` (e.g. "8th input argument (Patterns)")
// and the first such element, 1-based, followed by `advice`: what to do.
bool check_finite(const mxArray *array, std::int32_t cols, const char *argument,
                  const char *advice, const char *module, MessageBuffer &message);

// Advice for a non-finite value in patterns, and in template rows.
constexpr const char *pattern_value_advice = "drop that pattern or give it a number there";
constexpr const char *template_value_advice = "the nodes are damaged; train them again";

// True when every value is a whole number (no fraction, finite).
bool all_whole(const double *values, std::size_t n);

}  // namespace qir
