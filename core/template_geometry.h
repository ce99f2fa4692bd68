// Template rows that no training produces: a negative radius, or a
// direction that is neither all zeros (a point node) nor of unit length.
// Either would silently skew every match against that node.
#pragma once

#include "messages.h"
#include "mex_api.h"

#include <cstdint>

namespace qir {

// How far from 1 the length of a learned direction may lie. Training
// divides by the length once, which leaves it within a few units in the
// last place of 1 (measured deviations stay below 1e-15); this bound is
// far outside that, and far inside any direction scaled by mistake.
constexpr double direction_length_tolerance = 1e-6;

// Tests the N rows of a column-major Templates matrix of M features, whose
// values are known to be finite. Refuses the first row, 1-based, that fails,
// naming `argument` (e.g. "1st input argument (Templates)").
bool check_template_geometry(const double *column_major, std::int32_t N, std::int32_t M,
                             const char *argument, const char *module, MessageBuffer &message);

// The values of a full real double Templates matrix of N rows whose first
// 2M+1 columns are read: all finite, then the geometry above.
bool check_template_values(const mxArray *templates, std::int32_t N, std::int32_t M,
                           const char *argument, const char *module, MessageBuffer &message);

}  // namespace qir
