// The training core: list presentations of the patterns with VT, CT,
// winner choice, match tracking, node creation and learning, then the
// closing report and export.
#pragma once

#include "host_memory.h"

#include <cstdint>

namespace qir {

struct SearchCounts;  // search.h

// Nodes a run continues from: `count` template rows of 2M+1 values and
// their labels (whole numbers that fit a 32-bit int). None by default.
struct GivenNodes {
  std::int32_t count = 0;
  const double *const *rows = nullptr;
  const double *labels = nullptr;
};

// Trains on N patterns of M values and their labels (every label fits a
// 32-bit int after truncation), starting from the given nodes. Hands back
// the exported nodes as num_templates template rows of 2M+1 values and
// their labels, fresh host blocks that become the caller's, and the number
// of list presentations.
// Prints the trace and summary at `oflag`. The patterns and labels are only
// read. The given nodes are made before the first pattern, compete like the
// others and are never trimmed. Throws std::bad_alloc when memory runs out
// and Interrupted when the host asks to stop between patterns; every node is
// released by then. Given `counts`, also tells what the searches left out.
void run_training(std::int32_t N, std::int32_t M, const double *const *patterns,
                  const double *labels, const GivenNodes &given, double D, double ratio,
                  double vigilance, double alpha, double learning_rate,
                  std::int32_t max_list_presentations, std::int32_t trim_option,
                  std::int32_t ct_option, std::int32_t &num_templates,
                  HostRows &template_rows, HostVector &template_labels,
                  std::int32_t &num_list_presentations, std::int32_t oflag,
                  SearchCounts *counts = nullptr);

}  // namespace qir
