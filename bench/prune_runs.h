// Benchmarks of pruning: a clustered classification workload at several
// vigilances and the training workload, with pruning off (QIR_PRUNE=0) and
// on, identity checked, with the share of evaluations skipped.
#pragma once

#include <cstdint>
#include <string>

namespace qirbench {

void prune(const std::string &perf_path, const std::string &train_path, std::int32_t patterns,
           std::int32_t train_patterns, std::int32_t repeats);

}  // namespace qirbench
