// The order in which an ensemble's member sees the patterns: member k
// (1-based) draws its order from xorshift64* seeded with splitmix64(seed +
// k), by Fisher-Yates from the last position down (j = below(i + 1) for
// i = N-1 .. 1). A model continued on a further batch (its b-th, b >= 1
// counting the first fit as 0) seeds member k's order on that batch with
// splitmix64(splitmix64(seed + k) + b), so a stream fed in the same batches
// gives the same members. Without shuffling every member keeps the given
// order. Host-free, so that the toolbox's library module draws the same
// orders as the command and Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../model/model_file.h"

namespace qir {

// The position in the data of each pattern that member `member` (0-based)
// sees, in the order it sees them, on the model's `batch`-th training call
// (0: the first fit).
std::vector<std::size_t> presentation_order(std::size_t patterns, const VotingSettings &voting,
                                            int member, std::uint64_t batch = 0);

}  // namespace qir
