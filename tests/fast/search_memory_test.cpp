// What a pattern's last search found is recalled only for blocks that did
// not change since; the memory starts afresh when the blocks outgrow it and
// is dropped when it would grow too large. (Whole training runs with it are
// checked against the plain search in packed_search_test.cpp.)
#include "search_memory.h"

#include "../support/allocation_failure.h"

#include <gtest/gtest.h>

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
