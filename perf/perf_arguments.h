// Argument checks of the classification entry point, run in their fixed
// order; the first failure ends the call with its message.
#pragma once

#include "messages.h"
#include "mex_api.h"

#include <cstdint>

namespace qir {

constexpr const char *perf_module_name = "QIR_PERF";

// What the checks take from the inputs, for the length of one call.
struct PerfArguments {
  std::int32_t N = 0;  // rows of Templates: one node each
  std::int32_t K = 0;  // columns of Templates
  std::int32_t M = 0;  // features: (K - 1) / 2
  std::int32_t P = 0;  // rows of Patterns
  double D = 0.0;
  double ratio = 0.0;
  double vigilance = 0.0;
  double alpha = 0.0;
  std::int32_t ct_option = 0;
  std::int32_t unknown_label = 0;
  std::int32_t oflag = 0;
};

// Tests the number of inputs, the ten inputs and the number of outputs.
// Returns false with the first failure's message in `message`.
bool check_perf_arguments(int nlhs, int nrhs, const mxArray *const prhs[],
                          PerfArguments &args, MessageBuffer &message);

}  // namespace qir
