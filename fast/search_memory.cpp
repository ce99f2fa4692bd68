#include "search_memory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace qir {

namespace {

// Beyond this (per byte kept per pattern and block) the memory is dropped
// for the rest of the call: it would cost more than the patterns themselves
// in most runs.
constexpr std::size_t largest_memory = std::size_t{64} << 20;

}  // namespace

void SearchMemory::start(std::int32_t N, bool enabled, bool with_gaps) {
  *this = SearchMemory();
  enabled_ = enabled && N > 0;
  with_gaps_ = enabled_ && with_gaps;
  N_ = N;
}

// Every allocation here is for a shortcut only: when one fails, the memory
// is dropped for the rest of the call and training goes on without it.
void SearchMemory::widen(std::int32_t blocks) {
  const std::int32_t stride = std::max({2 * stride_, blocks, 16});
  if (static_cast<std::size_t>(N_) * static_cast<std::size_t>(stride) > largest_memory) {
    start(N_, false);
    return;
  }
  // What was kept moves to the wider rows; the blocks beyond the old width
  // are newer than every search, so nothing is known of them.
  try {
    if (searched_at_.empty()) searched_at_.assign(static_cast<std::size_t>(N_), 0);
    failing_ = widened(failing_, stride_, stride);
    if (with_gaps_) {
      // A gap of 0 bounds nothing.
      gaps_ = widened(gaps_, stride_, stride);
      if (best_cfv_.empty()) {
        best_cfv_.assign(static_cast<std::size_t>(N_), std::numeric_limits<double>::quiet_NaN());
        winner_mfv_.assign(static_cast<std::size_t>(N_), std::numeric_limits<double>::quiet_NaN());
      }
    }
    stride_ = stride;
  } catch (const std::bad_alloc &) {
    start(N_, false);
  }
}

std::vector<std::uint8_t> SearchMemory::widened(const std::vector<std::uint8_t> &rows,
                                                std::int32_t old_stride, std::int32_t stride) const {
  std::vector<std::uint8_t> wide(static_cast<std::size_t>(N_) * static_cast<std::size_t>(stride), 0);
  // Rows never searched hold nothing worth copying.
  if (old_stride > 0)
    for (std::size_t J = 0; J < static_cast<std::size_t>(N_); ++J)
      if (searched_at_[J] != 0)
        std::memcpy(wide.data() + J * stride, rows.data() + J * old_stride,
                    static_cast<std::size_t>(old_stride));
  return wide;
}

bool SearchMemory::cover_blocks(std::int32_t blocks) {
  if (changed_at_.size() >= static_cast<std::size_t>(blocks)) return true;
  try {
    // Blocks no node was ever placed in count as changed now.
    changed_at_.resize(static_cast<std::size_t>(blocks), now_);
    return true;
  } catch (const std::bad_alloc &) {
    start(N_, false);
    return false;
  }
}

KnownFailures SearchMemory::recall(std::int32_t J, std::int32_t blocks) {
  if (!enabled_ || blocks > stride_ || searched_at_[J] == 0) return KnownFailures();
  if (!cover_blocks(blocks)) return KnownFailures();
  const std::size_t row = static_cast<std::size_t>(J) * stride_;
  return KnownFailures{failing_.data() + row, changed_at_.data(), searched_at_[J],
                       with_gaps_ ? gaps_.data() + row : nullptr,
                       with_gaps_ ? best_cfv_[J] : 0.0};
}

std::uint8_t *SearchMemory::gaps(std::int32_t J) {
  if (!enabled_ || !with_gaps_ || searched_at_.empty() || searched_at_[J] == 0) return nullptr;
  return gaps_.data() + static_cast<std::size_t>(J) * stride_;
}

void SearchMemory::remember(std::int32_t J, std::int32_t blocks, const std::uint8_t *failing) {
  if (!enabled_) return;
  if (blocks > stride_) widen(blocks);
  if (!enabled_) return;
  std::memcpy(failing_.data() + static_cast<std::size_t>(J) * stride_, failing,
              static_cast<std::size_t>(blocks));
  searched_at_[J] = now_;
}

void SearchMemory::block_changed(std::int32_t b) {
  if (!enabled_ || !cover_blocks(b + 1)) return;
  changed_at_[b] = now_;
}

void SearchMemory::all_changed() { std::fill(changed_at_.begin(), changed_at_.end(), now_); }

}  // namespace qir
