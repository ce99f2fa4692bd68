#include "search.h"

#include "choice_gaps.h"
#include "console_number.h"
#include "environment_settings.h"
#include "mex_api.h"
#include "model.h"
#include "passing_choice.h"
#include "portability.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qir {

namespace {

// Tolerance of VT and CT: a value this close below its threshold passes.
constexpr double test_tolerance = 1e-7;
// Operations of one CFV.
constexpr std::int32_t cfv_flops = 2;

// Whether node i passes VT and (when enabled) CT for the pattern just
// matched; sets its cfv on passing VT. The CFV's operations go to
// count_ops, or are gathered in `cfv_ops` when given (one host amount per
// search instead of one per node; the same totals).
bool passes_tests(Node &node, std::int32_t i, double rho, const SearchRules &rules,
                  PatternTally &tally, OpTally *cfv_ops = nullptr) {
  if (!(node.mfv + test_tolerance >= rho)) {
    if (rules.oflag == 4)
      mexPrintf("      Node #%d fails VT (MFV=%s < rho=%s)\n", i + 1, format_fixed(node.mfv).text,
                format_fixed(rho).text);
    return false;
  }
  node.cfv = compute_cfv(node.fit, node.free_size, rules.alpha);
  if (cfv_ops != nullptr)
    cfv_ops->flops += cfv_flops;
  else
    count_ops(cfv_flops, 0);
  if (rules.ct_option != 1) return true;
  tally.pattern_flops += 1;
  tally.pattern_comparisons += 1;
  if (!(node.cfv + test_tolerance >= rules.Tu)) {
    if (rules.oflag == 4)
      mexPrintf("      Node #%d fails CT (CFV=%s < Tu=%s)\n", i + 1, format_fixed(node.cfv).text,
                format_fixed(rules.Tu).text);
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
    if (rules.oflag == 4)
    mexPrintf("      Node #%d is candidate (CFV=%s)\n", i + 1, format_fixed(node.cfv).text);
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

PackedSearch::PackedSearch() : packed_(model_params.num_features) {}

void PackedSearch::start(double vigilance, const SearchRules &rules, std::int32_t N,
                         const double *const *patterns) {
  const std::int32_t M = model_params.num_features;
  vigilance_ = vigilance;
  keeping_ = true;
  N_ = N;
  patterns_ = patterns;
  const ReachRule rule =
      make_reach_rule(M, model_params.D, model_params.ratio, vigilance, test_tolerance);
  groups_.reset(M, rule);
  // The trace of failing nodes needs every node evaluated; a small call
  // never has nodes enough to group, and its cuts and memory would cost
  // more than they save.
  constexpr std::int32_t few_patterns = 64;
  prune_ = groups_.usable() && pruning_enabled() && rules.oflag != 4 && N >= few_patterns;
  // The choice-value test would make candidates of only some passing nodes.
  by_winner_ = prune_ && rules.ct_option == 0;
  packed_.set_choice_rule(by_winner_ && training_bounds_enabled()
                              ? make_choice_cut_rule(rule, vigilance, test_tolerance, rules.alpha)
                              : ChoiceCutRule());
  packed_.reset(M, prune_ ? rule : ReachRule());
  choosing_ = packed_.choosing();
  bounded_ = false;
  last_winner_.assign(by_winner_ ? static_cast<std::size_t>(N) : 0, -1);
  memory_.start(N, prune_, by_winner_);
  const std::uint64_t window = gap_use_.window;
  gap_use_ = GapUse();
  gap_use_.window = window;
}

void PackedSearch::node_added(const NodeList &nodes) {
  const std::int32_t i = nodes.size() - 1;
  // After the last group, never inside it: a group's bound covers only
  // the nodes it was built with.
  packed_.place(nodes[i], std::max(packed_.end_slot(), groups_.count() * group_slots));
  memory_.block_changed(packed_.slot_of(i) / block_lanes);
  eligible_.resize((static_cast<std::size_t>(packed_.slots()) + 63) / 64);
  deferred_.resize(eligible_.size());
  // New nodes wait after the groups, always evaluated, until they are as
  // many as half the grouped ones: regrouping then costs about as much
  // again as all grouping so far.
  const std::int32_t waiting = packed_.size() - grouped_;
  if (prune_ && waiting >= std::max(2 * group_slots, grouped_ / 2)) regroup(nodes);
}

void PackedSearch::regroup(const NodeList &nodes) {
  place_in_groups(nodes);
  // The nodes changed slots: their flags, as the last search left them,
  // go to their new slots.
  eligible_.assign((static_cast<std::size_t>(packed_.slots()) + 63) / 64, 0);
  deferred_.assign(eligible_.size(), 0);
  for (std::int32_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].eligible == 1) {
      const std::int32_t slot = packed_.slot_of(i);
      eligible_[slot >> 6] |= std::uint64_t{1} << (slot & 63);
    }
}

void PackedSearch::place_in_groups(const NodeList &nodes) {
  std::vector<const Node *> all(static_cast<std::size_t>(nodes.size()));
  for (std::int32_t i = 0; i < nodes.size(); ++i) all[i] = &nodes[i];
  const std::int32_t M = model_params.num_features;
  const std::vector<std::int32_t> order = NodeGroups::compact_order(all, M);
  std::vector<std::int32_t> slot(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) slot[order[k]] = static_cast<std::int32_t>(k);
  packed_.reset(M, groups_.rule());
  packed_.reserve(nodes.size());
  for (std::int32_t i = 0; i < nodes.size(); ++i) packed_.place(nodes[i], slot[i]);
  groups_.build(all, packed_);
  grouped_ = nodes.size();
  memory_.all_changed();
  const MatchParams params{model_params.ratio, model_params.D, test_tolerance, vigilance_};
  if (matcher_.skipping_pays(packed_, params, groups_, N_, patterns_)) return;
  // Not worth it for now: back to node order, no groups and no cuts, until
  // the node count has grown by half again.
  packed_.reset(M);
  for (std::int32_t i = 0; i < nodes.size(); ++i) packed_.push_back(nodes[i]);
  groups_.clear_groups();
}

void PackedSearch::node_changed(std::int32_t i, const Node &node) {
  packed_.refresh(i, node);
  memory_.block_changed(packed_.slot_of(i) / block_lanes);
  if (i < grouped_ && groups_.count() > 0) groups_.update(packed_.slot_of(i), node);
}

std::int32_t PackedSearch::search(NodeList &nodes, std::int32_t J, const double *pattern,
                                  double rho, const SearchRules &rules, PatternTally &tally) {
  MatchParams params{model_params.ratio, model_params.D, test_tolerance, rho};
  // The groups' reach and the cuts hold for the call's vigilance, which
  // every search starts from.
  const bool skip = prune_ && rho == vigilance_;
  // Where blocks may be left unevaluated nearly every node passes the
  // vigilance test: the kernels give every CFV. Elsewhere few may pass, and
  // only theirs are computed.
  params.with_cfv = skip && by_winner_;
  params.alpha = rules.alpha;
  if (eligible_.size() * 64 < static_cast<std::size_t>(packed_.slots()))
    eligible_.resize((static_cast<std::size_t>(packed_.slots()) + 63) / 64);
  deferred_.assign(eligible_.size(), 0);
  bool had_gaps = false;
  if (skip) {
    memory_.next_search();
    // Gaps measured from no best CFV (none kept, or dropped) bound nothing.
    had_gaps = by_winner_ && memory_.gaps(J) != nullptr && !std::isnan(memory_.best_cfv(J));
    WinnerSearch winner_search{rules.alpha, -1};
    if (had_gaps && last_winner_[J] >= 0)
      winner_search.likely_block = packed_.slot_of(last_winner_[J]) / block_lanes;
    // Without gaps, the blocks that cannot win are found from their bounds.
    params.choose = choosing_ && params.with_cfv && !had_gaps;
    params.inverse_D = (1.0 / model_params.D) * (1.0 + reach_margin);
    if (params.choose && last_winner_[J] >= 0)
      params.likely_block = packed_.slot_of(last_winner_[J]) / block_lanes;
    matcher_.evaluate(packed_, pattern, params, ops_, &groups_, memory_.recall(J, packed_.blocks()),
                      had_gaps ? &winner_search : nullptr);
    if (keeping_) memory_.remember(J, packed_.blocks(), matcher_.failing());
  } else {
    matcher_.evaluate(packed_, pattern, params, ops_);
  }
  if (!params.with_cfv) matcher_.passing_cfvs(packed_, rules.alpha);
  J_ = J;
  pattern_ = pattern;
  params_ = params;
  const std::int32_t count = packed_.size();
  evaluations_ += static_cast<std::uint64_t>(count);
  // One FLOP and one comparison per node evaluated (32-bit wrap-around).
  tally.pattern_flops += static_cast<std::uint32_t>(count);
  tally.pattern_comparisons += static_cast<std::uint32_t>(count);
  // The flags are brought in step at the end: only those that change are
  // written (a search at vigilance 0 makes nearly every node eligible, and
  // so did the last one unless match tracking followed).
  was_eligible_.assign(eligible_.begin(), eligible_.end());
  std::fill(eligible_.begin(), eligible_.end(), 0);
  std::int32_t winner = -1;
  if (rules.oflag == 4) {
    // The trace lists every node, in order.
    double best_cfv = 0.0;
    for (std::int32_t i = 0; i < count; ++i)
      consider(nodes[i], i, rho, rules, tally, winner, best_cfv);
  } else {
    // A node failing VT only costs what was tallied above; the nodes are
    // visited in slot order, and CandidateChoice chooses as node order would.
    std::int64_t candidates = 0;
    if (rules.ct_option == 1) {
      CandidateChoice choice;
      matcher_.for_each_passing_slot(packed_, [&](std::int32_t slot) {
        decide(slot, rules, tally, choice);
      });
      winner = choice.winner();
      candidates = choice.candidates;
    } else {
      // Without CT the nodes that pass VT are the candidates, and the
      // eligible ones: decide() reduced to what it does then.
      const std::uint64_t *passing = matcher_.passing_words();
      const std::int32_t words = (packed_.slots() + 63) / 64;
      std::copy(passing, passing + words, eligible_.begin());
      word_most_.resize(static_cast<std::size_t>(words));
      const PassingChoice choice =
          choose_passing(matcher_.kernel(), packed_, passing, packed_.slots(),
                         matcher_.cfv_data(), word_most_.data());
      winner = choice.winner;
      candidates = choice.candidates;
      ops_.flops += static_cast<std::uint64_t>(cfv_flops) * static_cast<std::uint64_t>(candidates);
    }
    if (candidates > 1) tally.pattern_comparisons += static_cast<std::uint32_t>(candidates - 1);
  }
  // Each deferred node passes the vigilance test: its CFV and, as a
  // candidate after the first (an evaluated node beats it), one
  // comparison, counted as if it had been evaluated.
  const std::int64_t deferred_count = matcher_.deferred_nodes();
  bounded_ = params.choose;
  if (deferred_count > 0) {
    ops_.flops += static_cast<std::uint64_t>(cfv_flops) * static_cast<std::uint64_t>(deferred_count);
    tally.pattern_comparisons += static_cast<std::uint32_t>(deferred_count);
    deferred_total_ += static_cast<std::uint64_t>(deferred_count);
    if (bounded_) bounded_total_ += static_cast<std::uint64_t>(deferred_count);
    defer();
  }
  sync_flags(nodes);
  if (winner >= 0) store_result(nodes, winner);
  winner_cfv_ = winner >= 0 ? nodes[winner].cfv : 0.0;
  // The node evaluations and their CFVs reach the host in one amount.
  flush_ops(ops_);
  if (by_winner_ && skip && keeping_) {
    gap_use_.count(had_gaps ? static_cast<std::uint64_t>(count) : 0,
                   had_gaps ? static_cast<std::uint64_t>(deferred_count) : 0);
    if (gap_use_.keep(J))
      remember_choices(nodes, J, winner);
    else if (memory_.gaps(J) != nullptr)
      memory_.best_cfv(J) = std::numeric_limits<double>::quiet_NaN();
    last_winner_[J] = winner;
  }
  return winner;
}

void PackedSearch::defer() {
  const std::uint64_t *deferred = matcher_.deferred_slots();
  const std::size_t words = (static_cast<std::size_t>(packed_.slots()) + 63) / 64;
  for (std::size_t w = 0; w < words; ++w) {
    deferred_[w] = deferred[w];
    eligible_[w] |= deferred[w];
  }
}

namespace {

// What an evaluated block's gaps are read from, by slot.
struct BlockResults {
  const std::uint8_t *empty_lanes;  // per block
  const std::uint64_t *passing;     // a bit per slot
  const double *cfv;
  const double *mfv;
};

// The gaps of an evaluated block: none unless every node in it passes the
// vigilance test with a finite CFV and MFV (so that a later search can
// count it unevaluated: which of them the pattern lies inside is kept with
// the block's failing lanes), else how far below `best` and
// `top_mfv` its largest CFV and MFV are. The CFVs are those the search
// computed, from the same values.
inline std::uint8_t evaluated_gaps(const BlockResults &r, std::int32_t b, double best,
                                   double top_mfv) {
  const std::uint32_t nodes = 15u & ~static_cast<std::uint32_t>(r.empty_lanes[b]);
  // A block left unevaluated or cut passes nothing.
  if (nodes == 0 || (lanes_of_block(r.passing, b) & nodes) != nodes) return 0;
  constexpr double infinite = std::numeric_limits<double>::infinity();
  double most_cfv = -infinite;
  double most_mfv = most_cfv;
  // Every lane is read (an empty one holds some value) and the empty ones
  // masked out: the lanes go one way or another unpredictably.
  bool usable = true;
QIR_UNROLL(4)
  for (std::int32_t lane = 0; lane < block_lanes; ++lane) {
    const bool in = ((nodes >> lane) & 1u) != 0;
    const std::int32_t slot = b * block_lanes + lane;
    const double cfv = r.cfv[slot];
    const double mfv = r.mfv[slot];
    // NaN compares false, so a NaN makes the lane unusable too.
    const bool lane_usable = (std::fabs(cfv) < infinite) & (std::fabs(mfv) < infinite);
    usable &= !in | lane_usable;
    most_cfv = in && cfv > most_cfv ? cfv : most_cfv;
    most_mfv = in && mfv > most_mfv ? mfv : most_mfv;
  }
  if (!usable) return 0;
  return pack_gaps(gap_steps(best, most_cfv), gap_steps(top_mfv, most_mfv));
}

}  // namespace

// Keeps, per block, how far its nodes stayed below this search's best CFV
// and its winner's MFV: measured for the blocks evaluated, carried over
// for those deferred (as they are when both values are the same as last
// time, else measured again from their bounds).
void PackedSearch::remember_choices(const NodeList &nodes, std::int32_t J, std::int32_t winner) {
  std::uint8_t *gaps = memory_.gaps(J);
  if (gaps == nullptr) return;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double best = winner >= 0 ? nodes[winner].cfv : nan;
  const double top_mfv = winner >= 0 ? nodes[winner].mfv : nan;
  const double old_cfv = memory_.best_cfv(J), old_mfv = memory_.winner_mfv(J);
  const bool same_cfv = best == old_cfv, same_mfv = top_mfv == old_mfv;
  // The matcher's marks, as the search left them (MT evaluates some later),
  // sixteen blocks to a word: bit 4k of `open` is set where block k of the
  // word has no node deferred.
  const std::uint64_t *deferred = matcher_.deferred_slots();
  const std::int32_t blocks = packed_.blocks();
  const BlockResults results{packed_.empty_lanes(), matcher_.passing_words(), matcher_.cfv_data(),
                             matcher_.mfv_data()};
  if (!(same_cfv && same_mfv)) {
    // Every block's gaps carried over, without branches; those of the
    // blocks not deferred are measured anew below.
    const GapRebase cfv = same_cfv ? GapRebase::same() : GapRebase(old_cfv, best);
    const GapRebase mfv = same_mfv ? GapRebase::same() : GapRebase(old_mfv, top_mfv);
    for (std::int32_t b = 0; b < blocks; ++b)
      gaps[b] = pack_gaps(cfv.steps[cfv_steps(gaps[b])], mfv.steps[mfv_steps(gaps[b])]);
  }
  constexpr std::uint64_t first_lanes = 0x1111111111111111u;
  for (std::int32_t w = 0; w * 16 < blocks; ++w) {
    const std::uint64_t x = deferred[w];
    const std::uint64_t open = ~(x | x >> 1 | x >> 2 | x >> 3) & first_lanes;
    for (std::uint64_t bits = open; bits != 0; bits &= bits - 1) {
      const std::int32_t b = w * 16 + qir_count_trailing_zeros(bits) / block_lanes;
      if (b < blocks) gaps[b] = evaluated_gaps(results, b, best, top_mfv);
    }
  }
  if (bounded_) {
    // Blocks left unevaluated by their bounds have no gaps measured.
    for (std::int32_t w = 0; w * 16 < blocks; ++w)
      for (std::int32_t q = 0; q < 16 && w * 16 + q < blocks; ++q)
        if (((deferred[w] >> (q * block_lanes)) & 15u) != 0) gaps[w * 16 + q] = 0;
  }
  memory_.best_cfv(J) = best;
  memory_.winner_mfv(J) = top_mfv;
}

void PackedSearch::GapUse::count(std::uint64_t nodes_searched, std::uint64_t nodes_deferred) {
  nodes += nodes_searched;
  deferred += nodes_deferred;
  // Every search counts towards the window, so that the few patterns that
  // keep their gaps while it does not pay tell soon enough when it does.
  if (++searches < window || nodes == 0) return;
  // Measured on the letters-like and overlapping workloads: the
  // bookkeeping costs as much as it saves once about 3/8 of the nodes are
  // left unevaluated.
  keeping = 8 * deferred >= 3 * nodes;
  pauses += !keeping;
  searches = nodes = deferred = 0;
}

// Whether deferred node i provably has an MFV of at most rho.
bool PackedSearch::drops_out(std::int32_t b, double rho) {
  const std::uint8_t *gaps = memory_.gaps(J_);
  if (gaps == nullptr) return false;
  const std::uint32_t m = mfv_steps(gaps[b]);
  return m > 0 && upper_bound(memory_.winner_mfv(J_), m) <= rho;
}

// A node left unevaluated by its bound has a CFV below the best of the
// nodes evaluated before it, at most the winner's: its computed MFV is
// below winner CFV x (free size + alpha) / D (choice_cut.h).
double PackedSearch::bounded_mfv(std::int32_t slot) const {
  const double n = packed_.free_size(slot) + params_.alpha;
  return winner_cfv_ * n * params_.inverse_D;
}

// Evaluates deferred block b now, for the same pattern and the same,
// unchanged nodes: the search's own results, counted then.
void PackedSearch::evaluate_deferred(std::int32_t b) {
  matcher_.evaluate_block(packed_, pattern_, params_, b);
  evaluated_late_ += static_cast<std::uint64_t>(packed_.block_members()[b]);
  const std::int32_t slot = b * block_lanes;
  deferred_[slot >> 6] &= ~(std::uint64_t{15} << (slot & 63));
}

void PackedSearch::store_result(NodeList &nodes, std::int32_t i) const {
  const std::int32_t slot = packed_.slot_of(i);
  matcher_.store_into(slot, nodes[i]);
  nodes[i].cfv = matcher_.cfv(slot);
}

// What passes_tests and consider_candidate decide for a node that passed
// VT, from the search's own results: the same CFV from the same values,
// the same CT, the same comparisons, with nothing printed (no trace lists
// candidates here). Writing every candidate's record cost more than its
// evaluation; only the winner's is written, at the end.
void PackedSearch::decide(std::int32_t slot, const SearchRules &rules, PatternTally &tally,
                          CandidateChoice &choice) {
  const double cfv = matcher_.cfv(slot);
  ops_.flops += cfv_flops;
  if (rules.ct_option == 1) {
    tally.pattern_flops += 1;
    tally.pattern_comparisons += 1;
    if (!(cfv + test_tolerance >= rules.Tu)) return;
  }
  eligible_[slot >> 6] |= std::uint64_t{1} << (slot & 63);
  choice.add(packed_.node_at(slot), cfv);
}

void PackedSearch::consider(Node &node, std::int32_t i, double rho, const SearchRules &rules,
                            PatternTally &tally, std::int32_t &winner, double &best_cfv) {
  const std::int32_t slot = packed_.slot_of(i);
  matcher_.store_into(slot, node);
  if (!passes_tests(node, i, rho, rules, tally, &ops_)) return;
  eligible_[slot >> 6] |= std::uint64_t{1} << (slot & 63);
  consider_candidate(node, i, winner, best_cfv, tally);
  if (rules.oflag == 4)
    mexPrintf("      Node #%d is candidate (CFV=%s)\n", i + 1, format_fixed(node.cfv).text);
}

void PackedSearch::sync_flags(NodeList &nodes) {
  for (std::size_t w = 0; w < eligible_.size(); ++w)
    for (std::uint64_t bits = eligible_[w] ^ was_eligible_[w]; bits != 0; bits &= bits - 1) {
      const std::int32_t slot = static_cast<std::int32_t>(w * 64) + qir_count_trailing_zeros(bits);
      nodes[packed_.node_at(slot)].eligible =
          static_cast<std::int32_t>((eligible_[w] >> (slot & 63)) & 1u);
    }
}

std::int32_t PackedSearch::choose_during_mt(NodeList &nodes, double rho, PatternTally &tally) {
  CandidateChoice choice;
  for (std::size_t w = 0; w < eligible_.size(); ++w) {
    for (std::uint64_t bits = eligible_[w]; bits != 0; bits &= bits - 1) {
      const std::int32_t slot = static_cast<std::int32_t>(w * 64) + qir_count_trailing_zeros(bits);
      const std::int32_t b = slot / block_lanes;
      tally.pattern_comparisons += 1;
      // A node left unevaluated either provably drops out or is evaluated now.
      const bool deferred = ((deferred_[w] >> (slot & 63)) & 1u) != 0;
      const bool drops = deferred && (bounded_ ? bounded_mfv(slot) <= rho : drops_out(b, rho));
      if (deferred && !drops) evaluate_deferred(b);
      if (drops || !(matcher_.mfv(slot) > rho)) {
        nodes[packed_.node_at(slot)].eligible = 0;
        eligible_[w] &= ~(std::uint64_t{1} << (slot & 63));
        continue;
      }
      // The stored values of this pattern's search, as the records would
      // hold them.
      choice.add(packed_.node_at(slot), matcher_.cfv(slot));
    }
  }
  if (choice.candidates > 1)
    tally.pattern_comparisons += static_cast<std::uint32_t>(choice.candidates - 1);
  const std::int32_t winner = choice.winner();
  if (winner >= 0) store_result(nodes, winner);
  return winner;
}

}  // namespace qir
