// One-line advice after a run whose outcome suggests poor parameters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qir {

// How a front end spells the options a hint suggests.
struct OptionNames {
  std::string D, vigilance, ratio, max_presentations, search;
};
const OptionNames &command_option_names();  // --D, ..., qir search
const OptionNames &toolbox_option_names();  // D, Vigilance, ..., qir_search

// When training made a node for more than 90% of its patterns, the model
// has learned the patterns by heart and will leave new ones unclassified.
// More nodes than patterns: presentations kept adding nodes (D = 0, or a
// pattern with two labels).
std::optional<std::string> training_hint(std::size_t nodes, std::size_t patterns,
                                         const OptionNames &names = command_option_names());

// When training stopped at its presentation limit without converging; not
// when the limit was the default and below the most, which large data
// reach by design (training_defaults.h).
std::optional<std::string> presentation_limit_hint(double presentations, double limit,
                                                   bool limit_given,
                                                   const OptionNames &names = command_option_names());

// When classification left more than 10% of the patterns unclassified.
std::optional<std::string> classification_hint(std::size_t unknown, std::size_t patterns,
                                               const OptionNames &names = command_option_names());

}  // namespace qir
