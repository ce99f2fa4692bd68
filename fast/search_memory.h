// What each training pattern's last search found: per block of packed
// nodes, which nodes failed the vigilance test lying outside. The test of
// an unchanged node against the same pattern at the same vigilance gives
// the same result, so a block whose nodes all failed, none of which has
// changed since, fails again: the next search of that pattern skips it
// (counted as the evaluation would have been). Over the later list
// presentations, where few nodes still change, most blocks are skipped so.
// With the choice gaps kept too (choice_gaps.h), the blocks whose nodes
// stayed well below the pattern's best choice value are left unevaluated
// as long as they do not change.
// Being only a shortcut, the memory never fails a call: when it cannot
// have the room it needs, it is dropped for the rest of the call.
#pragma once

#include "node_block.h"

#include <cstdint>
#include <vector>

namespace qir {

class SearchMemory {
 public:
  // For N patterns; `enabled` false: nothing is kept or recalled;
  // `with_gaps`: the choice gaps are kept too.
  void start(std::int32_t N, bool enabled, bool with_gaps = false);
  // A new search begins: nodes changed from now on count as changed after it.
  void next_search() { ++now_; }
  // The blocks known to fail for pattern J, of the first `blocks` blocks.
  KnownFailures recall(std::int32_t J, std::int32_t blocks);
  // Keeps what pattern J's search found (`failing`: per block, a bit per
  // lane that failed lying outside or holds no node).
  void remember(std::int32_t J, std::int32_t blocks, const std::uint8_t *failing);
  // Pattern J's choice gaps, one byte per block, for the blocks of its last
  // remember(); null when none are kept. best_cfv and winner_mfv are what
  // they are measured from (NaN: nothing).
  std::uint8_t *gaps(std::int32_t J);
  double &best_cfv(std::int32_t J) { return best_cfv_[J]; }
  double &winner_mfv(std::int32_t J) { return winner_mfv_[J]; }
  // A node in block b was added or changed.
  void block_changed(std::int32_t b);
  // The nodes moved to other blocks.
  void all_changed();

 private:
  void widen(std::int32_t blocks);
  // Rows of old_stride bytes per pattern, copied into rows of `stride`.
  std::vector<std::uint8_t> widened(const std::vector<std::uint8_t> &rows,
                                    std::int32_t old_stride, std::int32_t stride) const;
  // Room for a change time per block; false when the memory was dropped.
  bool cover_blocks(std::int32_t blocks);

  bool enabled_ = false;
  bool with_gaps_ = false;
  std::int32_t N_ = 0;
  std::int32_t stride_ = 0;            // blocks kept per pattern
  std::vector<std::uint8_t> failing_;  // [pattern][block]
  std::vector<std::uint8_t> gaps_;     // [pattern][block], when kept
  std::vector<double> best_cfv_;       // per pattern, when gaps are kept
  std::vector<double> winner_mfv_;
  std::vector<std::uint64_t> searched_at_;  // per pattern; 0: never
  std::vector<std::uint64_t> changed_at_;   // per block
  std::uint64_t now_ = 0;
};

}  // namespace qir
