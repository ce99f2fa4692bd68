// The competition of the nodes for one training pattern, and the choice
// again under a raised vigilance during match tracking. This is the plain
// node-at-a-time search; any faster search must agree with it exactly.
#pragma once

#include "node_list.h"

#include <cstdint>

namespace qir {

struct SearchRules {
  double Tu = 0.0;
  double alpha = 0.0;
  std::int32_t ct_option = 0;
  std::int32_t oflag = 0;
};

// Operations the training core counts itself for one pattern; 32-bit
// unsigned so that they wrap instead of overflowing.
struct PatternTally {
  std::uint32_t pattern_flops = 0;
  std::uint32_t pattern_comparisons = 0;
};

// Evaluates every node against the pattern in index order: VT against rho,
// CFV, CT when enabled. Leaves eligible = 1 exactly on the candidates and
// returns the candidate with the greatest CFV (lowest index on ties), or -1.
std::int32_t search_nodes(NodeList &nodes, const double *pattern, double rho,
                          const SearchRules &rules, PatternTally &tally);

// Keeps among the eligible nodes those whose stored MFV exceeds rho and
// returns the one with the greatest stored CFV, or -1. Evaluates nothing.
std::int32_t choose_during_mt(NodeList &nodes, double rho, PatternTally &tally);

}  // namespace qir
