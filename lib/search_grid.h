// The grid that `qir search` tries. D is given relative to sqrt(M), the
// diagonal of the unit cube that scaled features fill, so one grid suits
// data of any width.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model_file.h"

namespace qircli {

// Every combination of the grid's values, the other parameters at their
// defaults, for data of `features` features; in a fixed order.
std::vector<TrainingParams> search_grid(std::size_t features);

// The grid's values, for the help text.
std::string search_grid_text();

}  // namespace qircli
