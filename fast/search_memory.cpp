#include "search_memory.h"

#include "byte_lanes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace qir {

namespace {

// What each table (failing lanes, gaps) may take: a pattern keeps at most
// this share of blocks; fewer than 16 would be worth less than keeping it.
constexpr std::size_t largest_memory = std::size_t{64} << 20;
constexpr std::size_t fewest_blocks = 16;

std::int32_t rounded_width(std::int32_t blocks, std::int32_t widest) {
  const std::int32_t step = SearchMemory::width_step;
  return std::min(widest, (blocks + step - 1) / step * step);
}

}  // namespace

void SearchMemory::start(std::int32_t N, bool enabled, bool with_gaps) {
  *this = SearchMemory();
  const std::size_t share = N > 0 ? largest_memory / static_cast<std::size_t>(N) : 0;
  enabled_ = enabled && N > 0 && share >= fewest_blocks;
  with_gaps_ = enabled_ && with_gaps;
  N_ = N;
  widest_ = enabled_ ? static_cast<std::int32_t>(std::min<std::size_t>(share, 1u << 30)) : 0;
}

// Every allocation here is for a shortcut only: when one fails, the memory
// is dropped for the rest of the call and training goes on without it.
bool SearchMemory::open(std::int32_t J, std::int32_t blocks) {
  try {
    if (open_ != J) {
      write_back();
      if (!enabled_) return false;
      const Band &band = bands_[static_cast<std::size_t>(J / band_patterns)];
      const std::size_t width = static_cast<std::size_t>(band.width);
      const std::size_t row = static_cast<std::size_t>(J % band_patterns) * width;
      if (stage_failing_.size() < width) stage_failing_.resize(width);
      if (width > 0) std::memcpy(stage_failing_.data(), band.failing.data() + row, width);
      if (with_gaps_) {
        if (stage_gaps_.size() < width) stage_gaps_.resize(width);
        if (width > 0) std::memcpy(stage_gaps_.data(), band.gaps.data() + row, width);
      }
      open_ = J;
      open_blocks_ = band.width;
      open_changed_ = false;
    }
    if (blocks > open_blocks_) {
      // Blocks the row does not keep are unknown: no lane known to fail,
      // no gap.
      const std::size_t n = static_cast<std::size_t>(blocks);
      if (stage_failing_.size() < n) stage_failing_.resize(n);
      std::fill(stage_failing_.begin() + open_blocks_, stage_failing_.begin() + blocks, 0);
      if (with_gaps_) {
        if (stage_gaps_.size() < n) stage_gaps_.resize(n);
        std::fill(stage_gaps_.begin() + open_blocks_, stage_gaps_.begin() + blocks, 0);
      }
      open_blocks_ = blocks;
    }
    return true;
  } catch (const std::bad_alloc &) {
    drop();
    return false;
  }
}

void SearchMemory::write_back() {
  if (open_ < 0) return;
  const std::int32_t J = open_;
  open_ = -1;
  if (!open_changed_) return;
  Band &band = bands_[static_cast<std::size_t>(J / band_patterns)];
  // A row that knows of no block failing and keeps no gap recalls nothing:
  // it widens no band (most rows, where nearly every node passes the
  // vigilance test and the gaps are not kept).
  const std::int32_t need = rounded_width(open_blocks_, widest_);
  if (need > band.width && worth_keeping() && !widen(band, need)) return;
  // The stage past its blocks may hold another pattern's bytes.
  const std::size_t kept = static_cast<std::size_t>(std::min(open_blocks_, band.width));
  const std::size_t width = static_cast<std::size_t>(band.width);
  const std::size_t row = static_cast<std::size_t>(J % band_patterns) * width;
  if (width == 0) return;
  std::memcpy(band.failing.data() + row, stage_failing_.data(), kept);
  std::memset(band.failing.data() + row + kept, 0, width - kept);
  if (with_gaps_) {
    std::memcpy(band.gaps.data() + row, stage_gaps_.data(), kept);
    std::memset(band.gaps.data() + row + kept, 0, width - kept);
  }
}

// Eight blocks at a time: nearly every row at vigilance 0 knows nothing,
// and each is read whole.
bool SearchMemory::worth_keeping() const {
  using namespace byte_lanes;
  std::uint64_t known = 0;
  const std::uint8_t *failing = stage_failing_.data();
  const std::uint8_t *gaps = stage_gaps_.data();
  std::int32_t b = 0;
  for (; b + 8 <= open_blocks_; b += 8) {
    known |= low_nibble_at_least(load8(failing + b), 15);
    if (with_gaps_) known |= load8(gaps + b);
  }
  for (; b < open_blocks_; ++b) {
    known |= (failing[b] & 15u) == 15u;
    if (with_gaps_) known |= gaps[b];
  }
  return known != 0;
}

// What was kept moves to the wider rows; the blocks beyond the old width
// are unknown (zero: no lane known to fail, no gap).
bool SearchMemory::widen(Band &band, std::int32_t width) {
  const std::int32_t first = static_cast<std::int32_t>(&band - bands_.data()) * band_patterns;
  const std::size_t patterns = static_cast<std::size_t>(std::min(band_patterns, N_ - first));
  const std::size_t old_width = static_cast<std::size_t>(band.width);
  const auto widened = [&](const std::vector<std::uint8_t> &rows) {
    std::vector<std::uint8_t> wide(patterns * static_cast<std::size_t>(width), 0);
    for (std::size_t j = 0; old_width > 0 && j < patterns; ++j)
      std::memcpy(wide.data() + j * width, rows.data() + j * old_width, old_width);
    return wide;
  };
  try {
    std::vector<std::uint8_t> failing = widened(band.failing);
    std::vector<std::uint8_t> gaps = with_gaps_ ? widened(band.gaps) : std::vector<std::uint8_t>();
    band.failing.swap(failing);
    band.gaps.swap(gaps);
    band.width = width;
    return true;
  } catch (const std::bad_alloc &) {
    drop();
    return false;
  }
}

bool SearchMemory::cover_blocks(std::int32_t blocks) {
  if (changed_at_.size() >= static_cast<std::size_t>(blocks)) return true;
  try {
    // Blocks no node was ever placed in count as changed now.
    changed_at_.resize(static_cast<std::size_t>(blocks), now_);
    return true;
  } catch (const std::bad_alloc &) {
    drop();
    return false;
  }
}

KnownFailures SearchMemory::recall(std::int32_t J, std::int32_t blocks) {
  if (!enabled_ || searched_at_.empty() || searched_at_[J] == 0) return KnownFailures();
  if (!cover_blocks(blocks) || !open(J, blocks)) return KnownFailures();
  return KnownFailures{stage_failing_.data(), changed_at_.data(), searched_at_[J],
                       with_gaps_ ? stage_gaps_.data() : nullptr,
                       with_gaps_ ? best_cfv_[J] : 0.0};
}

std::uint8_t *SearchMemory::gaps(std::int32_t J) {
  if (!enabled_ || !with_gaps_ || searched_at_.empty() || searched_at_[J] == 0) return nullptr;
  if (!open(J, 0)) return nullptr;
  // Handed out to be written.
  open_changed_ = true;
  return stage_gaps_.data();
}

void SearchMemory::remember(std::int32_t J, std::int32_t blocks, const std::uint8_t *failing) {
  if (!enabled_) return;
  if (searched_at_.empty()) {
    try {
      searched_at_.assign(static_cast<std::size_t>(N_), 0);
      bands_.resize(static_cast<std::size_t>((N_ + band_patterns - 1) / band_patterns));
      if (with_gaps_) {
        best_cfv_.assign(static_cast<std::size_t>(N_), std::numeric_limits<double>::quiet_NaN());
        winner_mfv_.assign(static_cast<std::size_t>(N_), std::numeric_limits<double>::quiet_NaN());
      }
    } catch (const std::bad_alloc &) {
      drop();
      return;
    }
  }
  if (!open(J, blocks)) return;
  std::memcpy(stage_failing_.data(), failing, static_cast<std::size_t>(blocks));
  // Nothing is known any more of blocks beyond these.
  open_blocks_ = blocks;
  open_changed_ = true;
  searched_at_[J] = now_;
}

void SearchMemory::block_changed(std::int32_t b) {
  if (!enabled_ || !cover_blocks(b + 1)) return;
  changed_at_[b] = now_;
}

std::size_t SearchMemory::kept_bytes() const {
  std::size_t bytes = 0;
  for (const Band &band : bands_) bytes += band.failing.size() + band.gaps.size();
  return bytes;
}

void SearchMemory::all_changed() { std::fill(changed_at_.begin(), changed_at_.end(), now_); }

}  // namespace qir
