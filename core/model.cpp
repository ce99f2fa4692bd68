#include "model.h"

#include "mex_api.h"

namespace qir {

ModelParams model_params;
OpCounters op_counters;

void count_ops(std::int32_t flops, std::int32_t comparisons) {
  // Unsigned arithmetic: the counters wrap modulo 2^32 by design.
  op_counters.flop_count += static_cast<std::uint32_t>(flops);
  op_counters.comparison_count += static_cast<std::uint32_t>(comparisons);
  mexAddFlops(static_cast<int>(static_cast<std::uint32_t>(flops) +
                               static_cast<std::uint32_t>(comparisons)));
}

}  // namespace qir
