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
//
// The rows live in bands of patterns, each band as wide as its patterns'
// searches needed, widened a band at a time (never a whole table at once,
// so nothing is zero-filled or copied beyond one band) and never wider
// than the memory's share per pattern allows: the blocks beyond that width
// are simply not remembered (recalled as unknown), so the memory stays
// useful for the older, settled blocks however many nodes grow. The
// pattern being searched works on a copy of its row (its stage), written
// back when another pattern's row is needed.
// Being only a shortcut, the memory never fails a call: when it cannot
// have the room it needs, it is dropped for the rest of the call.
#pragma once

#include "node_block.h"

#include <cstddef>
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
  // Valid until another pattern's row is used.
  KnownFailures recall(std::int32_t J, std::int32_t blocks);
  // Keeps what pattern J's search found (`failing`: per block, a bit per
  // lane that failed lying outside or holds no node).
  void remember(std::int32_t J, std::int32_t blocks, const std::uint8_t *failing);
  // Pattern J's choice gaps, one byte per block, for the blocks of its last
  // remember(); null when none are kept. best_cfv and winner_mfv are what
  // they are measured from (NaN: nothing). Valid as recall's.
  std::uint8_t *gaps(std::int32_t J);
  double &best_cfv(std::int32_t J) { return best_cfv_[J]; }
  double &winner_mfv(std::int32_t J) { return winner_mfv_[J]; }
  // A node in block b was added or changed.
  void block_changed(std::int32_t b);
  // The nodes moved to other blocks.
  void all_changed();
  // Blocks remembered per pattern at most (0 when the memory is off).
  std::int32_t widest() const { return widest_; }
  // Bytes the rows take, both tables.
  std::size_t kept_bytes() const;

  // Patterns per band.
  static constexpr std::int32_t band_patterns = 1024;
  // Bands widen by this many blocks at a time.
  static constexpr std::int32_t width_step = 64;

 private:
  struct Band {
    std::int32_t width = 0;            // blocks kept per pattern
    std::vector<std::uint8_t> failing;  // [pattern][block]
    std::vector<std::uint8_t> gaps;     // [pattern][block], when kept
  };
  // Pattern J's row in the stage, covering at least `blocks` blocks (those
  // never kept recalled as unknown); false when the memory was dropped.
  bool open(std::int32_t J, std::int32_t blocks);
  void write_back();
  bool worth_keeping() const;
  bool widen(Band &band, std::int32_t blocks);
  // Room for a change time per block; false when the memory was dropped.
  bool cover_blocks(std::int32_t blocks);
  void drop() { start(N_, false); }

  bool enabled_ = false;
  bool with_gaps_ = false;
  std::int32_t N_ = 0;
  std::int32_t widest_ = 0;  // blocks a band may keep per pattern
  std::vector<Band> bands_;
  std::vector<double> best_cfv_;  // per pattern, when gaps are kept
  std::vector<double> winner_mfv_;
  std::vector<std::uint64_t> searched_at_;  // per pattern; 0: never
  std::vector<std::uint64_t> changed_at_;   // per block
  std::uint64_t now_ = 0;
  // The open row: its pattern (-1: none), its blocks, and whether it
  // changed since it was read.
  std::int32_t open_ = -1;
  std::int32_t open_blocks_ = 0;
  bool open_changed_ = false;
  std::vector<std::uint8_t> stage_failing_;
  std::vector<std::uint8_t> stage_gaps_;
};

}  // namespace qir
