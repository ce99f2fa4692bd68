// The closing phase of a training run: inactive count, trimming, the
// summary, and the export of the nodes as template rows and labels.
#pragma once

#include "host_memory.h"
#include "node_list.h"

#include <cstdint>

namespace qir {

// What the list presentations leave for the closing phase.
struct TrainingOutcome {
  bool converged = false;
  std::int32_t num_list_presentations = 0;  // final
  std::int32_t active_count = 0;            // of the last presentation
  std::uint32_t run_flops = 0;
  std::uint32_t run_comparisons = 0;
  std::int64_t start_seconds = 0;
  std::int32_t num_given = 0;  // the first nodes, given by the caller
};

// Where the exported nodes go: fresh host blocks that become the caller's.
struct TrainingResults {
  std::int32_t num_templates = 0;
  HostRows template_rows;   // num_templates rows of 2M+1 values
  HostVector template_labels;
};

// Prints the summary at oflag 1 and above, exports the nodes that survive
// trimming (which spares the given nodes) into `results` and releases every
// node and the node list.
// Throws std::bad_alloc when a result block is refused; the nodes are the
// list's to release then.
void close_training(NodeList &nodes, const TrainingOutcome &outcome, std::int32_t N,
                    std::int32_t M, std::int32_t trim_option, std::int32_t oflag,
                    TrainingResults &results);

}  // namespace qir
