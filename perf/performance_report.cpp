#include "performance_report.h"

#include "console_number.h"
#include "mex_api.h"
#include "model.h"

namespace qir {

namespace {

// part x 100 / whole; an empty whole gives 0 rather than nan.
double percentage(std::int32_t part, std::int32_t whole) {
  if (whole == 0) return 0.0;
  return static_cast<double>(part) * 100.0 / static_cast<double>(whole);
}

}  // namespace

void print_performance_summary(const PerformanceSummary &summary) {
  mexPrintf("\nQIR performance phase summary\n");
  if (summary.inactive_count == 1)
    mexPrintf("%d inactive node detected ", summary.inactive_count);
  else
    mexPrintf("%d inactive nodes detected ", summary.inactive_count);
  mexPrintf("(%s%%)\n", format_fixed(percentage(summary.inactive_count, summary.N)).text);
  if (summary.unclassified_count > 0) {
    mexPrintf("unable to classify %d patterns ", summary.unclassified_count);
    mexPrintf("(%s%%)\n", format_fixed(percentage(summary.unclassified_count, summary.P)).text);
  }
  // Unsigned 32-bit sums: the totals wrap like the counters themselves.
  const std::uint32_t flops = op_counters.flop_count + static_cast<std::uint32_t>(tu_flops);
  const std::uint32_t comparisons = op_counters.comparison_count + summary.run_comparisons;
  mexPrintf("%lu FLOPs and %lu comparisons in %d seconds\n\n", static_cast<unsigned long>(flops),
            static_cast<unsigned long>(comparisons), summary.elapsed_seconds);
}

}  // namespace qir
