// One-line advice after a run whose outcome suggests poor parameters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qircli {

// When training made a node for more than 90% of its patterns, the model
// has learned the patterns by heart and will leave new ones unclassified.
// More nodes than patterns: presentations kept adding nodes (D = 0, or a
// pattern with two labels).
std::optional<std::string> training_hint(std::size_t nodes, std::size_t patterns);

// When training stopped at its presentation limit without converging.
std::optional<std::string> presentation_limit_hint(double presentations, double limit);

// When classification left more than 10% of the patterns unclassified.
std::optional<std::string> classification_hint(std::size_t unknown, std::size_t patterns);

}  // namespace qircli
