// What a pattern's last search found is recalled only for blocks that did
// not change since; the memory starts afresh when the blocks outgrow it and
// is dropped when it would grow too large. (Whole training runs with it are
// checked against the plain search in packed_search_test.cpp.)
#include "search_memory.h"

#include "../support/allocation_failure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qir {
namespace {

const std::vector<std::uint8_t> failed = {15, 15, 7, 15};

std::vector<bool> held(const KnownFailures &known, std::int32_t blocks) {
  std::vector<bool> out;
  for (std::int32_t b = 0; b < blocks; ++b) out.push_back(known.hold(b));
  return out;
}

TEST(SearchMemory, RecallsOnlyBlocksUnchangedSinceTheSearch) {
  SearchMemory memory;
  memory.start(3, true);
  for (std::int32_t b = 0; b < 4; ++b) memory.block_changed(b);
  memory.next_search();
  EXPECT_EQ(memory.recall(1, 4).failing, nullptr);  // never searched
  memory.remember(1, 4, failed.data());
  memory.block_changed(3);  // learning after the search, in the same step
  memory.next_search();
  memory.block_changed(1);  // a later step
  KnownFailures known = memory.recall(1, 4);
  ASSERT_NE(known.failing, nullptr);
  EXPECT_EQ(held(known, 4), (std::vector<bool>{true, false, false, false}));
  EXPECT_EQ(memory.recall(0, 4).failing, nullptr);  // another pattern
  memory.next_search();
  // A fifth block no node was placed in counts as changed: unknown.
  known = memory.recall(1, 5);
  ASSERT_NE(known.failing, nullptr);
  EXPECT_FALSE(known.hold(4));
  // More blocks than were kept room for: the rows widen, keeping what
  // they held; the blocks beyond the old width are unknown to the others.
  for (std::int32_t b = 4; b < 40; ++b) memory.block_changed(b);
  memory.next_search();
  memory.remember(2, 40, std::vector<std::uint8_t>(40, 15).data());
  known = memory.recall(1, 40);
  ASSERT_NE(known.failing, nullptr);
  EXPECT_EQ(held(known, 4), (std::vector<bool>{true, false, false, false}));
  for (std::int32_t b = 4; b < 40; ++b) EXPECT_FALSE(known.hold(b)) << b;
  EXPECT_EQ(held(memory.recall(2, 40), 40), std::vector<bool>(40, true));
}

TEST(SearchMemory, MovedNodesAndOffMemoryRecallNothing) {
  SearchMemory memory;
  memory.start(2, true);
  memory.next_search();
  memory.remember(0, 4, failed.data());
  memory.all_changed();
  memory.next_search();
  const KnownFailures known = memory.recall(0, 4);
  ASSERT_NE(known.failing, nullptr);
  EXPECT_EQ(held(known, 4), std::vector<bool>(4, false));

  SearchMemory off;
  off.start(2, false);
  off.next_search();
  off.remember(0, 4, failed.data());
  EXPECT_EQ(off.recall(0, 4).failing, nullptr);

  // Five million patterns at 16 blocks would take 80 MB: dropped, not kept.
  SearchMemory large;
  large.start(5000000, true);
  large.next_search();
  large.remember(0, 4, failed.data());
  large.next_search();
  EXPECT_EQ(large.recall(0, 4).failing, nullptr);
}

// However many blocks there are, a row keeps only the memory's share per
// pattern: the first blocks, the others unknown. Rows that know of nothing
// take no room; the band of a row that does widens for its own patterns.
TEST(SearchMemory, KeepsTheFirstBlocksWithinItsShareAndOnlyRowsThatKnow) {
  SearchMemory narrow;
  const std::int32_t N = 3000000;  // 64 MB / N: 22 blocks a pattern
  narrow.start(N, true);
  ASSERT_EQ(narrow.widest(), 22);
  for (std::int32_t b = 0; b < 40; ++b) narrow.block_changed(b);
  narrow.next_search();
  narrow.remember(N - 1, 40, std::vector<std::uint8_t>(40, 15).data());
  narrow.next_search();
  narrow.remember(7, 40, std::vector<std::uint8_t>(40, 15).data());  // the last row goes back
  std::vector<bool> expected(40, false);
  std::fill(expected.begin(), expected.begin() + 22, true);
  EXPECT_EQ(held(narrow.recall(N - 1, 40), 40), expected);
  // The last band's patterns, and the first band's.
  const std::size_t last_band = (N - 1) % SearchMemory::band_patterns + 1;
  EXPECT_EQ(narrow.kept_bytes(), (last_band + SearchMemory::band_patterns) * 22);

  SearchMemory memory;
  memory.start(5000, true, true);
  for (std::int32_t b = 0; b < 100; ++b) memory.block_changed(b);
  const std::vector<std::uint8_t> nothing(100, 7);
  for (std::int32_t J = 0; J < 5000; ++J) {
    memory.next_search();
    memory.remember(J, 100, nothing.data());
  }
  memory.next_search();
  EXPECT_EQ(memory.kept_bytes(), 0u);
  EXPECT_EQ(held(memory.recall(4999, 100), 100), std::vector<bool>(100, false));
  // A gap is worth keeping too: the band of pattern 2100 widens, for the
  // failing lanes and the gaps of its patterns, and so does pattern 10's.
  memory.remember(2100, 100, nothing.data());
  memory.gaps(2100)[99] = 3;
  memory.next_search();
  std::vector<std::uint8_t> row = nothing;
  std::copy(failed.begin(), failed.end(), row.begin());
  memory.remember(10, 100, row.data());
  memory.next_search();
  const KnownFailures known = memory.recall(2100, 100);
  ASSERT_NE(known.gaps, nullptr);
  EXPECT_EQ(known.gaps[99], 3);
  EXPECT_EQ(known.failing[99], 7);
  EXPECT_EQ(memory.kept_bytes(), 2u * 2u * SearchMemory::band_patterns * 128);
}

// Whichever of its allocations fails, the memory is dropped and recalls
// nothing more; the search goes on as if it had never been kept.
TEST(SearchMemory, AnAllocationFailureDropsTheMemoryAndNothingElse) {
  const std::vector<std::uint8_t> wide(40, 15);
  for (long k = 0;; ++k) {
    SearchMemory memory;
    memory.start(3, true);
    qirtest::fail_allocation_after(k);
    EXPECT_NO_THROW({
      for (std::int32_t b = 0; b < 4; ++b) memory.block_changed(b);
      memory.next_search();
      memory.remember(1, 4, failed.data());
      memory.block_changed(30);
      memory.next_search();
      memory.remember(2, 40, wide.data());
      memory.next_search();
      memory.recall(2, 40);  // room for the blocks no node was placed in
    }) << "failing allocation " << k;
    const bool dropped = qirtest::allocation_failed();
    qirtest::fail_allocation_after(-1);
    const KnownFailures known = memory.recall(2, 40);
    if (!dropped) {
      EXPECT_NE(known.failing, nullptr);  // every allocation was tried
      EXPECT_GE(k, 4);
      return;
    }
    EXPECT_EQ(known.failing, nullptr) << "failing allocation " << k;
  }
}

}  // namespace
}  // namespace qir
