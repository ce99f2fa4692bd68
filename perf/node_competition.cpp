#include "node_competition.h"

#include "console_number.h"
#include "mex_api.h"
#include "model.h"
#include "portability.h"

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
      mexPrintf("      Node #%d fails VT (MFV=%s < rho=%s)\n", number, format_fixed(node.mfv).text,
                format_fixed(rules.vigilance).text);
    return false;
  }
  node.cfv = compute_cfv(node.fit, node.free_size, rules.alpha);
  count_ops(2, 0);
  if (rules.ct_option == 1) {
    if (!(node.cfv >= rules.Tu)) {
      if (rules.oflag >= 3)
        mexPrintf("      Node #%d fails CT (CFV=%s < Tu=%s)\n", number, format_fixed(node.cfv).text,
                  format_fixed(rules.Tu).text);
      return false;
    }
    comparisons += 1;
  }
  return true;
}

// The decisions for node i, just matched with the pattern: VT, CFV, CT,
// the trace line of a candidate and the winner.
void decide(Node &node, std::int32_t i, const CompetitionRules &rules, CompetitionResult &result,
            double &best_cfv) {
  if (!is_candidate(node, i + 1, rules, result.pattern_comparisons)) return;
  if (rules.oflag >= 3)
    mexPrintf("      Node #%d is candidate (CFV=%s)\n", i + 1, format_fixed(node.cfv).text);
  if (result.winner < 0) {
    result.winner = i;
    best_cfv = node.cfv;
    return;
  }
  result.pattern_comparisons += 1;
  // Ties keep the earlier node; an unordered (NaN) value takes the place.
  if (!(best_cfv >= node.cfv)) {
    result.winner = i;
    best_cfv = node.cfv;
  }
}

}  // namespace

CompetitionResult compete_for_pattern(std::vector<NodePtr> &nodes, const double *pattern,
                                      const CompetitionRules &rules) {
  CompetitionResult result;
  double best_cfv = 0.0;
  const std::int32_t count = static_cast<std::int32_t>(nodes.size());
  for (std::int32_t i = 0; i < count; ++i) {
    node_match(*nodes[i], pattern);
    decide(*nodes[i], i, rules, result, best_cfv);
  }
  return result;
}

PackedCompetition::PackedCompetition(const std::vector<NodePtr> &nodes)
    : packed_(model_params.num_features) {
  packed_.reserve(static_cast<std::int32_t>(nodes.size()));
  for (const NodePtr &node : nodes) packed_.push_back(*node);
}

CompetitionResult PackedCompetition::compete(std::vector<NodePtr> &nodes, const double *pattern,
                                             const CompetitionRules &rules) {
  const MatchParams params{model_params.ratio, model_params.D, 0.0, rules.vigilance};
  matcher_.evaluate(packed_, pattern, params, ops_);
  flush_ops(ops_);
  CompetitionResult result;
  double best_cfv = 0.0;
  const std::int32_t count = packed_.size();
  if (rules.oflag >= 3) {
    // The trace lists every node, in order.
    for (std::int32_t i = 0; i < count; ++i) consider(*nodes[i], i, rules, result, best_cfv);
    return result;
  }
  // Only nodes that pass VT can become candidates; the others cost their
  // VT comparison and nothing else.
  std::int32_t visited = 0;
  const std::int32_t words = static_cast<std::int32_t>((std::int64_t{count} + 63) / 64);
  for (std::int32_t w = 0; w < words; ++w) {
    for (std::uint64_t bits = matcher_.passes_vt_word(w); bits != 0; bits &= bits - 1) {
      const std::int32_t i = w * 64 + qir_count_trailing_zeros(bits);
      consider(*nodes[i], i, rules, result, best_cfv);
      ++visited;
    }
  }
  result.pattern_comparisons += static_cast<std::uint32_t>(count - visited);
  return result;
}

void PackedCompetition::consider(Node &node, std::int32_t i, const CompetitionRules &rules,
                                 CompetitionResult &result, double &best_cfv) {
  matcher_.store_into(i, node);
  decide(node, i, rules, result, best_cfv);
}

}  // namespace qir
