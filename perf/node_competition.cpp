#include "node_competition.h"

#include "console_number.h"
#include "environment_settings.h"
#include "mex_api.h"
#include "model.h"
#include "portability.h"

#include <algorithm>
#include <cmath>

namespace qir {

namespace {

// Operations of one CFV.
constexpr std::uint64_t cfv_flops = 2;

// VT, the choice value and CT for a node just matched with the pattern.
// True when the node is a candidate. No tolerance on either test: both are
// conditions that must hold, so NaN fails them. The CFV's operations go to
// count_ops, or are gathered in `cfv_ops` when given.
bool is_candidate(Node &node, std::int32_t number, const CompetitionRules &rules,
                  std::uint32_t &comparisons, OpTally *cfv_ops) {
  comparisons += 1;  // VT, whatever its outcome
  if (!(node.mfv >= rules.vigilance)) {
    if (rules.oflag >= 3)
      mexPrintf("      Node #%d fails VT (MFV=%s < rho=%s)\n", number, format_fixed(node.mfv).text,
                format_fixed(rules.vigilance).text);
    return false;
  }
  node.cfv = compute_cfv(node.fit, node.free_size, rules.alpha);
  if (cfv_ops != nullptr)
    cfv_ops->flops += cfv_flops;
  else
    count_ops(static_cast<std::int32_t>(cfv_flops), 0);
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
            double &best_cfv, OpTally *cfv_ops = nullptr) {
  if (!is_candidate(node, i + 1, rules, result.pattern_comparisons, cfv_ops)) return;
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

namespace {

// Grouping costs about N^2 M / 16 operations once; it pays when the
// patterns are many against the nodes, and only the trace of failing nodes
// needs every node evaluated.
bool worth_grouping(std::int32_t N, std::int32_t P, const CompetitionRules &rules) {
  return rules.oflag < 3 && pruning_enabled() && N >= 2 * group_slots && P >= 64 &&
         2 * static_cast<std::int64_t>(P) >= N;
}

std::vector<const Node *> views(const std::vector<NodePtr> &nodes) {
  std::vector<const Node *> v;
  v.reserve(nodes.size());
  for (const NodePtr &node : nodes) v.push_back(node.get());
  return v;
}

}  // namespace

void SearchWorkspace::trim() {
  constexpr std::int32_t small_call_nodes = 1024;
  if (nodes.size() > small_call_nodes || packed.slots() > small_call_nodes)
    *this = SearchWorkspace();
}

PackedCompetition::PackedCompetition(const std::vector<NodePtr> &nodes,
                                     const CompetitionRules &rules, std::int32_t P,
                                     const double *const *patterns, SearchWorkspace &workspace,
                                     bool nodes_unchanged)
    : packed_(workspace.packed),
      groups_(workspace.groups),
      choice_(workspace.choice),
      choice_rule_{rules.vigilance, rules.alpha, rules.Tu, rules.ct_option == 1},
      matcher_(workspace.matcher),
      compact_order_(workspace.compact_order) {
  pack(nodes, rules, P, patterns, nodes_unchanged);
  prepare_lean_cuts(rules, P, workspace.lean_cuts);
}

void PackedCompetition::pack(const std::vector<NodePtr> &nodes, const CompetitionRules &rules,
                             std::int32_t P, const double *const *patterns, bool nodes_unchanged) {
  const std::int32_t N = static_cast<std::int32_t>(nodes.size());
  const std::int32_t M = model_params.num_features;
  if (!nodes_unchanged) compact_order_.clear();  // of other nodes
  matcher_.select(select_match_kernel());
  const ReachRule rule =
      make_reach_rule(M, model_params.D, model_params.ratio, rules.vigilance, 0.0);
  groups_.reset(M, rule);
  grouped_ = groups_.usable() && worth_grouping(N, P, rules);
  // The last call's packing of these nodes serves again in node order (any
  // cuts it holds go unused without groups).
  if (!grouped_ && nodes_unchanged && packed_.in_node_order() && packed_.size() == N &&
      packed_.features() == M)
    return;
  if (grouped_) {
    packed_.reset(M, rule);
    packed_.reserve(N);
    group(nodes, P, patterns);
    if (grouped_) return;
  }
  // Nodes in index order: the decisions need no reordering.
  packed_.reset(M);
  packed_.reserve(N);
  for (const NodePtr &node : nodes) packed_.push_back(*node);
}

// A few nodes decide faster visited one by one than gathered in lanes.
constexpr std::int32_t lean_nodes = 32;

// The lean decisions' thresholds, when the nodes are decided in node
// order, CT is off and the call is long enough to repay them (kept for
// the next call of the same nodes and values).
void PackedCompetition::prepare_lean_cuts(const CompetitionRules &rules, std::int32_t P,
                                          LeanCuts &cuts) {
  constexpr std::int32_t least_patterns = 256;
  MatchParams params{model_params.ratio, model_params.D, 0.0, rules.vigilance};
  params.alpha = rules.alpha;
  // The AVX-512 kernel takes none (BlockMatcher::evaluate_lean).
  if (choosing_ || grouped_ || packed_.size() < lean_nodes || rules.ct_option == 1 ||
      matcher_.kernel() == MatchKernel::avx512 || !lean_cuts_enabled() ||
      !LeanCuts::usable(params))
    return;
  if (!cuts.holds(packed_, params)) {
    if (P < least_patterns) return;
    cuts.build(packed_, params);
  }
  lean_view_ = cuts.view();
  lean_cut_ = true;
}

// Groups the nodes, and keeps the groups when a sample of the patterns
// shows that skipping pays: with the choice bounds, else with the reach
// alone.
void PackedCompetition::group(const std::vector<NodePtr> &nodes, std::int32_t P,
                              const double *const *patterns) {
  const std::int32_t N = static_cast<std::int32_t>(nodes.size());
  const std::int32_t M = model_params.num_features;
  // Slot k holds node order[k]; nodes are added in index order. A model
  // classified block by block orders its nodes once, not once per block.
  const std::vector<const Node *> all = views(nodes);
  if (compact_order_.size() != static_cast<std::size_t>(N))
    compact_order_ = NodeGroups::compact_order(all, M);
  const std::vector<std::int32_t> &order = compact_order_;
  std::vector<std::int32_t> slot(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) slot[order[k]] = static_cast<std::int32_t>(k);
  for (std::int32_t i = 0; i < N; ++i) packed_.place(*nodes[i], slot[i]);
  groups_.build(all, packed_);
  const MatchParams params{model_params.ratio, model_params.D, 0.0, choice_rule_.vigilance};
  choice_.clear();
  if (choice_bounds_enabled()) {
    choice_.build(all, packed_, groups_, choice_rule_);
    choosing_ = choice_.usable() &&
                matcher_.choosing_pays(packed_, params, groups_, choice_, choice_rule_, P, patterns);
    if (choosing_) return;
  }
  grouped_ = matcher_.skipping_pays(packed_, params, groups_, P, patterns);
}

void PackedCompetition::prepare(BlockMatcher &matcher) const { matcher.prepare(packed_); }

MatchParams PackedCompetition::lean_params(const CompetitionRules &rules) const {
  MatchParams params{model_params.ratio, model_params.D, 0.0, rules.vigilance};
  params.alpha = rules.alpha;
  return params;
}

// Without groups the slots follow the node order, and the kernels gather
// the winner lane by lane from the CFVs they compute: the first candidate
// of greatest CFV in slot order, which is the winner of the visit in node
// order unless a candidate's CFV is NaN (see decide below).
PatternDecision PackedCompetition::decide_in_node_order(const double *pattern,
                                                        const CompetitionRules &rules,
                                                        BlockMatcher &matcher) const {
  PatternDecision d;
  WinnerLanes lanes;
  lanes.reset(rules.ct_option == 1, rules.Tu);
  matcher.evaluate_lean(packed_, pattern, lean_params(rules), d.evaluation, lanes,
                        lean_cut_ ? &lean_view_ : nullptr);
  settle_in_node_order(pattern, rules, matcher, lanes, d);
  return d;
}

// The winner and counts of a lean evaluation gathered in `lanes`.
void PackedCompetition::settle_in_node_order(const double *pattern, const CompetitionRules &rules,
                                             BlockMatcher &matcher, const WinnerLanes &lanes,
                                             PatternDecision &d) const {
  d.winner = lanes.winner();
  if (lanes.unordered) {
    // The visit in node order, as compete_for_pattern makes it (no CT here:
    // a NaN fails it), over the results of a full evaluation (counted once).
    OpTally counted_already;
    MatchParams params = lean_params(rules);
    params.with_cfv = true;
    matcher.evaluate(packed_, pattern, params, counted_already);
    const double *cfv = matcher.cfv_data();
    double best_cfv = 0.0;
    d.winner = -1;
    matcher.for_each_passing_slot(packed_, [&](std::int32_t slot) {
      if (d.winner < 0 || !(best_cfv >= cfv[slot])) {
        d.winner = slot;
        best_cfv = cfv[slot];
      }
    });
  }
  const auto candidates = static_cast<std::uint32_t>(lanes.candidates);
  d.cfv_count = static_cast<std::int32_t>(lanes.passing);
  if (rules.ct_option == 1) d.pattern_comparisons += candidates;
  if (candidates > 1) d.pattern_comparisons += candidates - 1;
  d.pattern_comparisons += static_cast<std::uint32_t>(packed_.size());  // VT, every node
}

bool PackedCompetition::lean() const {
  return !choosing_ && !grouped_ && packed_.size() >= lean_nodes;
}

void PackedCompetition::decide_batch(const double *const *patterns, std::int32_t count,
                                     const CompetitionRules &rules, BlockMatcher &matcher,
                                     PatternDecision *decisions) const {
  // Only the AVX-512 kernel reads the nodes once for several patterns.
  if (!lean() || matcher.kernel() != MatchKernel::avx512) {
    for (std::int32_t j = 0; j < count; ++j) decisions[j] = decide(patterns[j], rules, matcher);
    return;
  }
  const MatchParams params = lean_params(rules);
  for (std::int32_t j = 0; j < count; j += lean_batch_patterns) {
    const std::int32_t n = std::min(lean_batch_patterns, count - j);
    WinnerLanes lanes[lean_batch_patterns];
    OpTally tallies[lean_batch_patterns];
    for (std::int32_t q = 0; q < n; ++q) lanes[q].reset(rules.ct_option == 1, rules.Tu);
    matcher.evaluate_lean_batch(packed_, patterns + j, n, params, tallies, lanes);
    for (std::int32_t q = 0; q < n; ++q) {
      PatternDecision &d = decisions[j + q];
      d = PatternDecision();
      d.evaluation = tallies[q];
      settle_in_node_order(patterns[j + q], rules, matcher, lanes[q], d);
    }
  }
}

PatternDecision PackedCompetition::decide(const double *pattern, const CompetitionRules &rules,
                                          BlockMatcher &matcher) const {
  if (lean()) return decide_in_node_order(pattern, rules, matcher);
  PatternDecision d;
  const MatchParams params{model_params.ratio, model_params.D, 0.0, rules.vigilance};
  ChoiceSkips skips;
  if (choosing_)
    matcher.evaluate_choosing(packed_, pattern, params, groups_, choice_, choice_rule_,
                              d.evaluation, skips);
  else
    matcher.evaluate(packed_, pattern, params, d.evaluation, grouped_ ? &groups_ : nullptr);
  const double *free_size = packed_.free_sizes();
  const auto cfv_at = [&](std::int32_t slot) {
    return choosing_ ? matcher.cfv(slot)
                     : compute_cfv(matcher.fit(slot), free_size[slot], rules.alpha);
  };
  // The decisions of compete_for_pattern for the nodes that pass VT; every
  // other node costs its VT comparison and nothing else. The choice search
  // gives the CFVs (the same operations); the nodes it left out can
  // neither win nor tie and are counted below. Visited in slot order (the
  // packed arrays' own), the winner is the one the visit in node order
  // picks: a later candidate wins when !(best >= cfv), so without a NaN
  // among the candidates, the lowest-numbered of those with the greatest
  // CFV. With one (only without CT: a NaN fails CT), the visit in node
  // order decides.
  std::int32_t candidates = 0;
  bool nan_candidate = false;
  double best_cfv = 0.0;
  matcher.for_each_passing_slot(packed_, [&](std::int32_t slot) {
    const double cfv = cfv_at(slot);
    d.cfv_count += 1;
    if (rules.ct_option == 1) {
      if (!(cfv >= rules.Tu)) return;
      d.pattern_comparisons += 1;
    }
    nan_candidate |= std::isnan(cfv);
    const std::int32_t i = packed_.node_at(slot);
    if (candidates++ == 0 || cfv > best_cfv || (cfv == best_cfv && i < d.winner)) {
      d.winner = i;
      best_cfv = cfv;
    }
  });
  if (candidates > 1) d.pattern_comparisons += static_cast<std::uint32_t>(candidates - 1);
  if (nan_candidate) {
    d.winner = -1;
    matcher.for_each_passing(packed_, [&](std::int32_t i) {
      const double cfv = cfv_at(packed_.slot_of(i));
      if (d.winner < 0 || !(best_cfv >= cfv)) {
        d.winner = i;
        best_cfv = cfv;
      }
    });
  }
  d.pattern_comparisons += static_cast<std::uint32_t>(packed_.size());  // VT, every node
  d.cfv_count += static_cast<std::int32_t>(skips.passing);
  d.pattern_comparisons += static_cast<std::uint32_t>(skips.ct_passing + skips.candidates);
  return d;
}

CompetitionResult PackedCompetition::replay(const PatternDecision &decision) {
  // The evaluations and the CFVs reach count_ops in one amount: the same
  // totals as one call per node, without a host call per node.
  ops_.flops += decision.evaluation.flops +
                cfv_flops * static_cast<std::uint64_t>(decision.cfv_count);
  ops_.comparisons += decision.evaluation.comparisons;
  flush_ops(ops_);
  return CompetitionResult{decision.winner, decision.pattern_comparisons};
}

CompetitionResult PackedCompetition::compete(std::vector<NodePtr> &nodes, const double *pattern,
                                             const CompetitionRules &rules) {
  if (replayable(rules)) return replay(decide(pattern, rules, matcher_));
  return compete_traced(nodes, pattern, rules);
}

CompetitionResult PackedCompetition::compete_traced(std::vector<NodePtr> &nodes,
                                                    const double *pattern,
                                                    const CompetitionRules &rules) {
  const MatchParams params{model_params.ratio, model_params.D, 0.0, rules.vigilance};
  matcher_.evaluate(packed_, pattern, params, ops_);
  CompetitionResult result;
  double best_cfv = 0.0;
  // The trace lists every node, in order.
  for (std::int32_t i = 0; i < packed_.size(); ++i) consider(*nodes[i], i, rules, result, best_cfv);
  // The evaluations and the CFVs in one amount, as replay gives them.
  flush_ops(ops_);
  return result;
}

void PackedCompetition::consider(Node &node, std::int32_t i, const CompetitionRules &rules,
                                 CompetitionResult &result, double &best_cfv) {
  matcher_.store_into(packed_.slot_of(i), node);
  qir::decide(node, i, rules, result, best_cfv, &ops_);
}

}  // namespace qir
