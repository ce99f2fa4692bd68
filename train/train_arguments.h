// Argument checks of the training entry point, run in their fixed order;
// the first failure ends the call with its message.
#pragma once

#include "messages.h"
#include "mex_api.h"

#include <cstdint>

namespace qir {

constexpr const char *train_module_name = "QIR_TRAIN";

// What the checks take from the inputs, for the length of one call.
struct TrainArguments {
  std::int32_t N = 0;  // rows of Patterns
  std::int32_t M = 0;  // columns of Patterns: features
  double D = 0.0;
  double ratio = 0.0;
  double vigilance = 0.0;
  double alpha = 0.0;
  double learning_rate = 0.0;
  std::int32_t max_list_presentations = 0;
  std::int32_t trim_option = 0;
  std::int32_t ct_option = 0;
  std::int32_t oflag = 0;
  // Nodes to continue from (the 12th and 13th inputs): their count, 0 when
  // none are given.
  std::int32_t num_given = 0;
};

// Inputs of a call that starts from no nodes, and of one that continues from
// given Templates and NLabels.
constexpr int train_inputs = 11;
constexpr int train_inputs_with_nodes = 13;
enum TrainInput { TRAIN_PATTERNS, TRAIN_PLABELS, TRAIN_TEMPLATES = 11, TRAIN_NLABELS = 12 };

// Tests the number of inputs, the eleven inputs (and the given nodes when
// there are thirteen) and the number of outputs.
// Returns false with the first failure's message in `message`.
bool check_train_arguments(int nlhs, int nrhs, const mxArray *const prhs[],
                           TrainArguments &args, MessageBuffer &message);

}  // namespace qir
