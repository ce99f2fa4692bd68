// The winner among the nodes that passed the vigilance test, when they are
// all candidates (no CT): as CandidateChoice (search.h) would choose them
// visited in node order, from the slots set in `passing` and the CFVs by
// slot.
#pragma once

#include "node_block.h"
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
// CFV is found over every slot of a block of four at once, each lane its
// own maximum held in a register, a lane outside `passing` taking -inf: no
// branch on a node's outcome and no store between nodes, which is what
// this costs once per training search over nearly every node at vigilance
// 0. A maximum does not depend on the order of its comparisons, so the
// lanes' maxima combine to the same value. Then the lowest-numbered node
// with that CFV is found from a mask of the slots that equal it, 64 at a
// time, in the words whose own greatest CFV (kept in `word_most`, room for
// a word per 64 slots) is that one. Reads the CFV of every slot below
// `slots` (a multiple of four, `passing` clear beyond the nodes).
inline PassingChoice choose_passing(const PackedNodes &packed, const std::uint64_t *passing,
                                    std::int32_t slots, const double *cfv, double *word_most) {
  constexpr double infinite = std::numeric_limits<double>::infinity();
  const std::int32_t words = (slots + 63) / 64;
  std::int64_t candidates = 0;
  double best_cfv = -infinite;
  bool nan = false;
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t bits = passing[w];
    word_most[w] = -infinite;
    if (bits == 0) continue;
    const std::int32_t end = std::min(64, slots - w * 64);
    const double *c = cfv + static_cast<std::ptrdiff_t>(w) * 64;
    double most0 = -infinite, most1 = -infinite, most2 = -infinite, most3 = -infinite;
    if (bits == ~std::uint64_t{0} && end == 64) {
      // At vigilance 0 nearly every node passes: nothing to mask.
      candidates += 64;
      for (std::int32_t k = 0; k < 64; k += 4) {
        nan |= (c[k] != c[k]) | (c[k + 1] != c[k + 1]) | (c[k + 2] != c[k + 2]) |
               (c[k + 3] != c[k + 3]);
        most0 = c[k] > most0 ? c[k] : most0;
        most1 = c[k + 1] > most1 ? c[k + 1] : most1;
        most2 = c[k + 2] > most2 ? c[k + 2] : most2;
        most3 = c[k + 3] > most3 ? c[k + 3] : most3;
      }
    } else {
      for (std::int32_t k = 0; k < end; k += 4) {
        const std::uint64_t lanes = bits >> k;
        candidates += static_cast<std::int64_t>((lanes & 1u) + ((lanes >> 1) & 1u) +
                                                ((lanes >> 2) & 1u) + ((lanes >> 3) & 1u));
        const double c0 = (lanes & 1u) != 0 ? c[k] : -infinite;
        const double c1 = (lanes & 2u) != 0 ? c[k + 1] : -infinite;
        const double c2 = (lanes & 4u) != 0 ? c[k + 2] : -infinite;
        const double c3 = (lanes & 8u) != 0 ? c[k + 3] : -infinite;
        nan |= (c0 != c0) | (c1 != c1) | (c2 != c2) | (c3 != c3);
        most0 = c0 > most0 ? c0 : most0;
        most1 = c1 > most1 ? c1 : most1;
        most2 = c2 > most2 ? c2 : most2;
        most3 = c3 > most3 ? c3 : most3;
      }
    }
    word_most[w] = std::max(std::max(most0, most1), std::max(most2, most3));
    best_cfv = std::max(best_cfv, word_most[w]);
  }
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
