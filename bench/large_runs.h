// Training at scale: the overlapping and letters-like workloads at several
// vigilances, with a random forest's fit time on the same data when
// Debian's python3-sklearn is installed.
#pragma once

#include <cstdint>
#include <string>

namespace qirbench {

// `patterns` rows of the overlapping workload (letters-like: 16,000).
// With a reference module path, each run is also made with the plain
// search and compared.
void large(const std::string &train_path, const std::string &reference_path,
           std::int32_t patterns, const std::string &forest_script);

}  // namespace qirbench
