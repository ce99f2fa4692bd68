// The competition of every node for one pattern: vigilance test, choice
// value, optional choice-value test, and the winner by choice value.
// compete_for_pattern is the plain node-at-a-time search; PackedCompetition
// evaluates the nodes through a packed copy and must agree with it exactly.
#pragma once

#include "node.h"
#include "node_block.h"

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

// The plain search behind the interface of the packed one.
class PlainCompetition {
 public:
  explicit PlainCompetition(const std::vector<NodePtr> &) {}
  CompetitionResult compete(std::vector<NodePtr> &nodes, const double *pattern,
                            const CompetitionRules &rules) {
    return compete_for_pattern(nodes, pattern, rules);
  }
};

// Evaluates all nodes at once through their packed geometry, then takes the
// decisions of compete_for_pattern node by node, visiting only the nodes
// that pass VT unless the trace lists the others. The node operations reach
// count_ops once per pattern, in the same totals. Writes cfv into the
// nodes that pass VT; the evaluation fields stay in the packed results.
class PackedCompetition {
 public:
  // Packs the nodes once (they do not change during the pass). Reads
  // num_features.
  explicit PackedCompetition(const std::vector<NodePtr> &nodes);
  CompetitionResult compete(std::vector<NodePtr> &nodes, const double *pattern,
                            const CompetitionRules &rules);

 private:
  void consider(Node &node, std::int32_t i, const CompetitionRules &rules,
                CompetitionResult &result, double &best_cfv);

  PackedNodes packed_;
  BlockMatcher matcher_;
  OpTally ops_;
};

// The search the module uses: the packed one, or the plain one in the
// reference build that the tests and benchmarks compare it with.
#ifdef QIR_PLAIN_SEARCH
using NodeCompetition = PlainCompetition;
#else
using NodeCompetition = PackedCompetition;
#endif

}  // namespace qir
