// The update of a node by a pattern of its own class.
#pragma once

#include "node.h"

#include <cstdint>

namespace qir {

// Moves the node toward the pattern and grows it by learning_rate of the
// excess that its last node_match against this same pattern left; the
// first update also gives it its direction. Returns 1 when the node
// changed, 0 (counting nothing) when the pattern lay inside.
std::int32_t node_learn(Node &node, const double *pattern);

}  // namespace qir
