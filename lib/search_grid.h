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

// How one setting fared in cross-validation (mean percentages and nodes).
struct SettingScore {
  double accuracy = 0;
  double unknown = 0;
  double nodes = 0;
};

// The settings best first: higher accuracy, then fewer unclassified
// patterns, then fewer nodes; equal scores keep their grid order.
std::vector<std::size_t> rank_settings(const std::vector<SettingScore> &scores);

}  // namespace qircli
