// Module-wide model parameters and operation counters. Each module has its
// own copy: the core is compiled into every module with hidden symbols.
#pragma once

#include <cstdint>

namespace qir {

struct ModelParams {
  std::int32_t num_features = 0;  // M
  double D = 0.0;
  double ratio = 1.0;
  double alpha = 0.0;
  double learning_rate = 1.0;  // training only
};

struct OpCounters {
  std::uint32_t flop_count = 0;
  std::uint32_t comparison_count = 0;
};

// Overwritten at the start of every call, read by every node operation.
extern ModelParams model_params;
// Zero when the module loads, never reset: totals span every call.
extern OpCounters op_counters;

// The only way the counters advance; the host sees flops and comparisons
// as one amount.
void count_ops(std::int32_t flops, std::int32_t comparisons);

// Threshold of the choice-value test, D / (alpha + 2 D), in the fixed order
// of operations that makes its rounding reproducible. Counts nothing: the
// caller reports its operations to the host directly.
inline double compute_Tu(double D, double alpha) {
  double t = D * -2.0;
  t = alpha - t;
  return D / t;
}

// Operations of compute_Tu, sent straight to the host by each core.
constexpr std::int32_t tu_flops = 3;

// Choice function value of a node for the pattern it was just matched with.
inline double compute_cfv(double fit, double free_size, double alpha) {
  return fit / (free_size + alpha);
}

}  // namespace qir
