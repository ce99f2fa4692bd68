// Training at scale: the overlapping and letters-like workloads at several
// vigilances, with a random forest's fit time on the same data when
// Debian's python3-sklearn is installed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qirbench {

struct LargeOptions {
  std::string train_path;
  // Also run with the plain search and compare (empty: not).
  std::string reference_path;
  // Another build of the module, timed in turns with this one within the
  // run (empty: none): the before-and-after of a change.
  std::string compare_path;
  std::int32_t patterns = 50000;  // rows of the overlapping workload
  // "overlapping", "letters", or "all"; the class-sorted variants too
  // unless `sorted` is false.
  std::string sets = "all";
  bool sorted = true;
  std::vector<double> vigilances{0.0, 0.5, 0.9};
  std::int32_t repeats = 1;  // median of this many runs (taken in turns)
  std::string forest_script;  // empty: no forest
};

// Prints presentations, nodes and process time per run, and the forest's
// fit time on the same data.
void large(const LargeOptions &options);

// Writes the workloads (both orders) as CSV files in `dir`, the label last
// (overlapping_N.csv, overlapping_N_sorted.csv, letters_16000.csv,
// letters_16000_sorted.csv), for the qir command and other tools.
bool write_large_inputs(const std::string &dir, std::int32_t patterns);

}  // namespace qirbench
