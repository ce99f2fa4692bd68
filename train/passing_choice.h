// The winner among the nodes that passed the vigilance test, when they are
// all candidates (no CT): as CandidateChoice (search.h) would choose them
// visited in node order, from the slots set in `passing` and the CFVs by
// slot.
#pragma once

#include "node_block.h"
#include "passing_most.h"
#include "portability.h"
#include "search.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qir {

struct PassingChoice {
  std::int64_t candidates = 0;
  std::int32_t winner = -1;
};

// The greatest CFV wins, the lowest-numbered node among equals; only a NaN
// CFV can make the lowest-numbered candidate win instead, and then
// CandidateChoice decides, the candidates given one by one. The greatest
// CFV is found over whole registers (passing_most.h), then the
// lowest-numbered node that has it from a mask of the slots that equal it,
// 64 at a time, in the words whose own greatest CFV (`word_most`, room for
// a word per 64 slots) is that one. Reads the CFV of every slot below
// `slots` (a multiple of four, `passing` clear beyond the nodes).
inline PassingChoice choose_passing(MatchKernel kernel, const PackedNodes &packed,
                                    const std::uint64_t *passing, std::int32_t slots,
                                    const double *cfv, double *word_most) {
  const std::int32_t words = (slots + 63) / 64;
  const PassingMost found = passing_most(kernel, passing, slots, cfv, word_most);
  const std::int64_t candidates = found.candidates;
  const double best_cfv = found.most;
  const bool nan = found.unordered;
  if (candidates == 0) return PassingChoice();
  if (nan) {
    CandidateChoice choice;
    for (std::int32_t w = 0; w < words; ++w)
      for (std::uint64_t bits = passing[w]; bits != 0; bits &= bits - 1) {
        const std::int32_t slot = w * 64 + qir_count_trailing_zeros(bits);
        choice.add(packed.node_at(slot), cfv[slot]);
      }
    return PassingChoice{candidates, choice.winner()};
  }
  // In node order the first slot found is the lowest-numbered node.
  std::int32_t best = std::numeric_limits<std::int32_t>::max();
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t bits = passing[w];
    if (bits == 0 || !(word_most[w] == best_cfv)) continue;
    const std::int32_t end = std::min(64, slots - w * 64);
    const double *c = cfv + static_cast<std::ptrdiff_t>(w) * 64;
    std::uint64_t equal = 0;
    for (std::int32_t k = 0; k < end; ++k)
      equal |= static_cast<std::uint64_t>(c[k] == best_cfv) << k;
    equal &= bits;
    if (equal != 0 && packed.in_node_order())
      return PassingChoice{candidates, w * 64 + qir_count_trailing_zeros(equal)};
    for (; equal != 0; equal &= equal - 1)
      best = std::min(best, packed.node_at(w * 64 + qir_count_trailing_zeros(equal)));
  }
  return PassingChoice{candidates, best};
}

}  // namespace qir
