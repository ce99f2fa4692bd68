// Evaluation alone, without a module call: node_match one node at a time
// against the packed kernels, on the same nodes and patterns.
#pragma once

#include "workload.h"

#include <string>
#include <vector>

namespace qirbench {

struct KernelTiming {
  std::string name;
  double ns_per_eval = 0.0;
};

// The first entry is node_match; then every kernel this processor runs.
std::vector<KernelTiming> time_kernels(const NodeSet &nodes, const Rows &patterns, double D,
                                       double ratio);

}  // namespace qirbench
