#include "node_competition.h"

#include "mex_api.h"
#include "model.h"

namespace qir {

namespace {

// VT, the choice value and CT for a node just matched with the pattern.
// True when the node is a candidate. No tolerance on either test: both are
// conditions that must hold, so NaN fails them.
bool is_candidate(Node &node, std::int32_t number, const CompetitionRules &rules,
                  std::uint32_t &comparisons) {
  comparisons += 1;  // VT, whatever its outcome
  if (!(node.mfv >= rules.vigilance)) {
    if (rules.oflag >= 3)
      mexPrintf("      Node #%d fails VT (MFV=%f < rho=%f)\n", number, node.mfv, rules.vigilance);
    return false;
  }
  node.cfv = compute_cfv(node.fit, node.free_size, rules.alpha);
  count_ops(2, 0);
  if (rules.ct_option == 1) {
    if (!(node.cfv >= rules.Tu)) {
      if (rules.oflag >= 3)
        mexPrintf("      Node #%d fails CT (CFV=%f < Tu=%f)\n", number, node.cfv, rules.Tu);
      return false;
    }
    comparisons += 1;
  }
  return true;
}

}  // namespace

CompetitionResult compete_for_pattern(std::vector<NodePtr> &nodes, const double *pattern,
                                      const CompetitionRules &rules) {
  CompetitionResult result;
  double best_cfv = 0.0;
  const std::int32_t count = static_cast<std::int32_t>(nodes.size());
  for (std::int32_t i = 0; i < count; ++i) {
    Node &node = *nodes[i];
    node_match(node, pattern);
    if (!is_candidate(node, i + 1, rules, result.pattern_comparisons)) continue;
    if (rules.oflag >= 3) mexPrintf("      Node #%d is candidate (CFV=%f)\n", i + 1, node.cfv);
    if (result.winner < 0) {
      result.winner = i;
      best_cfv = node.cfv;
      continue;
    }
    result.pattern_comparisons += 1;
    // Ties keep the earlier node; an unordered (NaN) value takes the place.
    if (!(best_cfv >= node.cfv)) {
      result.winner = i;
      best_cfv = node.cfv;
    }
  }
  return result;
}

}  // namespace qir
