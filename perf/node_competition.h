// The competition of every node for one pattern: vigilance test, choice
// value, optional choice-value test, and the winner by choice value. This is
// the plain node-at-a-time search; faster searches must agree with it.
#pragma once

#include "node.h"

#include <cstdint>
#include <vector>

namespace qir {

struct CompetitionRules {
  double vigilance = 0.0;
  double Tu = 0.0;
  double alpha = 0.0;
  std::int32_t ct_option = 0;
  std::int32_t oflag = 0;
};

struct CompetitionResult {
  std::int32_t winner = -1;  // node index; -1: no node qualified
  std::uint32_t pattern_comparisons = 0;
};

// Evaluates every node against the pattern, in index order, with no early
// exit. Writes each node's evaluation fields and, for nodes passing VT, its
// cfv; counts the node operations through count_ops. The pattern's own
// comparisons are returned, not reported.
CompetitionResult compete_for_pattern(std::vector<NodePtr> &nodes, const double *pattern,
                                      const CompetitionRules &rules);

}  // namespace qir
