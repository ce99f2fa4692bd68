// Node geometry packed for evaluating many nodes against one pattern at a
// time. Nodes are grouped in blocks of four; inside a block the centres (and
// the directions) are interleaved feature by feature, so the SIMD lanes of
// one load hold four nodes' values of the same feature. Every node's sums
// still run over its own features in order, so each lane computes exactly
// what node_match computes for that node, bit for bit.
#pragma once

#include "choice_cut.h"
#include "early_cut.h"
#include "node.h"
#include "portability.h"
#include "vigilance_reach.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace qir {

// Cache-line aligned storage for the packed arrays.
template <class T>
struct AlignedAllocator {
  using value_type = T;
  static constexpr std::align_val_t alignment{64};
  AlignedAllocator() = default;
  template <class U>
  AlignedAllocator(const AlignedAllocator<U> &) {}
  T *allocate(std::size_t n) {
    return static_cast<T *>(::operator new(n * sizeof(T), alignment));
  }
  void deallocate(T *p, std::size_t) { ::operator delete(p, alignment); }
  template <class U>
  bool operator==(const AlignedAllocator<U> &) const { return true; }
  template <class U>
  bool operator!=(const AlignedAllocator<U> &) const { return false; }
};

template <class T>
using AlignedVector = std::vector<T, AlignedAllocator<T>>;

constexpr std::int32_t block_lanes = 4;

constexpr std::int32_t max_segments = max_cuts + 1;

// The features split at the cut points: segment s holds features
// segment_begin … segment_end - 1.
inline std::int32_t segment_begin(const CutPoints &cuts, std::int32_t s) {
  return s == 0 ? 0 : cuts.at[s - 1];
}
inline std::int32_t segment_end(const CutPoints &cuts, std::int32_t M, std::int32_t s) {
  return s == cuts.count ? M : cuts.at[s];
}

// What a kernel reads: plain pointers into PackedNodes. The features are
// stored in segments split at the cut points, so that a stage that reads
// only the first features of every block streams through one compact
// array: segment s holds features segment_begin(s) … segment_end(s)-1 of
// every block as [block][feature][lane].
struct PackedView {
  const double *center[max_segments] = {};
  const double *direction[max_segments] = {};
  const double *radius = nullptr;     // [node], padded to whole blocks
  const double *free_size = nullptr;
  const std::uint64_t *point_mask = nullptr;  // all ones where is_point
  // Each slot's early cut at each cut point (see early_cut.h), and the
  // nodes in each block.
  CutPoints cuts;
  const double *cut_scale[max_cuts] = {};
  const double *cut_weight[max_cuts] = {};
  const double *cut_limit[max_cuts] = {};
  const std::int32_t *block_members = nullptr;
  const std::uint8_t *empty_lanes = nullptr;  // per block: a bit per lane without a node
  // Each slot's choice cut (choice_cut.h); null without a usable rule:
  // the centres in single precision, feature by feature, and the terms
  // of ChoiceCutSlot by slot.
  const float *choice_centre = nullptr;  // [feature][slot], rows choice_stride apart
  std::int32_t choice_stride = 0;
  const double *choice_error = nullptr;  // NaN where the node is never left out
  const double *choice_vt_limit = nullptr;
  const double *choice_denominator = nullptr;
  const double *choice_base = nullptr;
  const double *choice_outside = nullptr;
  ChoiceFactors choice_factors;
  std::int32_t M = 0;
  std::int32_t blocks = 0;
  std::int32_t segments() const { return cuts.count + 1; }
  std::int32_t segment_begin(std::int32_t s) const { return qir::segment_begin(cuts, s); }
  std::int32_t segment_end(std::int32_t s) const { return qir::segment_end(cuts, M, s); }
};

// Per-call values that every evaluation reads.
struct MatchParams {
  double ratio = 1.0;
  double D = 0.0;
  // The vigilance test (mfv + vt_tolerance >= vt_threshold), taken here so
  // the cores visit only the nodes that pass it. A tolerance of 0 is the
  // plain test: x + 0 compares exactly as x for every double.
  double vt_tolerance = 0.0;
  double vt_threshold = 0.0;
  // Whether a block whose every node provably fails at a cut point is left
  // unfinished (the nodes' cuts must hold for this test).
  bool cut = false;
  // Given, each evaluated node's CFV too: fit / (free_size + alpha), as
  // the cores compute it.
  bool with_cfv = false;
  double alpha = 0.0;
  // A training search without memory (needs with_cfv and the nodes'
  // choice cuts; no cuts): blocks go in runs in list order, and a block
  // whose every node provably cannot win against the best CFV found so
  // far is left unevaluated (choice_cut.h).
  bool choose = false;
  double inverse_D = 0.0;  // 1 / D raised by the margin, for the MFV bounds
  double single_error = 0.0;  // the pattern's share of the error term (choice_cut.h)
  std::int32_t likely_block = -1;  // evaluated first when choosing (-1: none)
};

// A classification's winner gathered lane by lane by the kernels (a lean
// evaluation): per lane, the greatest CFV among the candidates it saw and
// the lowest slot holding it. A candidate passes the vigilance test (and,
// with `ct`, has a CFV of at least Tu). The update takes a greater CFV, or
// an equal one in a lower slot, so the lanes' order of visit does not
// matter; a NaN CFV is never taken but noted in `unordered`.
struct alignas(64) WinnerLanes {
  double best[8];
  double slot[8];  // +inf: no candidate yet
  std::int64_t passing = 0;
  std::int64_t candidates = 0;
  bool unordered = false;
  bool ct = false;
  double Tu = 0.0;
  void reset(bool with_ct, double tu);
  // The lowest slot of the greatest CFV over every lane, -1 when there was
  // no candidate; meaningful only without `unordered`.
  std::int32_t winner() const;
};

// A lean evaluation's thresholds on the radicand r, per slot (lean_cut.h).
struct LeanCutView {
  const double *inside = nullptr;   // r <= inside: the pattern lies inside
  const double *outside = nullptr;  // r >= outside: it lies outside
  const double *pass = nullptr;     // outside, r <= pass: passes the vigilance test
  const double *fail = nullptr;     // outside, r >= fail: fails it
  const double *cfv = nullptr;      // inside: the CFV, fs / (fs + alpha)
  const std::uint64_t *passes = nullptr;  // inside: all ones where the test passes
  // With the lane's best G: r >= max(A - G B, 0)^2 proves CFV <= G.
  const double *reach = nullptr;  // A (+inf: proves nothing)
  const double *scale = nullptr;  // B
  // The terms lie in runs of eight slots: slot i's is at (i / 8) * stride + i % 8.
  static constexpr std::int32_t stride = 7 * 8;
  static const double *at(const double *term, std::int32_t i) {
    return term + static_cast<std::size_t>(i >> 3) * stride + (i & 7);
  }
};

// The most patterns a lean evaluation is handed at once; the AVX-512
// kernel takes up to lean_wide_patterns of at most lean_wide_features
// features in one pass over the nodes (eight or more; fewer go
// lean_pass_patterns at a time).
constexpr std::int32_t lean_batch_patterns = 16;
constexpr std::int32_t lean_wide_patterns = 16;
constexpr std::int32_t lean_wide_features = 64;
constexpr std::int32_t lean_pass_patterns = 4;

// What a kernel counts over its blocks.
struct MatchCount {
  std::int64_t outside = 0;  // nodes outside their radius (padding never is)
  std::int64_t cut = 0;      // nodes left unfinished, all of them outside
  std::int64_t cut_tests = 0;    // blocks tested for a cut
  std::int64_t cut_blocks = 0;   // blocks cut
  std::int64_t deferred = 0;     // nodes left unevaluated that cannot win
  std::int64_t unordered = 0;    // evaluated nodes passing VT with a NaN CFV
};

// Where a kernel writes: one entry per node slot (padded), and one bit per
// node slot in `passes_vt` (node i is bit i % 64 of word i / 64).
struct MatchOut {
  // A lean evaluation (given a winner, never with cut points) writes
  // nothing but the winner's lanes: then all but block_list may be null.
  double *distance = nullptr;
  double *excess = nullptr;
  double *fit = nullptr;
  double *mfv = nullptr;
  double *cfv = nullptr;  // null unless MatchParams::with_cfv
  std::uint64_t *passes_vt = nullptr;
  std::int32_t *block_list = nullptr;  // the blocks to evaluate; room for every block
  // Per block: a bit for each lane whose node failed the vigilance test
  // lying outside, or that holds no node (the low four bits; all four for
  // a block left unfinished), and one for each lane whose node the pattern
  // lies inside (the high four).
  std::uint8_t *failing = nullptr;
  // A bit per slot left unevaluated because it cannot win (choose only);
  // their MFV bounds go to `mfv`.
  std::uint64_t *deferred = nullptr;
  // Choose only: the pattern in single precision, and room for each
  // slot's distance to it in single precision.
  const float *single_pattern = nullptr;
  float *single = nullptr;
  // Given: a lean evaluation, gathering the winner there.
  WinnerLanes *winner = nullptr;
  // Given too (CT off): its registers decided from the radicand where the
  // thresholds prove every lane (lean_cut.h).
  const LeanCutView *lean_cut = nullptr;
  // Registers decided from the thresholds, and those evaluated exactly.
  std::int64_t *lean_counts = nullptr;  // [2], added to; may be null
};

// The nodes' geometry in block layout. Node i (its index in the caller's
// list) sits in slot slot_of(i); by default slots follow the node order, but
// a caller may place nodes elsewhere (to keep near nodes in one block).
// Slots holding no node are padding, built so that they are never outside
// and never pass the vigilance test, so kernels need no tail handling.
class PackedNodes {
 public:
  explicit PackedNodes(std::int32_t num_features = 0) : M_(num_features) {}

  // Drops every node and sets the number of features. Given a usable
  // rule, every node also gets its early cut for that rule's test.
  void reset(std::int32_t num_features, const ReachRule &rule = ReachRule());
  // Gives every node placed or refreshed from now on its choice cut under
  // `rule` (kept over resets until set again).
  void set_choice_rule(const ChoiceCutRule &rule) {
    choice_rule_ = rule;
    stamp_.renew();
  }
  bool choosing() const { return choice_rule_.usable; }
  void reserve(std::int32_t nodes);
  // Adds a copy of the node's geometry as node size(), in the slot after
  // the highest one in use.
  void push_back(const Node &node);
  // Adds the node as node size() in `slot`, a padding slot; slots beyond
  // the last block are added as padding first.
  void place(const Node &node, std::int32_t slot);
  // Copies node i's geometry again after the node changed.
  void refresh(std::int32_t i, const Node &node);

  std::int32_t size() const { return count_; }
  std::int32_t features() const { return M_; }
  std::int32_t slots() const { return static_cast<std::int32_t>(radius_.size()); }
  std::int32_t blocks() const { return slots() / block_lanes; }
  std::int32_t point_count() const { return points_; }
  std::int32_t end_slot() const { return end_slot_; }
  std::int32_t slot_of(std::int32_t i) const { return slot_of_[i]; }
  // Node in a slot, or -1 for padding.
  std::int32_t node_at(std::int32_t slot) const { return node_at_[slot]; }
  double free_size(std::int32_t slot) const { return free_size_[slot]; }
  const double *free_sizes() const { return free_size_.data(); }
  // True while every node sits in the slot of its own index.
  bool in_node_order() const { return in_order_; }
  // Per block, the number of nodes in it, and a bit for each lane without
  // a node.
  const std::int32_t *block_members() const { return block_members_.data(); }
  const std::uint8_t *empty_lanes() const { return empty_lanes_.data(); }
  // Where the nodes' cuts may be tested; none without a usable rule.
  const CutPoints &cut_points() const { return cuts_; }
  PackedView view() const;
  // Differs from every earlier value of any PackedNodes' stamp(): taken
  // afresh on every change and by every copy, so a view built at one stamp
  // serves as long as the stamp holds.
  std::uint64_t stamp() const { return stamp_.value; }

 private:
  void add_block();
  void store(std::int32_t slot, std::int32_t i, const Node &node);

  struct Stamp {
    std::uint64_t value = next();
    Stamp() = default;
    Stamp(const Stamp &) : value(next()) {}
    Stamp &operator=(const Stamp &) {
      value = next();
      return *this;
    }
    void renew() { value = next(); }
    static std::uint64_t next();
  };

  Stamp stamp_;
  std::int32_t M_ = 0;
  std::int32_t count_ = 0;
  std::int32_t points_ = 0;
  std::int32_t end_slot_ = 0;  // one past the highest slot in use
  bool in_order_ = true;
  ReachRule rule_;
  CutPoints cuts_;
  std::int32_t segment_width(std::int32_t s) const;

  AlignedVector<double> center_[max_segments];
  AlignedVector<double> direction_[max_segments];
  AlignedVector<double> radius_;
  AlignedVector<double> free_size_;
  AlignedVector<std::uint64_t> point_mask_;
  AlignedVector<double> cut_scale_[max_cuts];
  AlignedVector<double> cut_weight_[max_cuts];
  AlignedVector<double> cut_limit_[max_cuts];
  ChoiceCutRule choice_rule_;
  // Per slot, as ChoiceCutSlot: error, vt_limit, denominator, base,
  // outside; and the single-precision centres.
  static constexpr int choice_terms = 5;
  AlignedVector<double> choice_[choice_terms];
  AlignedVector<float> choice_centre_;  // [feature][slot]
  std::int32_t choice_stride_ = 0;      // slots per feature row
  std::vector<float> single_;  // one node's centre, while it is stored
  std::vector<std::int32_t> block_members_;
  std::vector<std::uint8_t> empty_lanes_;
  std::vector<std::int32_t> is_point_;  // per real node, for the point count
  std::vector<std::int32_t> slot_of_;   // per node
  std::vector<std::int32_t> node_at_;   // per slot, -1 for padding
};

enum class MatchKernel : std::int32_t { scalar = 0, sse2 = 1, avx2 = 2, neon = 3, avx512 = 4 };
constexpr MatchKernel all_match_kernels[] = {MatchKernel::scalar, MatchKernel::sse2,
                                             MatchKernel::avx2, MatchKernel::neon,
                                             MatchKernel::avx512};

// The best kernel this processor runs.
MatchKernel best_match_kernel();
// The kernel a module call uses: the best one, unless the environment
// variable QIR_MATCH_KERNEL names another ("scalar", "sse2", "avx2", "avx512", "neon") that
// this processor runs. Lets tests drive every path on one machine.
MatchKernel select_match_kernel();
const char *match_kernel_name(MatchKernel kernel);
bool match_kernel_supported(MatchKernel kernel);

// Operation totals gathered over many evaluations and handed to count_ops
// in a few calls. The module-wide counters and the host's total come out as
// if every evaluation had called count_ops itself.
struct OpTally {
  std::uint64_t flops = 0;
  std::uint64_t comparisons = 0;
};

// Passes the tally to count_ops (in pieces small enough for its int
// arguments) and clears it.
void flush_ops(OpTally &tally);

class NodeGroups;
class ChoiceBounds;
struct ChoiceRule;

// What a choice search left out beyond the counts of evaluate: nodes that
// pass the vigilance test (a CFV each), that pass CT too (CT on), and the
// candidates among them, each one after the first.
struct ChoiceSkips {
  std::int64_t passing = 0;
  std::int64_t ct_passing = 0;
  std::int64_t candidates = 0;
};

// The four bits of block b in a bitset of slots.
inline std::uint32_t lanes_of_block(const std::uint64_t *slot_bits, std::int32_t b) {
  const std::int32_t slot = b * block_lanes;
  return static_cast<std::uint32_t>(slot_bits[slot >> 6] >> (slot & 63)) & 15u;
}

// What one pattern's last search found, for the blocks none of whose nodes
// has changed since: those whose every lane failed the vigilance test lying
// outside (or held no node), and how far below the best CFV the others
// stayed (choice_gaps.h).
struct KnownFailures {
  const std::uint8_t *failing = nullptr;  // per block, as BlockMatcher::failing(); null: none
  const std::uint64_t *changed_at = nullptr;  // per block
  std::uint64_t searched_at = 0;
  const std::uint8_t *gaps = nullptr;  // per block; null: none kept
  double best_cfv = 0.0;               // what the CFV gaps are measured from
  bool unchanged(std::int32_t b) const { return changed_at[b] < searched_at; }
  bool hold(std::int32_t b) const { return failing[b] == 15u && unchanged(b); }
};

// A training search that may leave unevaluated the blocks whose nodes
// cannot win (choice_gaps.h): the block of the node that won the pattern's
// last search is evaluated first, and the best CFV among its nodes that
// pass the vigilance test is what the others must stay below.
struct WinnerSearch {
  double alpha = 0.0;
  std::int32_t likely_block = -1;  // -1: none
};

// Evaluates the packed nodes against one pattern with one kernel and keeps
// the results (by slot); storage grows with the node set, never per
// pattern. Given groups (skipping allowed, for the rule the nodes were
// packed with), it skips the groups that lie beyond every node's reach and
// leaves unfinished the blocks whose cuts hold; skipped nodes are counted
// as what they provably are, outside and failing the vigilance test, and
// have no results.
class BlockMatcher {
 public:
  explicit BlockMatcher(MatchKernel kernel = select_match_kernel());

  // Fills the results of every node not skipped and adds the operations
  // that node_match would have counted for all nodes to `tally`. With
  // skipping allowed, the blocks `known` to fail are skipped too.
  // Given `winner` too, the blocks whose nodes cannot win are deferred:
  // counted as outside (they pass the vigilance test), left without
  // results, marked by deferred_slots().
  void evaluate(const PackedNodes &nodes, const double *pattern, const MatchParams &params,
                OpTally &tally, const NodeGroups *groups = nullptr,
                const KnownFailures &known = KnownFailures(),
                const WinnerSearch *winner = nullptr);
  // A bit per slot (as passing_words) for each node the last evaluation
  // deferred; a block's nodes are deferred together. And their number.
  const std::uint64_t *deferred_slots() const { return deferred_slots_.data(); }
  std::int64_t deferred_nodes() const { return deferred_nodes_; }
  // A classification search: as evaluate with groups, and the groups whose
  // bounds prove that no node of theirs can win are left out
  // (choice_bound.h). Groups that must be evaluated go first, with the
  // group of the highest CFV bound when there is none; the others are
  // left out when their bound lies below the best CFV found. Every node
  // evaluated gets its CFV (cfv()); what was left out is counted in `tally`
  // (the evaluations) and `skips` (the rest). A NaN CFV among the
  // candidates evaluated brings back every candidate left out.
  // Every node, without groups or cuts, for a classification: the kernels
  // gather the winner into `winner` (reset) and keep no result per node.
  // Adds the operations as evaluate does.
  // Given `cuts` for these nodes and values (and CT off), registers are
  // decided from the radicand where they prove it (lean_cut.h), by every
  // kernel but AVX-512's.
  void evaluate_lean(const PackedNodes &nodes, const double *pattern, const MatchParams &params,
                     OpTally &tally, WinnerLanes &winner, const LeanCutView *cuts = nullptr);
  // Registers of lean evaluations decided from the thresholds and
  // evaluated exactly, since the matcher was made.
  std::int64_t lean_cut_registers() const { return lean_counts_[0]; }
  std::int64_t lean_exact_registers() const { return lean_counts_[1]; }
  // evaluate_lean for `count` patterns (at most lean_batch_patterns), each
  // into its own tally and winner (each reset): the AVX-512 kernel reads
  // the nodes once for all of them, the others take one at a time.
  void evaluate_lean_batch(const PackedNodes &nodes, const double *const *patterns,
                           std::int32_t count, const MatchParams &params, OpTally *tallies,
                           WinnerLanes *winners);
  void evaluate_choosing(const PackedNodes &nodes, const double *pattern,
                         const MatchParams &params, const NodeGroups &groups,
                         const ChoiceBounds &bounds, const ChoiceRule &rule, OpTally &tally,
                         ChoiceSkips &skips);
  // Whether that search saves at least an eighth of the node evaluations
  // for a sample of the P patterns, as skipping_pays.
  bool choosing_pays(const PackedNodes &nodes, const MatchParams &params,
                     const NodeGroups &groups, const ChoiceBounds &bounds,
                     const ChoiceRule &rule, std::int32_t P, const double *const *patterns);
  // Evaluates block b for the pattern of the last evaluation, counting
  // nothing (its nodes were counted when they were deferred).
  void evaluate_block(const PackedNodes &nodes, const double *pattern, const MatchParams &params,
                      std::int32_t b);
  // After an evaluation, per block: the lanes whose node failed the
  // vigilance test lying outside, or that hold no node (15: all of them),
  // and in the high four bits the lanes whose node the pattern lies inside.
  const std::uint8_t *failing() const { return failing_.data(); }

  // Whether skipping saves at least an eighth of the node evaluations for
  // a sample of the P patterns (64 of them, spread over all), with the
  // groups and cuts as evaluate uses them; below that, group tests and the
  // reordering of the nodes cost more than they save. Leaves no trace in
  // what evaluate decides later.
  bool skipping_pays(const PackedNodes &nodes, const MatchParams &params,
                     const NodeGroups &groups, std::int32_t P, const double *const *patterns);

  // Sizes the storage for these nodes now rather than at the next
  // evaluation.
  void prepare(const PackedNodes &nodes) { grow(nodes); }

  MatchKernel kernel() const { return kernel_; }
  // Uses another kernel from now on (a supported one, else the best).
  void select(MatchKernel kernel);
  // Whether the blocks of a winner search are sorted eight at a time where
  // they can be (the usual), or one at a time; the tests drive both.
  void sort_by_eight(bool on) { sort_by_eight_ = on; }
  double distance(std::int32_t slot) const { return distance_[slot]; }
  double excess(std::int32_t slot) const { return excess_[slot]; }
  double fit(std::int32_t slot) const { return fit_[slot]; }
  double mfv(std::int32_t slot) const { return mfv_[slot]; }
  // Given MatchParams::with_cfv: the CFV of each node evaluated; else of
  // those that passed the vigilance test once passing_cfvs() has run.
  double cfv(std::int32_t slot) const { return cfv_[slot]; }
  // The CFVs of the nodes that passed the vigilance test, for an
  // evaluation without MatchParams::with_cfv: where few pass, cheaper than
  // the kernels' CFV of every node.
  void passing_cfvs(const PackedNodes &nodes, double alpha);
  bool passes_vt(std::int32_t slot) const { return (passes_vt_[slot >> 6] >> (slot & 63)) & 1u; }
  // The results by slot, for loops over many blocks.
  const double *excess_data() const { return excess_.data(); }
  const double *mfv_data() const { return mfv_.data(); }
  const double *cfv_data() const { return cfv_.data(); }
  // A bit per slot whose node passed the vigilance test (as for_each_passing_slot).
  const std::uint64_t *passing_words() const { return passes_vt_.data(); }
  // A bit per lane of block b whose node passed the vigilance test.
  std::uint32_t passing_lanes(std::int32_t b) const { return lanes_of_block(passes_vt_.data(), b); }
  // Writes the results of the node in `slot` into its record, as node_match
  // would have.
  void store_into(std::int32_t slot, Node &node) const;
  // Node evaluations skipped so far.
  std::uint64_t skipped() const { return skipped_; }

  // Calls visit(i) for every node i that passed the vigilance test, in
  // increasing i.
  template <class Visit>
  void for_each_passing(const PackedNodes &nodes, Visit visit);
  // Calls visit(slot) for the slot of every such node, in increasing slot.
  template <class Visit>
  void for_each_passing_slot(const PackedNodes &nodes, Visit visit) const {
    const std::int32_t words = (nodes.slots() + 63) / 64;
    for (std::int32_t w = 0; w < words; ++w)
      for (std::uint64_t b = passes_vt_[w]; b != 0; b &= b - 1)
        visit(w * 64 + qir_count_trailing_zeros(b));
  }

 private:
  // Skipping tests stop paying off when they rarely skip anything; then
  // they are made for one pattern in 16 only, until skipping pays again.
  struct Adaptive {
    std::uint64_t share;  // pays while at least 1/share of the tests skip
    std::uint64_t patterns = 0;
    std::uint64_t tested = 0;
    std::uint64_t hits = 0;
    bool trying = true;
    bool worth_trying();
  };

  void grow(const PackedNodes &nodes);
  // nodes.view(), built once for each of the nodes' stamps.
  const PackedView &view_of(const PackedNodes &nodes) {
    if (viewed_ != nodes.stamp()) {
      view_ = nodes.view();
      viewed_ = nodes.stamp();
    }
    return view_;
  }
  bool single_pattern(const double *pattern, std::int32_t M, double &error);
  MatchCount match(const PackedNodes &nodes, const double *pattern, const MatchParams &params,
                   const NodeGroups *groups, const KnownFailures &known,
                   const WinnerSearch *winner);
  std::int32_t list_blocks(const PackedNodes &nodes, const double *pattern,
                           const MatchParams &params, const NodeGroups *groups,
                           const KnownFailures &known, const WinnerSearch *winner,
                           MatchCount &total);
  void tally_evaluations(const PackedNodes &nodes, std::int64_t outside, OpTally &tally) const;
  std::int32_t list_group(std::int32_t g, std::int32_t blocks, std::int32_t listed);
  bool best_candidate(const PackedNodes &nodes, std::int32_t listed, const ChoiceRule &rule,
                      double &best) const;
  double evaluate_seed(const PackedNodes &nodes, const double *pattern, const MatchParams &params,
                       std::int32_t b, double alpha, MatchCount &total);
  // The kernel over `listed` blocks of `list` (block_list_ when null).
  MatchCount run_kernel(const PackedNodes &nodes, const double *pattern, const MatchParams &params,
                        std::int32_t listed, std::int32_t *list = nullptr);
  void add(MatchCount &total, const MatchCount &part);
  const std::uint64_t *node_order_bits(const PackedNodes &nodes);

  MatchKernel kernel_;
  PackedView view_;
  std::uint64_t viewed_ = 0;  // the stamp view_ was built at; none is 0
  AlignedVector<double> distance_;
  AlignedVector<double> excess_;
  AlignedVector<double> fit_;
  AlignedVector<double> mfv_;
  AlignedVector<double> cfv_;  // by the kernels given MatchParams::with_cfv, else passing_cfvs()
  std::vector<std::uint64_t> passes_vt_;   // by slot
  std::vector<std::int32_t> block_list_;   // the kernels' work list
  std::vector<std::int32_t> every_block_;  // 0, 1, 2 …: a lean evaluation's list, read only
  // The slots of the nodes, the ellipsoids' then the points', for the
  // AVX-512 kernel with the patterns across the lanes; of the nodes stamped
  // shape_stamp_.
  void list_slots_by_shape(const PackedNodes &nodes);
  std::vector<std::int32_t> shape_slots_;
  std::int32_t shape_ellipsoids_ = 0;
  std::uint64_t shape_stamp_ = 0;
  std::vector<std::uint8_t> failing_;      // by block
  std::vector<std::uint64_t> node_bits_;   // by node, when slots are not in node order
  AlignedVector<float> single_;           // by slot, for choosing
  std::vector<float> single_pattern_;
  std::vector<double> group_distance_;     // squared, per group
  std::vector<std::uint8_t> group_choice_; // per group, a GroupChoice
  std::vector<double> group_cfv_;          // per group, its CFV bound
  std::vector<std::uint64_t> deferred_slots_;
  std::int64_t deferred_nodes_ = 0;
  std::uint64_t skipped_ = 0;
  bool sort_by_eight_ = true;
  std::int64_t lean_counts_[2] = {0, 0};
  Adaptive group_tests_{16};  // a group test costs about one node's evaluation
  Adaptive cut_tests_{5};     // a cut test costs about a fifth of a block's
};

template <class Visit>
void BlockMatcher::for_each_passing(const PackedNodes &nodes, Visit visit) {
  const std::uint64_t *bits = nodes.in_node_order() ? passes_vt_.data() : node_order_bits(nodes);
  const std::int32_t words = (nodes.size() + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w)
    for (std::uint64_t b = bits[w]; b != 0; b &= b - 1) visit(w * 64 + qir_count_trailing_zeros(b));
}

}  // namespace qir
