// The greatest CFV among the nodes that passed the vigilance test, found
// over whole registers: once per training search, over nearly every node at
// vigilance 0, this costs a node-by-node loop about a fifth of the
// evaluation's time.
#pragma once

#include "node_block.h"

#include <cstdint>

namespace qir {

struct PassingMost {
  std::int64_t candidates = 0;  // slots set in `passing`
  double most = 0.0;            // their greatest CFV that is not NaN; -inf if none
  bool unordered = false;       // one of them is NaN
};

// Over the slots set in `passing` (a bit per slot, clear beyond the nodes)
// below `slots`: also each 64-slot word's own greatest CFV into
// word_most[word] (-inf for a word with none). A maximum does not depend on
// the order of its comparisons, but for the sign of a zero among equal
// zeros, which compare equal: the kernel only changes how the slots are
// grouped. Reads only below `slots`, a multiple of four.
PassingMost passing_most(MatchKernel kernel, const std::uint64_t *passing, std::int32_t slots,
                         const double *cfv, double *word_most);

}  // namespace qir
