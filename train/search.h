// The competition of the nodes for one training pattern, and the choice
// again under a raised vigilance during match tracking. search_nodes and
// choose_during_mt are the plain node-at-a-time search; PackedSearch
// evaluates through a packed copy of the nodes and must agree with them
// exactly.
#pragma once

#include "node_block.h"
#include "node_groups.h"
#include "node_list.h"
#include "search_memory.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace qir {

// What a run's searches stood for: the node evaluations of a plain search,
// and how many of them were left undone (each counted as if done).
struct SearchCounts {
  std::uint64_t evaluations = 0;
  std::uint64_t left_out = 0;
};

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

// The winner among candidates visited in any order, as a visit in node
// order chooses it (see search_nodes): the first candidate wins outright
// and a later one only with a strictly greater CFV, so the winner is the
// lowest-numbered candidate if its CFV is NaN (nothing is greater than
// NaN), else the lowest-numbered of those whose CFV equals the greatest
// CFV that is not NaN (a later NaN never wins).
struct CandidateChoice {
  std::int64_t candidates = 0;
  std::int32_t first = -1;  // the lowest-numbered candidate
  double first_cfv = 0.0;
  std::int32_t best = -1;  // the best CFV that is not NaN
  double best_cfv = 0.0;
  void add(std::int32_t i, double cfv) {
    ++candidates;
    if (first < 0 || i < first) {
      first = i;
      first_cfv = cfv;
    }
    if (std::isnan(cfv)) return;
    if (best < 0 || cfv > best_cfv || (cfv == best_cfv && i < best)) {
      best = i;
      best_cfv = cfv;
    }
  }
  std::int32_t winner() const {
    return first >= 0 && (std::isnan(first_cfv) || best < 0) ? first : best;
  }
};

// The plain search behind the interface of the packed one.
class PlainSearch {
 public:
  void start(double, const SearchRules &, std::int32_t, const double *const *) {}
  void node_added(const NodeList &) {}
  void node_changed(std::int32_t, const Node &) {}
  void last_presentation(bool) {}
  std::int32_t search(NodeList &nodes, std::int32_t, const double *pattern, double rho,
                      const SearchRules &rules, PatternTally &tally) {
    return search_nodes(nodes, pattern, rho, rules, tally);
  }
  std::int32_t choose_during_mt(NodeList &nodes, double rho, PatternTally &tally) {
    return qir::choose_during_mt(nodes, rho, tally);
  }
  SearchCounts counts() const { return SearchCounts(); }
};

// Keeps a packed copy of the nodes' geometry in step with the list (the
// caller reports every new node and every changed one) and evaluates all
// nodes at once. Near nodes share groups, and unless the trace lists
// failing nodes, the groups beyond the pattern's reach are skipped (see
// node_groups.h), blocks are cut short (early_cut.h), blocks known to fail
// from the pattern's last search are skipped (search_memory.h), and without
// CT, unchanged blocks known to stay below the best CFV found are deferred
// (choice_gaps.h), or, when asked for, those that searches without memory
// prove unable to win (choice_cut.h). The decisions are those of search_nodes and
// choose_during_mt, node by node, with the same trace and tallies; only the
// nodes that pass VT are visited unless the trace lists the others. The
// node operations reach count_ops once per search, in the same totals.
// The evaluation fields and CFVs stay in the search's own arrays, by slot
// (a deferred node's computed when MT first needs them), where MT reads
// them; only the winner's are written into its record (all that the
// training core and node_learn read), and with the trace on, every passing
// node's. Eligibility is kept twice, in
// step: each node's flag, as the plain search leaves it, and a bitset of
// the eligible nodes, so that a search clears only the flags the last one
// set and MT visits only the eligible nodes.
class PackedSearch {
 public:
  // Reads num_features: made after the model parameters are set.
  PackedSearch();
  // The call's vigilance, rules and N patterns, before the first node is
  // added.
  void start(double vigilance, const SearchRules &rules, std::int32_t N,
             const double *const *patterns);
  void node_added(const NodeList &nodes);
  void node_changed(std::int32_t i, const Node &node);
  // Whether the list presentation about to start is the last the call
  // allows: nothing learned of a pattern's search then can serve a later
  // one, so nothing is kept.
  void last_presentation(bool last) { keeping_ = !last; }
  // The search for pattern J of the call's N.
  std::int32_t search(NodeList &nodes, std::int32_t J, const double *pattern, double rho,
                      const SearchRules &rules, PatternTally &tally);
  std::int32_t choose_during_mt(NodeList &nodes, double rho, PatternTally &tally);

 private:
  void consider(Node &node, std::int32_t i, double rho, const SearchRules &rules,
                PatternTally &tally, std::int32_t &winner, double &best_cfv);
  void decide(std::int32_t slot, const SearchRules &rules, PatternTally &tally, CandidateChoice &choice);
  // Writes node i's results of this pattern's search into its record.
  void store_result(NodeList &nodes, std::int32_t i) const;

  void regroup(const NodeList &nodes);
  void place_in_groups(const NodeList &nodes);
  void defer();
  void remember_choices(const NodeList &nodes, std::int32_t J, std::int32_t winner);
  bool drops_out(std::int32_t b, double rho);
  void evaluate_deferred(std::int32_t b);
  // Clears every node's eligibility, visiting only the eligible nodes.
  void sync_flags(NodeList &nodes);

  PackedNodes packed_;
  NodeGroups groups_;
  double vigilance_ = 0.0;
  bool prune_ = false;
  bool keeping_ = true;  // what searches find is kept for later ones
  std::int32_t N_ = 0;
  const double *const *patterns_ = nullptr;
  std::int32_t grouped_ = 0;  // nodes 0 … grouped_-1 sit in groups; later ones after them
  BlockMatcher matcher_;
  SearchMemory memory_;
  OpTally ops_;
  // One bit per slot, set where its node's eligible flag is 1 (blocks of
  // four slots share a word, so a whole block is marked at once).
  std::vector<std::uint64_t> eligible_;
  std::vector<std::uint64_t> was_eligible_;  // eligible_ before the current search
  std::vector<double> word_most_;  // choose_passing's room
  // Leaving unevaluated the nodes that cannot win (no CT; first search of
  // each pattern): the node each pattern's last search chose, the nodes of
  // the current search left unevaluated (one bit per node), and what
  // evaluating them later needs.
  bool by_winner_ = false;
  std::vector<std::int32_t> last_winner_;
  // Leaving unevaluated, in a search without memory, the blocks whose
  // nodes provably cannot win (choice_cut.h; no CT; QIR_TRAINING_BOUNDS),
  // and whether the current search did: its deferred nodes are then
  // bounded by the winner's CFV, not by gaps.
  bool choosing_ = false;
  bool bounded_ = false;
  double winner_cfv_ = 0.0;  // the search's winner's CFV
  double bounded_mfv(std::int32_t slot) const;
  // A bit per slot, set for the nodes left unevaluated and not evaluated
  // since (as eligible_, a block's four slots in one word).
  std::vector<std::uint64_t> deferred_;
  // Keeping the gaps costs about a third of an evaluation per node, each
  // search; it pays only where enough nodes are left unevaluated. Measured
  // over windows of searches that had gaps to use; while it does not pay,
  // and until it is first shown to pay, only one pattern in 16 keeps them,
  // to notice when it pays. (On the overlapping workloads at the defaults,
  // two or four list presentations, keeping them all from the start cost a
  // fifth of the training time.)
  struct GapUse {
    std::uint64_t window = 4096;  // searches between decisions
    std::uint64_t pauses = 0;     // decisions not to keep them
    std::uint64_t searches = 0;
    std::uint64_t nodes = 0;
    std::uint64_t deferred = 0;
    bool keeping = false;
    // Counts one search: the nodes searched if it had gaps to use (else
    // 0), and those it left unevaluated.
    void count(std::uint64_t nodes_searched, std::uint64_t nodes_deferred);
    // Whether pattern J's search is to keep its gaps. Whole bands of the memory's rows take the sample, so that the others
    // stay narrow.
    bool keep(std::int32_t J) const {
      return keeping || (J / SearchMemory::band_patterns) % 16 == 0;
    }
  };
  GapUse gap_use_;
  std::int32_t J_ = 0;
  const double *pattern_ = nullptr;
  MatchParams params_;
  std::uint64_t deferred_total_ = 0;
  std::uint64_t bounded_total_ = 0;
  std::uint64_t evaluations_ = 0;
  std::uint64_t evaluated_late_ = 0;  // nodes left out, then evaluated during MT

 public:
  // Node evaluations left undone because the nodes could not win, and
  // those of them left out by their bounds (choice_cut.h).
  std::uint64_t deferred_total() const { return deferred_total_; }
  std::uint64_t bounded_total() const { return bounded_total_; }
  // Node evaluations the searches stood for, and those never done.
  SearchCounts counts() const {
    return SearchCounts{evaluations_, matcher_.skipped() - evaluated_late_};
  }
  // How often keeping the gaps was found not to pay; the tests shorten the
  // window of searches it is judged over, to see it turn off and on.
  std::uint64_t gap_pauses() const { return gap_use_.pauses; }
  void set_gap_window(std::uint64_t searches) { gap_use_.window = searches; }
  // Blocks sorted one at a time rather than eight (see BlockMatcher).
  void sort_by_eight(bool on) { matcher_.sort_by_eight(on); }
};

// The search the module uses: the packed one, or the plain one in the
// reference build that the tests and benchmarks compare it with.
#ifdef QIR_PLAIN_SEARCH
using TrainingSearch = PlainSearch;
#else
using TrainingSearch = PackedSearch;
#endif

}  // namespace qir
