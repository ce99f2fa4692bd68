// The competition of every node for one pattern: vigilance test, choice
// value, optional choice-value test, and the winner by choice value.
// compete_for_pattern is the plain node-at-a-time search; PackedCompetition
// evaluates the nodes through a packed copy and must agree with it exactly.
#pragma once

#include "choice_bound.h"
#include "lean_cut.h"
#include "node.h"
#include "node_block.h"
#include "node_groups.h"

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

// The nodes and the packed search's storage. A module keeps one from call
// to call, so that a small call allocates nothing for them; a large call's
// are released at its end.
struct SearchWorkspace {
  std::vector<NodePtr> nodes;
  PackedNodes packed;
  NodeGroups groups;
  ChoiceBounds choice;
  BlockMatcher matcher;
  LeanCuts lean_cuts;
  // The nodes' order for grouping (NodeGroups::compact_order) as the last
  // call worked it out; it depends on the nodes alone.
  std::vector<std::int32_t> compact_order;
  // Gives the memory back when it is more than a small call needs.
  void trim();
};

// The plain search behind the interface of the packed one.
class PlainCompetition {
 public:
  static constexpr bool splittable = false;
  PlainCompetition(const std::vector<NodePtr> &, const CompetitionRules &, std::int32_t,
                   const double *const *, SearchWorkspace &, bool = false) {}
  CompetitionResult compete(std::vector<NodePtr> &nodes, const double *pattern,
                            const CompetitionRules &rules) {
    return compete_for_pattern(nodes, pattern, rules);
  }
};

// What one pattern's competition decided and counted, worked out without
// any host call, so that worker threads can compute it and the calling
// thread replay it.
struct PatternDecision {
  OpTally evaluation;  // what node_match would have counted, all nodes
  std::int32_t winner = -1;
  std::uint32_t pattern_comparisons = 0;
  std::int32_t cfv_count = 0;  // nodes that passed VT, each with its CFV
};

// Evaluates all nodes at once through their packed geometry, then takes the
// decisions of compete_for_pattern node by node, visiting only the nodes
// that pass VT unless the trace lists the others. Unless the trace lists
// failing nodes, groups of nodes beyond the pattern's reach are skipped
// (see node_groups.h), and so are those whose choice values cannot win
// (choice_bound.h), counted as their evaluation would have been. The node
// operations reach count_ops once per pattern, in the same totals. The trace path writes the evaluation fields
// and cfv into the nodes; the other path touches no node record.
class PackedCompetition {
 public:
  static constexpr bool splittable = true;
  // Packs the nodes once (they do not change during the pass), grouped
  // when the call is large enough and a sample of its P patterns shows
  // that skipping pays. Reads the model parameters. `nodes_unchanged`: the
  // nodes are the workspace's from the last call, as they were, so a
  // packing in node order can stay.
  PackedCompetition(const std::vector<NodePtr> &nodes, const CompetitionRules &rules,
                    std::int32_t P, const double *const *patterns, SearchWorkspace &workspace,
                    bool nodes_unchanged = false);
  CompetitionResult compete(std::vector<NodePtr> &nodes, const double *pattern,
                            const CompetitionRules &rules);

  // Whether decide/replay may stand in for compete: the trace prints
  // nothing per node.
  static bool replayable(const CompetitionRules &rules) { return rules.oflag < 3; }
  // Sizes a matcher for these nodes, so that decide never allocates.
  void prepare(BlockMatcher &matcher) const;
  // The pattern's competition, without host calls or writes to any node:
  // safe on any thread with its own matcher.
  PatternDecision decide(const double *pattern, const CompetitionRules &rules,
                         BlockMatcher &matcher) const;
  // decide for `count` patterns (any number), into decisions[0 … count-1]:
  // the same decisions, the lean ones taken several patterns per pass over
  // the nodes.
  void decide_batch(const double *const *patterns, std::int32_t count,
                    const CompetitionRules &rules, BlockMatcher &matcher,
                    PatternDecision *decisions) const;
  // The host calls of a decided pattern, exactly as compete makes them.
  CompetitionResult replay(const PatternDecision &decision);

  BlockMatcher &matcher() { return matcher_; }

 private:
  void consider(Node &node, std::int32_t i, const CompetitionRules &rules,
                CompetitionResult &result, double &best_cfv);
  void group(const std::vector<NodePtr> &nodes, std::int32_t P, const double *const *patterns);
  void pack(const std::vector<NodePtr> &nodes, const CompetitionRules &rules, std::int32_t P,
            const double *const *patterns, bool nodes_unchanged);
  void prepare_lean_cuts(const CompetitionRules &rules, std::int32_t P, LeanCuts &cuts);
  bool lean() const;
  MatchParams lean_params(const CompetitionRules &rules) const;
  PatternDecision decide_in_node_order(const double *pattern, const CompetitionRules &rules,
                                       BlockMatcher &matcher) const;
  void settle_in_node_order(const double *pattern, const CompetitionRules &rules,
                            BlockMatcher &matcher, const WinnerLanes &lanes,
                            PatternDecision &d) const;
  CompetitionResult compete_traced(std::vector<NodePtr> &nodes, const double *pattern,
                                   const CompetitionRules &rules);

  PackedNodes &packed_;
  NodeGroups &groups_;
  ChoiceBounds &choice_;
  ChoiceRule choice_rule_;
  bool grouped_ = false;
  bool choosing_ = false;
  bool lean_cut_ = false;  // lean_view_ holds
  LeanCutView lean_view_;
  BlockMatcher &matcher_;
  std::vector<std::int32_t> &compact_order_;
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
