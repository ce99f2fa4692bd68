// The summary that closes a classification pass.
#pragma once

#include <cstdint>

namespace qir {

struct PerformanceSummary {
  std::int32_t N = 0;  // nodes
  std::int32_t P = 0;  // patterns
  std::int32_t inactive_count = 0;
  std::int32_t unclassified_count = 0;
  std::uint32_t run_comparisons = 0;  // the call's comparisons outside count_ops
  std::int32_t elapsed_seconds = 0;
};

// Prints the summary with the module's running operation totals, to which
// the call's Tu flops and own comparisons are added.
void print_performance_summary(const PerformanceSummary &summary);

}  // namespace qir
