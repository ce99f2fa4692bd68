#include "stream_plan.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "../base/errors.h"
#include "presentation_order.h"

namespace qir {

StreamPlan stream_plan(const std::vector<double> &labels, int batches, std::uint64_t seed) {
  const std::size_t n = labels.size();
  const std::size_t tests = static_cast<std::size_t>(std::llround(0.2 * static_cast<double>(n)));
  if (batches < 1 || static_cast<std::size_t>(batches) > n - tests)
    throw UsageError("the stream needs from 1 to " + std::to_string(n - tests) + " batches");
  VotingSettings every_row{1, seed, true};
  every_row.max_samples = 0;
  const auto order = presentation_order(n, every_row, 0);
  StreamPlan plan;
  plan.test.assign(order.begin(), order.begin() + static_cast<long>(tests));
  plan.late_class = *std::max_element(labels.begin(), labels.end());

  // The first half of the batches takes the first patterns of other
  // classes; the rest follow in the shuffled order, the late class among them.
  const std::vector<std::size_t> rest(order.begin() + static_cast<long>(tests), order.end());
  const auto edge = [&](int b) {
    return static_cast<std::size_t>(std::llround(static_cast<double>(rest.size()) * b / batches));
  };
  const int early_batches = batches / 2;
  std::vector<std::size_t> stream, later;
  for (std::size_t row : rest) {
    if (stream.size() < edge(early_batches) && labels[row] != plan.late_class)
      stream.push_back(row);
    else
      later.push_back(row);
  }
  stream.insert(stream.end(), later.begin(), later.end());
  for (int b = 0; b < batches; ++b)
    plan.batches.emplace_back(stream.begin() + static_cast<long>(edge(b)),
                              stream.begin() + static_cast<long>(edge(b + 1)));
  // Halfway, unless the other classes are too few to fill the first half.
  plan.late_batch = 0;
  while (plan.late_batch + 1 < plan.batches.size() &&
         std::none_of(plan.batches[plan.late_batch].begin(), plan.batches[plan.late_batch].end(),
                      [&](std::size_t row) { return labels[row] == plan.late_class; }))
    ++plan.late_batch;
  return plan;
}

}  // namespace qir
