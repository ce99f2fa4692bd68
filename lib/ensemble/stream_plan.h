// How the stream demos deal a labelled data set into a stream: a test share
// kept aside, the rest in batches, and one class held back until halfway,
// so that every front end's demo feeds the same batches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qir {

struct StreamPlan {
  std::vector<std::size_t> test;                  // rows kept for testing
  std::vector<std::vector<std::size_t>> batches;  // rows of each batch, in stream order
  double late_class = 0;                          // the largest label
  std::size_t late_batch = 0;                     // 0-based batch where it first appears
                                                  // (halfway, when the others fill the first half)
};

// The rows are shuffled by the seed (the members' shuffle, seed + 0); the
// first fifth (rounded) is the test set; the rest is cut into `batches`
// batches of near-equal size, where the first half of the batches holds no
// pattern of the late class and the rest keeps the shuffled order.
// Throws UsageError for fewer than 1 batch or more batches than patterns.
StreamPlan stream_plan(const std::vector<double> &labels, int batches, std::uint64_t seed);

}  // namespace qir
