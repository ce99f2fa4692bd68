#include "node_block.h"

#include "environment_settings.h"
#include "match_kernels.h"
#include "model.h"
#include "portability.h"
#include "node_groups.h"
#include "byte_lanes.h"
#include "choice_bound.h"
#include "choice_gaps.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace qir {

void PackedNodes::reset(std::int32_t num_features, const ReachRule &rule) {
  stamp_.renew();
  M_ = num_features;
  rule_ = rule;
  cuts_ = rule.usable ? qir::cut_points(num_features) : CutPoints();
  count_ = 0;
  points_ = 0;
  end_slot_ = 0;
  for (std::int32_t s = 0; s < max_segments; ++s) {
    center_[s].clear();
    direction_[s].clear();
  }
  radius_.clear();
  free_size_.clear();
  point_mask_.clear();
  for (std::int32_t c = 0; c < max_cuts; ++c) {
    cut_scale_[c].clear();
    cut_weight_[c].clear();
    cut_limit_[c].clear();
  }
  for (auto &terms : choice_) terms.clear();
  choice_centre_.clear();
  choice_stride_ = 0;
  single_.assign(static_cast<std::size_t>(num_features), 0.0f);
  block_members_.clear();
  empty_lanes_.clear();
  is_point_.clear();
  slot_of_.clear();
  node_at_.clear();
  in_order_ = true;
}

void PackedNodes::reserve(std::int32_t nodes) {
  stamp_.renew();
  const std::size_t slots = (static_cast<std::size_t>(nodes) + block_lanes - 1) /
                            block_lanes * block_lanes;
  for (std::int32_t s = 0; s <= cuts_.count; ++s) {
    center_[s].reserve(slots * segment_width(s));
    direction_[s].reserve(slots * segment_width(s));
  }
  radius_.reserve(slots);
  free_size_.reserve(slots);
  point_mask_.reserve(slots);
  for (std::int32_t c = 0; c < cuts_.count; ++c) {
    cut_scale_[c].reserve(slots);
    cut_weight_[c].reserve(slots);
    cut_limit_[c].reserve(slots);
  }
  if (choosing())
    for (auto &terms : choice_) terms.reserve(slots);
  block_members_.reserve(slots / block_lanes);
  node_at_.reserve(slots);
  is_point_.reserve(static_cast<std::size_t>(nodes));
  slot_of_.reserve(static_cast<std::size_t>(nodes));
}

// A padding slot is a ball of infinite radius (never outside) whose free
// size is NaN (its MFV is NaN, so it never passes the vigilance test). Its
// cut always holds, so it never keeps a block from being cut; a cut block
// counts only its real nodes.
void PackedNodes::add_block() {
  stamp_.renew();
  for (std::int32_t s = 0; s <= cuts_.count; ++s) {
    const std::size_t per_block = static_cast<std::size_t>(segment_width(s)) * block_lanes;
    center_[s].resize(center_[s].size() + per_block, 0.0);
    direction_[s].resize(direction_[s].size() + per_block, 0.0);
  }
  radius_.resize(radius_.size() + block_lanes, std::numeric_limits<double>::infinity());
  free_size_.resize(free_size_.size() + block_lanes,
                    std::numeric_limits<double>::quiet_NaN());
  point_mask_.resize(point_mask_.size() + block_lanes, ~std::uint64_t{0});
  for (std::int32_t c = 0; c < cuts_.count; ++c) {
    cut_scale_[c].resize(cut_scale_[c].size() + block_lanes, 1.0);
    cut_weight_[c].resize(cut_weight_[c].size() + block_lanes, 0.0);
    cut_limit_[c].resize(cut_limit_[c].size() + block_lanes,
                         -std::numeric_limits<double>::infinity());
  }
  // A padding lane never keeps its block from being left out (the kernels
  // mask it out); its terms are never used.
  if (choosing()) {
    for (auto &terms : choice_) terms.resize(terms.size() + block_lanes, 0.0);
    const std::int32_t slots = static_cast<std::int32_t>(choice_[0].size());
    if (slots > choice_stride_) {
      // Rows twice as long, copied over: rare as nodes are added one by one.
      const std::int32_t stride = std::max(64, 2 * choice_stride_);
      AlignedVector<float> wider(static_cast<std::size_t>(M_) * static_cast<std::size_t>(stride), 0.0f);
      for (std::int32_t f = 0; f < M_; ++f)
        std::copy_n(choice_centre_.data() + static_cast<std::size_t>(f) * choice_stride_, choice_stride_,
                    wider.data() + static_cast<std::size_t>(f) * stride);
      choice_centre_.swap(wider);
      choice_stride_ = stride;
    }
  }
  block_members_.push_back(0);
  empty_lanes_.push_back(15u);
  node_at_.resize(node_at_.size() + block_lanes, -1);
}

void PackedNodes::store(std::int32_t slot, std::int32_t i, const Node &node) {
  stamp_.renew();
  const std::size_t block = static_cast<std::size_t>(slot / block_lanes);
  const std::size_t lane = static_cast<std::size_t>(slot % block_lanes);
  for (std::int32_t s = 0; s <= cuts_.count; ++s) {
    const std::int32_t begin = segment_begin(cuts_, s);
    const std::size_t width = static_cast<std::size_t>(segment_width(s));
    double *center = center_[s].data() + block * width * block_lanes + lane;
    double *direction = direction_[s].data() + block * width * block_lanes + lane;
    for (std::size_t f = 0; f < width; ++f) {
      center[f * block_lanes] = node.center[begin + f];
      direction[f * block_lanes] = node.direction[begin + f];
    }
  }
  radius_[slot] = node.radius;
  free_size_[slot] = node.free_size;
  point_mask_[slot] = node.is_point != 0 ? ~std::uint64_t{0} : 0;
  for (std::int32_t c = 0; c < cuts_.count; ++c) {
    const EarlyCut cut = early_cut(rule_, node, cuts_.at[c]);
    cut_scale_[c][slot] = cut.scale;
    cut_weight_[c][slot] = cut.weight;
    cut_limit_[c][slot] = cut.limit;
  }
  if (choosing()) {
    const ChoiceCutSlot c = choice_cut(choice_rule_, node, single_.data());
    const double terms[choice_terms] = {
        c.usable ? c.error : std::numeric_limits<double>::quiet_NaN(), c.vt_limit, c.denominator,
        c.base, c.outside};
    for (int t = 0; t < choice_terms; ++t) choice_[t][slot] = terms[t];
    for (std::int32_t f = 0; f < M_; ++f)
      choice_centre_[static_cast<std::size_t>(f) * choice_stride_ + static_cast<std::size_t>(slot)] = single_[f];
  }
  points_ += (node.is_point != 0) - is_point_[i];
  is_point_[i] = node.is_point != 0;
}

void PackedNodes::push_back(const Node &node) {
  place(node, end_slot_);
}

void PackedNodes::place(const Node &node, std::int32_t slot) {
  while (slot >= slots()) add_block();
  const std::int32_t i = count_;
  is_point_.push_back(0);
  slot_of_.push_back(slot);
  node_at_[slot] = i;
  block_members_[slot / block_lanes] += 1;
  empty_lanes_[slot / block_lanes] &= static_cast<std::uint8_t>(~(1u << (slot % block_lanes)));
  in_order_ = in_order_ && slot == i;
  end_slot_ = std::max(end_slot_, slot + 1);
  store(slot, i, node);
  ++count_;
}

void PackedNodes::refresh(std::int32_t i, const Node &node) { store(slot_of_[i], i, node); }

std::int32_t PackedNodes::segment_width(std::int32_t s) const {
  return segment_end(cuts_, M_, s) - segment_begin(cuts_, s);
}

std::uint64_t PackedNodes::Stamp::next() {
  static std::atomic<std::uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

PackedView PackedNodes::view() const {
  PackedView v;
  for (std::int32_t s = 0; s <= cuts_.count; ++s) {
    v.center[s] = center_[s].data();
    v.direction[s] = direction_[s].data();
  }
  v.radius = radius_.data();
  v.free_size = free_size_.data();
  v.point_mask = point_mask_.data();
  v.cuts = cuts_;
  for (std::int32_t c = 0; c < cuts_.count; ++c) {
    v.cut_scale[c] = cut_scale_[c].data();
    v.cut_weight[c] = cut_weight_[c].data();
    v.cut_limit[c] = cut_limit_[c].data();
  }
  v.block_members = block_members_.data();
  v.empty_lanes = empty_lanes_.data();
  if (choosing()) {
    v.choice_centre = choice_centre_.data();
    v.choice_stride = choice_stride_;
    v.choice_error = choice_[0].data();
    v.choice_vt_limit = choice_[1].data();
    v.choice_denominator = choice_[2].data();
    v.choice_base = choice_[3].data();
    v.choice_outside = choice_[4].data();
    v.choice_factors = choice_factors(choice_rule_.reach);
  }
  v.M = M_;
  v.blocks = blocks();
  return v;
}

bool match_kernel_supported(MatchKernel kernel) {
  switch (kernel) {
    case MatchKernel::scalar:
      return true;
#if defined(QIR_X86_64)
    case MatchKernel::sse2:
      return true;
    case MatchKernel::avx2: {
      static const bool has_avx2 = qir_cpu_has_avx2();
      return has_avx2;
    }
    case MatchKernel::avx512: {
      static const bool has_avx512 = qir_cpu_has_avx512f();
      return has_avx512;
    }
#endif
#if defined(QIR_AARCH64)
    case MatchKernel::neon:
      return true;
#endif
    default:
      return false;
  }
}

MatchKernel best_match_kernel() {
  if (match_kernel_supported(MatchKernel::avx512)) return MatchKernel::avx512;
  if (match_kernel_supported(MatchKernel::avx2)) return MatchKernel::avx2;
  if (match_kernel_supported(MatchKernel::sse2)) return MatchKernel::sse2;
  if (match_kernel_supported(MatchKernel::neon)) return MatchKernel::neon;
  return MatchKernel::scalar;
}

const char *match_kernel_name(MatchKernel kernel) {
  switch (kernel) {
    case MatchKernel::sse2:
      return "sse2";
    case MatchKernel::avx2:
      return "avx2";
    case MatchKernel::avx512:
      return "avx512";
    case MatchKernel::neon:
      return "neon";
    default:
      return "scalar";
  }
}

MatchKernel select_match_kernel() {
  const char *wanted = requested_match_kernel();
  if (wanted != nullptr) {
    for (MatchKernel k : all_match_kernels)
      if (std::strcmp(wanted, match_kernel_name(k)) == 0 && match_kernel_supported(k)) return k;
  }
  return best_match_kernel();
}

void flush_ops(OpTally &tally) {
  // Each piece's flops + comparisons must fit the host's int amount.
  constexpr std::uint64_t piece = std::numeric_limits<std::int32_t>::max();
  while (tally.flops != 0 || tally.comparisons != 0) {
    const std::uint64_t flops = std::min(tally.flops, piece);
    const std::uint64_t comparisons = std::min(tally.comparisons, piece - flops);
    count_ops(static_cast<std::int32_t>(flops), static_cast<std::int32_t>(comparisons));
    tally.flops -= flops;
    tally.comparisons -= comparisons;
  }
}

namespace {

kernels::MatchFn kernel_function(MatchKernel kernel) {
#if defined(QIR_X86_64)
  if (kernel == MatchKernel::avx512) return kernels::match_avx512;
  if (kernel == MatchKernel::avx2) return kernels::match_avx2;
  if (kernel == MatchKernel::sse2) return kernels::match_sse2;
#endif
#if defined(QIR_AARCH64)
  if (kernel == MatchKernel::neon) return kernels::match_neon;
#endif
  (void)kernel;
  return kernels::match_scalar;
}

}  // namespace

BlockMatcher::BlockMatcher(MatchKernel kernel)
    : kernel_(match_kernel_supported(kernel) ? kernel : best_match_kernel()) {}

void BlockMatcher::select(MatchKernel kernel) {
  kernel_ = match_kernel_supported(kernel) ? kernel : best_match_kernel();
}

void BlockMatcher::grow(const PackedNodes &nodes) {
  const std::size_t n = static_cast<std::size_t>(nodes.slots());
  if (node_bits_.size() * 64 < static_cast<std::size_t>(nodes.size()))
    node_bits_.resize(std::max(node_bits_.size() * 2, (static_cast<std::size_t>(nodes.size()) + 63) / 64));
  // At most one group per group_slots slots.
  if (group_distance_.size() * group_slots < n) {
    group_distance_.resize((n + group_slots - 1) / group_slots);
    group_choice_.resize(group_distance_.size());
    group_cfv_.resize(group_distance_.size());
  }
  for (auto b = static_cast<std::int32_t>(every_block_.size()); b < nodes.blocks(); ++b)
    every_block_.push_back(b);
  if (distance_.size() >= n) return;
  // Doubling keeps growth rare while a training run adds nodes one by one.
  const std::size_t capacity = std::max(n, 2 * distance_.size());
  distance_.resize(capacity);
  excess_.resize(capacity);
  fit_.resize(capacity);
  mfv_.resize(capacity);
  cfv_.resize(capacity);
  passes_vt_.resize((capacity + 63) / 64);
  block_list_.resize(capacity / block_lanes);
  failing_.resize(capacity / block_lanes);
  deferred_slots_.resize((capacity + 63) / 64);
  single_.resize(capacity);
}

void BlockMatcher::passing_cfvs(const PackedNodes &nodes, double alpha) {
  const double *free_size = nodes.free_sizes();
  for_each_passing_slot(nodes, [&](std::int32_t slot) {
    cfv_[slot] = compute_cfv(fit_[slot], free_size[slot], alpha);
  });
}

bool BlockMatcher::Adaptive::worth_trying() {
  constexpr std::uint64_t window = 4096;  // tests between decisions
  constexpr std::uint64_t probe_every = 16;
  if (tested >= window) {
    trying = hits * share >= tested;
    tested = 0;
    hits = 0;
  }
  return trying || patterns++ % probe_every == 0;
}

MatchCount BlockMatcher::run_kernel(const PackedNodes &nodes, const double *pattern,
                                    const MatchParams &params, std::int32_t listed,
                                    std::int32_t *list) {
  const MatchOut out{distance_.data(), excess_.data(), fit_.data(), mfv_.data(),
                     params.with_cfv ? cfv_.data() : nullptr, passes_vt_.data(),
                     list != nullptr ? list : block_list_.data(), failing_.data(),
                     deferred_slots_.data(),
                     single_pattern_.data(), single_.data(), nullptr};
  return kernel_function(kernel_)(view_of(nodes), pattern, params, out, listed);
}

// Evaluates block b first and returns the best CFV among its nodes that
// pass the vigilance test (NaN when none has a finite one): the very value
// the core computes for them.
double BlockMatcher::evaluate_seed(const PackedNodes &nodes, const double *pattern,
                                   const MatchParams &params, std::int32_t b, double alpha,
                                   MatchCount &total) {
  block_list_[0] = b;
  add(total, run_kernel(nodes, pattern, params, 1));
  const double *free_size = nodes.free_sizes();
  double best = std::numeric_limits<double>::quiet_NaN();
  for (std::int32_t slot = b * block_lanes; slot < (b + 1) * block_lanes; ++slot) {
    if (!passes_vt(slot)) continue;
    const double cfv = compute_cfv(fit_[slot], free_size[slot], alpha);
    if (std::isfinite(cfv) && !(cfv <= best)) best = cfv;
  }
  return best;
}

namespace {

struct SortOut {
  std::uint8_t *failing;
  std::int32_t *list;
  std::uint64_t *deferred_slots;
};

struct SortedBlocks {
  std::int64_t skipped, deferred;
  std::int64_t inside;  // deferred nodes the pattern lay inside
  std::int32_t listed;
  std::uint64_t word;  // the deferred slots of blocks b & ~15 … b-1
};

// A block's node count is that of its lanes not empty.
constexpr std::uint8_t lane_count[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// Block b of a winner search (not the seed, not beyond reach), with what
// the pattern's last search found: skipped when known to fail, deferred
// when unchanged and below best (bit q of `below_best` for a gap of q
// steps), else listed. Without branches, since the blocks go one way or
// another unpredictably.
inline void sort_known_block(std::int32_t b, const KnownFailures &known, std::uint32_t below_best,
                             const std::uint8_t *empty_lanes, const SortOut &out,
                             SortedBlocks &io) {
  const std::uint32_t unchanged = known.changed_at[b] < known.searched_at;
  const std::uint32_t failed = known.failing[b] == 15u;
  const std::uint32_t skip = unchanged & failed;
  // Unchanged nodes, each outside and passing, every CFV below best.
  const std::uint32_t defer = unchanged & (failed ^ 1u) & (below_best >> (known.gaps[b] & 15u));
  const std::uint32_t nodes_in = 15u & ~static_cast<std::uint32_t>(empty_lanes[b]);
  const std::uint32_t lanes = nodes_in & (0u - defer);
  // A block's four slots share one word of the bitset.
  io.word |= static_cast<std::uint64_t>(lanes) << ((b & 15) * block_lanes);
  io.deferred += lane_count[lanes];
  // Unchanged nodes: the pattern lies inside the same ones as last time.
  const std::uint32_t inside = known.failing[b] >> 4;
  io.inside += lane_count[lanes & inside];
  out.failing[b] = static_cast<std::uint8_t>((15u ^ lanes) | ((inside << 4) & (0u - defer)));
  io.skipped += lane_count[nodes_in & (0u - skip)];
  out.list[io.listed] = b;
  io.listed += static_cast<std::int32_t>((skip | defer) ^ 1u);
}

// Blocks b … b+7 (b a multiple of 8) sorted as sort_known_block does,
// eight at once, for a search whose deferrable gaps are those of at least
// `least_gap` steps. `seed` (if among them) is neither skipped, deferred
// nor listed.
inline void sort_eight_blocks(std::int32_t b, std::int32_t seed, const KnownFailures &known,
                              std::uint32_t least_gap, const std::uint8_t *empty_lanes,
                              const SortOut &out, SortedBlocks &io) {
  using namespace byte_lanes;
  const std::uint64_t known_failing = load8(known.failing + b);
  std::uint64_t unchanged = 0;
QIR_UNROLL(8)
  for (int i = 0; i < 8; ++i)
    unchanged |= static_cast<std::uint64_t>(known.changed_at[b + i] < known.searched_at) << (8 * i);
  unchanged *= 0xFF;
  const std::uint64_t failed = zero_bytes(known_failing ^ (15 * ones));
  std::uint64_t skip = unchanged & failed;
  std::uint64_t defer = unchanged & ~failed & low_nibble_at_least(load8(known.gaps + b), least_gap);
  std::uint64_t listed = ~(skip | defer) & ones;
  if (seed >= b && seed < b + 8) {
    const std::uint64_t not_seed = ~(std::uint64_t{0xFF} << (8 * (seed - b)));
    skip &= not_seed;
    defer &= not_seed;
    listed &= not_seed;
  }
  const std::uint64_t nodes_in = ~load8(empty_lanes + b) & (15 * ones);
  const std::uint64_t lanes = nodes_in & defer;
  io.word |= static_cast<std::uint64_t>(pack_nibbles(lanes)) << ((b & 8) * block_lanes);
  io.deferred += count_bits(lanes);
  io.skipped += count_bits(nodes_in & skip);
  const std::uint64_t inside = (known_failing >> 4) & (15 * ones);
  io.inside += count_bits(lanes & inside);
  store8(out.failing + b, ((15 * ones) ^ lanes) | (known_failing & defer & (0xF0 * ones)));
  // About one block in eight is listed.
  for (; listed != 0; listed &= listed - 1)
    out.list[io.listed++] = b + qir_count_trailing_zeros(listed) / 8;
}

// The least gap that `below_best` defers when it defers every larger one
// too (the usual case: the bound falls as the gap grows), else 0.
inline std::uint32_t least_deferred_gap(std::uint32_t below_best) {
  for (std::uint32_t q = 1; q <= most_steps; ++q)
    if (((below_best >> q) & 1u) != 0)
      return below_best == ((0xFFFFu << q) & 0xFFFFu) ? q : 0;
  return 0;
}

// Every block of a winner search: those before `tested` first go through
// the group test (`beyond_reach`), and a group beyond reach is skipped
// whole; the seed is neither skipped, deferred nor listed. Runs over every
// block of every search: eight blocks at a time where it can.
template <class BeyondReach>
void sort_known_blocks(std::int32_t blocks, std::int32_t tested, const BeyondReach &beyond_reach,
                       std::int32_t seed, const KnownFailures &known, std::uint32_t below_best,
                       const std::uint8_t *empty_lanes, const SortOut &out, SortedBlocks &io,
                       bool by_eight) {
  const std::uint32_t least_gap = by_eight ? least_deferred_gap(below_best) : 0;
  const auto one_block = [&](std::int32_t k) {
    const bool beyond = k < tested && beyond_reach(k);
    if (k != seed) {
      // A skipped block's failing lanes stay as they were set: all four.
      if (beyond)
        io.skipped += lane_count[15u & ~static_cast<std::uint32_t>(empty_lanes[k])];
      else
        sort_known_block(k, known, below_best, empty_lanes, out, io);
    }
    if ((k & 15) == 15) {
      out.deferred_slots[k >> 4] = io.word;
      io.word = 0;
    }
  };
  std::int32_t b = 0;
  if (least_gap != 0) {
    for (; b < blocks && ((b & 7) != 0 || b < tested); ++b) one_block(b);
    for (; b + 8 <= blocks; b += 8) {
      sort_eight_blocks(b, seed, known, least_gap, empty_lanes, out, io);
      if ((b & 15) == 8) {
        out.deferred_slots[b >> 4] = io.word;
        io.word = 0;
      }
    }
  }
  for (; b < blocks; ++b) one_block(b);
}

}  // namespace

// Lists for the kernel the blocks that neither `known` nor a group test
// rules out; counts the others as skipped (all four lanes failing), or as
// deferred in a winner search.
std::int32_t BlockMatcher::list_blocks(const PackedNodes &nodes, const double *pattern,
                                       const MatchParams &params, const NodeGroups *groups,
                                       const KnownFailures &known, const WinnerSearch *winner,
                                       MatchCount &total) {
  constexpr std::int32_t group_blocks = group_slots / block_lanes;
  const std::int32_t blocks = nodes.blocks();
  const std::int32_t *members = nodes.block_members();
  const std::uint8_t *empty_lanes = nodes.empty_lanes();
  std::memset(failing_.data(), 15, static_cast<std::size_t>(blocks));  // the kernel writes the rest
  const bool test_groups = groups != nullptr && groups->usable() && groups->count() > 0 &&
                           group_tests_.worth_trying();
  if (test_groups) groups->square_distances(pattern, group_distance_.data());
  const std::int32_t tested = test_groups ? std::min(groups->count() * group_blocks, blocks) : 0;
  const bool by_winner = winner != nullptr && known.failing != nullptr && known.gaps != nullptr;
  std::int32_t seed = -1;
  // Bit q: a block q steps below the best CFV of the last search stays
  // below the best CFV found now (none without a best).
  std::uint32_t below_best = 0;
  if (by_winner && winner->likely_block >= 0 && winner->likely_block < blocks) {
    seed = winner->likely_block;
    below_best = gaps_below(known.best_cfv,
                            evaluate_seed(nodes, pattern, params, seed, winner->alpha, total));
  }
  const auto beyond_reach = [&](std::int32_t b) {
    // Every node of a group beyond reach is outside: counted, never evaluated.
    const std::int32_t g = b / group_blocks;
    const bool beyond = groups->beyond_reach(g, group_distance_[g]);
    group_tests_.hits += beyond && b % group_blocks == 0;
    return beyond;
  };
  std::int64_t skipped = 0;
  std::int32_t listed = 0;
  if (below_best == 0) {
    // Nothing can be deferred: the blocks are skipped or listed.
    for (std::int32_t b = 0; b < blocks; ++b) {
      if (b == seed) continue;  // evaluated and counted already
      const bool skip =
          (b < tested && beyond_reach(b)) || (known.failing != nullptr && known.hold(b));
      skipped += skip ? members[b] : 0;
      block_list_[listed] = b;
      listed += !skip;
    }
    deferred_nodes_ = 0;
    if (test_groups) group_tests_.tested += static_cast<std::uint64_t>(groups->count());
    total.outside += skipped;
    skipped_ += static_cast<std::uint64_t>(skipped);
    return listed;
  }
  // The seed block was evaluated and counted already; its failing lanes
  // are the kernel's.
  const std::uint8_t seed_failing = seed >= 0 ? failing_[seed] : std::uint8_t{15};
  const SortOut out{failing_.data(), block_list_.data(), deferred_slots_.data()};
  SortedBlocks sorted{0, 0, 0, 0, 0};
  sort_known_blocks(blocks, tested, beyond_reach, seed, known, below_best, empty_lanes, out,
                    sorted, sort_by_eight_);
  if ((blocks & 15) != 0) deferred_slots_[blocks >> 4] = sorted.word;
  if (seed >= 0) failing_[seed] = seed_failing;
  deferred_nodes_ = sorted.deferred;
  if (test_groups) group_tests_.tested += static_cast<std::uint64_t>(groups->count());
  total.outside += sorted.skipped + sorted.deferred - sorted.inside;
  skipped_ += static_cast<std::uint64_t>(sorted.skipped + sorted.deferred);
  return sorted.listed;
}

void BlockMatcher::add(MatchCount &total, const MatchCount &part) {
  total.outside += part.outside;
  skipped_ += static_cast<std::uint64_t>(part.cut);
  cut_tests_.tested += static_cast<std::uint64_t>(part.cut_tests);
  cut_tests_.hits += static_cast<std::uint64_t>(part.cut_blocks);
}

// The pattern in single precision, and its share of the choice bounds'
// error term (choice_cut.h); false when a value does not fit.
bool BlockMatcher::single_pattern(const double *pattern, std::int32_t M, double &error) {
  single_pattern_.resize(static_cast<std::size_t>(M));
  double e2 = 0.0;
  for (std::int32_t f = 0; f < M; ++f) {
    if (!(std::fabs(pattern[f]) < choice_single_limit)) return false;
    single_pattern_[f] = static_cast<float>(pattern[f]);
    const double d = pattern[f] - static_cast<double>(single_pattern_[f]);  // exact
    e2 += d * d;
  }
  error = choice_pattern_error(e2, M);
  return true;
}

MatchCount BlockMatcher::match(const PackedNodes &nodes, const double *pattern,
                               const MatchParams &params, const NodeGroups *groups,
                               const KnownFailures &known, const WinnerSearch *winner) {
  std::memset(passes_vt_.data(), 0, static_cast<std::size_t>((nodes.slots() + 63) / 64) * 8);
  MatchParams p = params;
  // The pattern is checked only for a search that could use it (a small
  // call's every pattern would pay for it).
  const bool may_choose = params.choose && params.with_cfv && nodes.choosing();
  const bool may_cut = groups != nullptr && nodes.cut_points().count > 0;
  const bool safe = (may_choose || may_cut) && cut_safe_pattern(pattern, nodes.features());
  // A search that leaves out blocks for their choice bounds tests no cuts.
  p.choose = may_choose && safe && single_pattern(pattern, nodes.features(), p.single_error);
  p.cut = may_cut && !p.choose && cut_tests_.worth_trying() && safe;
  if (groups == nullptr && !p.choose) {
    // Every block, in order: the kernel writes each block's failing lanes.
    deferred_nodes_ = 0;
    MatchCount total;
    add(total, run_kernel(nodes, pattern, p, nodes.blocks(), every_block_.data()));
    return total;
  }
  MatchCount total;
  const std::int32_t listed = list_blocks(nodes, pattern, p, groups,
                                          groups != nullptr ? known : KnownFailures(),
                                          groups != nullptr ? winner : nullptr, total);
  if (listed == 0) return total;
  if (p.choose && p.likely_block >= 0) {
    // The block of the node likely to win goes first: the best CFV it sets
    // lets more of the others be left unfinished.
    std::int32_t *end = block_list_.data() + listed;
    std::int32_t *at = std::lower_bound(block_list_.data(), end, p.likely_block);
    if (at != end && *at == p.likely_block) std::rotate(block_list_.data(), at, at + 1);
  }
  const MatchCount part = run_kernel(nodes, pattern, p, listed);
  add(total, part);
  if (part.deferred == 0) return total;
  if (part.unordered == 0) {
    deferred_nodes_ = part.deferred;
    skipped_ += static_cast<std::uint64_t>(part.deferred);
    return total;
  }
  // A NaN CFV among the candidates: every candidate must be seen.
  const std::int32_t words = (nodes.slots() + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t bits = deferred_slots_[w];
    deferred_slots_[w] = 0;
    for (std::int32_t q = 0; q < 16; ++q)
      if (((bits >> (q * block_lanes)) & 15u) != 0) evaluate_block(nodes, pattern, p, w * 16 + q);
  }
  return total;
}

void BlockMatcher::evaluate_block(const PackedNodes &nodes, const double *pattern,
                                  const MatchParams &params, std::int32_t b) {
  MatchParams p = params;
  p.cut = false;
  p.choose = false;
  block_list_[0] = b;
  run_kernel(nodes, pattern, p, 1);
}

void BlockMatcher::evaluate(const PackedNodes &nodes, const double *pattern,
                            const MatchParams &params, OpTally &tally, const NodeGroups *groups,
                            const KnownFailures &known, const WinnerSearch *winner) {
  deferred_nodes_ = 0;
  if (nodes.size() == 0) return;
  grow(nodes);
  // Only a choosing kernel writes these bits.
  if (params.choose)
    std::fill(deferred_slots_.begin(), deferred_slots_.begin() + (nodes.slots() + 63) / 64, 0);
  const std::int64_t outside = match(nodes, pattern, params, groups, known, winner).outside;
  tally_evaluations(nodes, outside, tally);
}

void WinnerLanes::reset(bool with_ct, double tu) {
  std::fill(std::begin(best), std::end(best), -std::numeric_limits<double>::infinity());
  std::fill(std::begin(slot), std::end(slot), std::numeric_limits<double>::infinity());
  passing = 0;
  candidates = 0;
  unordered = false;
  ct = with_ct;
  Tu = tu;
}

std::int32_t WinnerLanes::winner() const {
  std::int32_t lane = -1;
  for (std::int32_t k = 0; k < 8; ++k) {
    if (slot[k] == std::numeric_limits<double>::infinity()) continue;
    if (lane < 0 || best[k] > best[lane] || (best[k] == best[lane] && slot[k] < slot[lane]))
      lane = k;
  }
  return lane < 0 ? -1 : static_cast<std::int32_t>(slot[lane]);
}

void BlockMatcher::evaluate_lean(const PackedNodes &nodes, const double *pattern,
                                 const MatchParams &params, OpTally &tally, WinnerLanes &winner,
                                 const LeanCutView *cuts) {
  deferred_nodes_ = 0;
  if (nodes.size() == 0) return;
  grow(nodes);
  const std::int32_t blocks = nodes.blocks();
  MatchParams p = params;
  p.cut = false;
  p.with_cfv = true;
  // Without cut points the kernels only read the list. The AVX-512 kernel
  // finishes eight lanes at once: there the tests on the thresholds cost
  // what the roots and divisions they spare did (measured), so it takes
  // none.
  const bool cut = !winner.ct && kernel_ != MatchKernel::avx512;
  const MatchOut out{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     every_block_.data(), nullptr, nullptr, nullptr, nullptr, &winner,
                     cut ? cuts : nullptr, lean_counts_};
  const MatchCount count = kernel_function(kernel_)(view_of(nodes), pattern, p, out, blocks);
  tally_evaluations(nodes, count.outside, tally);
}

void BlockMatcher::evaluate_lean_batch(const PackedNodes &nodes, const double *const *patterns,
                                       std::int32_t count, const MatchParams &params,
                                       OpTally *tallies, WinnerLanes *winners) {
#if defined(QIR_X86_64)
  if (kernel_ == MatchKernel::avx512 && count > 1 && count <= lean_batch_patterns &&
      nodes.size() > 0) {
    deferred_nodes_ = 0;
    grow(nodes);
    MatchParams p = params;
    p.cut = false;
    p.with_cfv = true;
    WinnerLanes *lanes[lean_batch_patterns];
    MatchCount counts[lean_batch_patterns];
    for (std::int32_t q = 0; q < count; ++q) lanes[q] = &winners[q];
    if (count >= 8 && nodes.features() <= lean_wide_features) {
      list_slots_by_shape(nodes);
      kernels::match_avx512_lean_wide(view_of(nodes), patterns, count, p, shape_slots_.data(),
                                      shape_ellipsoids_,
                                      static_cast<std::int32_t>(shape_slots_.size()) - shape_ellipsoids_,
                                      lanes, counts);
    } else {
      const MatchOut out{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         every_block_.data(), nullptr, nullptr, nullptr, nullptr, nullptr};
      for (std::int32_t j = 0; j < count; j += lean_pass_patterns)
        kernels::match_avx512_lean_batch(view_of(nodes), patterns + j,
                                         std::min(lean_pass_patterns, count - j), p, out,
                                         lanes + j, counts + j, nodes.blocks());
    }
    for (std::int32_t q = 0; q < count; ++q)
      tally_evaluations(nodes, counts[q].outside, tallies[q]);
    return;
  }
#endif
  for (std::int32_t q = 0; q < count; ++q)
    evaluate_lean(nodes, patterns[q], params, tallies[q], winners[q]);
}

void BlockMatcher::list_slots_by_shape(const PackedNodes &nodes) {
  if (shape_stamp_ == nodes.stamp() && shape_slots_.size() == static_cast<std::size_t>(nodes.size()))
    return;
  shape_slots_.clear();
  const PackedView v = nodes.view();
  for (bool point : {false, true})
    for (std::int32_t b = 0; b < nodes.blocks(); ++b)
      for (std::int32_t lane = 0; lane < block_lanes; ++lane) {
        const std::int32_t slot = b * block_lanes + lane;
        if ((v.empty_lanes[b] >> lane & 1u) == 0 && (v.point_mask[slot] != 0) == point)
          shape_slots_.push_back(slot);
      }
  shape_ellipsoids_ = 0;
  while (shape_ellipsoids_ < static_cast<std::int32_t>(shape_slots_.size()) &&
         v.point_mask[shape_slots_[static_cast<std::size_t>(shape_ellipsoids_)]] == 0)
    ++shape_ellipsoids_;
  shape_stamp_ = nodes.stamp();
}

void BlockMatcher::tally_evaluations(const PackedNodes &nodes, std::int64_t outside,
                                     OpTally &tally) const {
  // Per evaluation node_match counts 5M + 2, plus 6 for an ellipsoid and 2
  // when outside, and one comparison.
  const std::uint64_t n = static_cast<std::uint64_t>(nodes.size());
  const std::uint64_t M = static_cast<std::uint64_t>(nodes.features());
  const std::uint64_t ellipsoids = n - static_cast<std::uint64_t>(nodes.point_count());
  tally.flops += n * (5 * M + 2) + 6 * ellipsoids + 2 * static_cast<std::uint64_t>(outside);
  tally.comparisons += n;
}

std::int32_t BlockMatcher::list_group(std::int32_t g, std::int32_t blocks, std::int32_t listed) {
  constexpr std::int32_t group_blocks = group_slots / block_lanes;
  const std::int32_t end = std::min(blocks, (g + 1) * group_blocks);
  for (std::int32_t b = g * group_blocks; b < end; ++b) block_list_[listed++] = b;
  return listed;
}

// The greatest CFV among the candidates of the `listed` blocks just
// evaluated, into `best` (left as it was when none is greater); false when
// one of them is NaN.
bool BlockMatcher::best_candidate(const PackedNodes &nodes, std::int32_t listed,
                                  const ChoiceRule &rule, double &best) const {
  (void)nodes;
  bool ordered = true;
  for (std::int32_t k = 0; k < listed; ++k) {
    const std::int32_t b = block_list_[k];
    for (std::uint32_t lanes = passing_lanes(b); lanes != 0; lanes &= lanes - 1) {
      const double cfv = cfv_[b * block_lanes + qir_count_trailing_zeros(lanes)];
      if (rule.ct && !(cfv >= rule.Tu)) continue;
      ordered = ordered && !std::isnan(cfv);
      best = std::max(best, cfv);
    }
  }
  return ordered;
}

void BlockMatcher::evaluate_choosing(const PackedNodes &nodes, const double *pattern,
                                     const MatchParams &params, const NodeGroups &groups,
                                     const ChoiceBounds &bounds, const ChoiceRule &rule,
                                     OpTally &tally, ChoiceSkips &skips) {
  skips = ChoiceSkips();
  deferred_nodes_ = 0;
  if (nodes.size() == 0) return;
  grow(nodes);
  const std::int32_t blocks = nodes.blocks();
  std::memset(passes_vt_.data(), 0, static_cast<std::size_t>((nodes.slots() + 63) / 64) * 8);
  std::memset(failing_.data(), 15, static_cast<std::size_t>(blocks));
  MatchParams p = params;
  p.cut = nodes.cut_points().count > 0 && cut_tests_.worth_trying() &&
          cut_safe_pattern(pattern, nodes.features());
  p.with_cfv = true;
  p.alpha = rule.alpha;
  const bool bounded = bounds.usable() && cut_safe_pattern(pattern, nodes.features());
  const std::int32_t G = groups.count();
  groups.square_distances(pattern, group_distance_.data());
  MatchCount total;
  std::int64_t left_out = 0;
  std::int32_t listed = 0;
  std::int32_t likely = -1;  // the group left to the second pass with the highest bound
  for (std::int32_t g = 0; g < G; ++g) {
    GroupBound bound;
    if (groups.beyond_reach(g, group_distance_[g]))
      bound.choice = GroupChoice::fails_vt;
    else if (bounded)
      bound = bounds.bound(g, group_distance_[g]);
    group_choice_[g] = static_cast<std::uint8_t>(bound.choice);
    group_cfv_[g] = bound.cfv_high;
    const std::int64_t members = groups.members(g);
    switch (bound.choice) {
      case GroupChoice::fails_vt:
        left_out += members;
        break;
      case GroupChoice::fails_ct:
        left_out += members;
        skips.passing += members;
        break;
      case GroupChoice::below:
        if (likely < 0 || bound.cfv_high > group_cfv_[likely]) likely = g;
        break;
      default:
        listed = list_group(g, blocks, listed);
    }
  }
  if (listed == 0 && likely >= 0) {
    listed = list_group(likely, blocks, listed);
    group_choice_[likely] = static_cast<std::uint8_t>(GroupChoice::evaluate);
  }
  double best = -std::numeric_limits<double>::infinity();
  bool ordered = true;
  if (listed > 0) {
    add(total, run_kernel(nodes, pattern, p, listed));
    ordered = best_candidate(nodes, listed, rule, best);
  }
  // Left out only below a candidate's CFV: strictly, so no tie is lost.
  const bool have_best = ordered && best > -std::numeric_limits<double>::infinity();
  listed = 0;
  std::int64_t candidates = 0;
  for (std::int32_t g = 0; g < G; ++g) {
    if (group_choice_[g] != static_cast<std::uint8_t>(GroupChoice::below)) continue;
    if (have_best && group_cfv_[g] < best) {
      candidates += groups.members(g);
    } else {
      group_choice_[g] = static_cast<std::uint8_t>(GroupChoice::evaluate);
      listed = list_group(g, blocks, listed);
    }
  }
  if (listed > 0) {
    add(total, run_kernel(nodes, pattern, p, listed));
    if (candidates > 0 && !best_candidate(nodes, listed, rule, best)) {
      // After a NaN the later candidates take the place in turn: every
      // one must be seen.
      listed = 0;
      for (std::int32_t g = 0; g < G; ++g)
        if (group_choice_[g] == static_cast<std::uint8_t>(GroupChoice::below))
          listed = list_group(g, blocks, listed);
      add(total, run_kernel(nodes, pattern, p, listed));
      candidates = 0;
    }
  }
  left_out += candidates;
  skips.passing += candidates;
  skips.ct_passing += rule.ct ? candidates : 0;
  skips.candidates += candidates;
  total.outside += left_out;
  skipped_ += static_cast<std::uint64_t>(left_out);
  tally_evaluations(nodes, total.outside, tally);
}

bool BlockMatcher::choosing_pays(const PackedNodes &nodes, const MatchParams &params,
                                 const NodeGroups &groups, const ChoiceBounds &bounds,
                                 const ChoiceRule &rule, std::int32_t P,
                                 const double *const *patterns) {
  constexpr std::int32_t sample = 64;
  if (P <= 0 || nodes.size() == 0) return false;
  const Adaptive cut_tests = cut_tests_;
  const std::uint64_t skipped = skipped_;
  cut_tests_ = Adaptive{cut_tests.share};
  const std::int32_t count = std::min(P, sample);
  OpTally uncounted;
  ChoiceSkips skips;
  for (std::int32_t k = 0; k < count; ++k)
    evaluate_choosing(nodes, patterns[static_cast<std::int64_t>(k) * P / count], params, groups,
                      bounds, rule, uncounted, skips);
  const std::uint64_t saved = skipped_ - skipped;
  cut_tests_ = cut_tests;
  skipped_ = skipped;
  return 8 * saved >= static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(nodes.size());
}

bool BlockMatcher::skipping_pays(const PackedNodes &nodes, const MatchParams &params,
                                 const NodeGroups &groups, std::int32_t P,
                                 const double *const *patterns) {
  constexpr std::int32_t sample = 64;
  if (P <= 0 || nodes.size() == 0) return false;
  const Adaptive group_tests = group_tests_;
  const Adaptive cut_tests = cut_tests_;
  const std::uint64_t skipped = skipped_;
  // Every test made, as when skipping pays.
  group_tests_ = Adaptive{group_tests.share};
  cut_tests_ = Adaptive{cut_tests.share};
  const std::int32_t count = std::min(P, sample);
  OpTally uncounted;
  for (std::int32_t k = 0; k < count; ++k)
    evaluate(nodes, patterns[static_cast<std::int64_t>(k) * P / count], params, uncounted, &groups);
  const std::uint64_t saved = skipped_ - skipped;
  group_tests_ = group_tests;
  cut_tests_ = cut_tests;
  skipped_ = skipped;
  return 8 * saved >= static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(nodes.size());
}

const std::uint64_t *BlockMatcher::node_order_bits(const PackedNodes &nodes) {
  std::fill(node_bits_.begin(), node_bits_.begin() + (nodes.size() + 63) / 64, 0);
  const std::int32_t words = (nodes.slots() + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w)
    for (std::uint64_t b = passes_vt_[w]; b != 0; b &= b - 1) {
      const std::int32_t i = nodes.node_at(w * 64 + qir_count_trailing_zeros(b));
      node_bits_[i >> 6] |= std::uint64_t{1} << (i & 63);
    }
  return node_bits_.data();
}

void BlockMatcher::store_into(std::int32_t slot, Node &node) const {
  node.distance = distance_[slot];
  node.excess = excess_[slot];
  node.fit = fit_[slot];
  node.mfv = mfv_[slot];
}

}  // namespace qir
