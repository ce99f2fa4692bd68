#include "search.h"

#include "mex_api.h"
#include "model.h"

namespace qir {

namespace {

// Tolerance of VT and CT: a value this close below its threshold passes.
constexpr double test_tolerance = 1e-7;

// Whether node i passes VT and (when enabled) CT for the pattern just
// matched; sets its cfv on passing VT.
bool passes_tests(Node &node, std::int32_t i, double rho, const SearchRules &rules,
                  PatternTally &tally) {
  if (!(node.mfv + test_tolerance >= rho)) {
    if (rules.oflag == 4)
      mexPrintf("      Node #%d fails VT (MFV=%f < rho=%f)\n", i + 1, node.mfv, rho);
    return false;
  }
  node.cfv = compute_cfv(node.fit, node.free_size, rules.alpha);
  count_ops(2, 0);
  if (rules.ct_option != 1) return true;
  tally.pattern_flops += 1;
  tally.pattern_comparisons += 1;
  if (!(node.cfv + test_tolerance >= rules.Tu)) {
    if (rules.oflag == 4)
      mexPrintf("      Node #%d fails CT (CFV=%f < Tu=%f)\n", i + 1, node.cfv, rules.Tu);
    return false;
  }
  return true;
}

// The first candidate wins outright; a later one costs a comparison and
// wins only with a strictly greater CFV.
void consider_candidate(const Node &node, std::int32_t i, std::int32_t &winner,
                        double &best_cfv, PatternTally &tally) {
  if (winner < 0) {
    winner = i;
    best_cfv = node.cfv;
    return;
  }
  tally.pattern_comparisons += 1;
  if (node.cfv > best_cfv) {
    winner = i;
    best_cfv = node.cfv;
  }
}

}  // namespace

std::int32_t search_nodes(NodeList &nodes, const double *pattern, double rho,
                          const SearchRules &rules, PatternTally &tally) {
  std::int32_t winner = -1;
  double best_cfv = 0.0;
  const std::int32_t num_nodes = nodes.size();
  for (std::int32_t i = 0; i < num_nodes; ++i) {
    Node &node = nodes[i];
    node.eligible = 1;
    node_match(node, pattern);
    tally.pattern_flops += 1;
    tally.pattern_comparisons += 1;
    if (!passes_tests(node, i, rho, rules, tally)) {
      node.eligible = 0;
      continue;
    }
    consider_candidate(node, i, winner, best_cfv, tally);
    if (rules.oflag == 4) mexPrintf("      Node #%d is candidate (CFV=%f)\n", i + 1, node.cfv);
  }
  return winner;
}

std::int32_t choose_during_mt(NodeList &nodes, double rho, PatternTally &tally) {
  std::int32_t winner = -1;
  double best_cfv = 0.0;
  const std::int32_t num_nodes = nodes.size();
  for (std::int32_t i = 0; i < num_nodes; ++i) {
    Node &node = nodes[i];
    if (node.eligible != 1) continue;
    tally.pattern_comparisons += 1;
    if (!(node.mfv > rho)) {
      node.eligible = 0;
      continue;
    }
    consider_candidate(node, i, winner, best_cfv, tally);
  }
  return winner;
}

}  // namespace qir
