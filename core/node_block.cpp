#include "node_block.h"

#include "match_kernels.h"
#include "model.h"
#include "portability.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace qir {

void PackedNodes::reset(std::int32_t num_features) {
  M_ = num_features;
  count_ = 0;
  points_ = 0;
  center_.clear();
  direction_.clear();
  radius_.clear();
  free_size_.clear();
  point_mask_.clear();
  is_point_.clear();
}

void PackedNodes::reserve(std::int32_t nodes) {
  const std::size_t slots = (static_cast<std::size_t>(nodes) + block_lanes - 1) /
                            block_lanes * block_lanes;
  center_.reserve(slots * M_);
  direction_.reserve(slots * M_);
  radius_.reserve(slots);
  free_size_.reserve(slots);
  point_mask_.reserve(slots);
  is_point_.reserve(static_cast<std::size_t>(nodes));
}

// A padding slot is a ball of infinite radius (never outside) whose free
// size is NaN (its MFV is NaN, so it never passes the vigilance test).
void PackedNodes::add_block() {
  const std::size_t per_block = static_cast<std::size_t>(M_) * block_lanes;
  center_.resize(center_.size() + per_block, 0.0);
  direction_.resize(direction_.size() + per_block, 0.0);
  radius_.resize(radius_.size() + block_lanes, std::numeric_limits<double>::infinity());
  free_size_.resize(free_size_.size() + block_lanes,
                    std::numeric_limits<double>::quiet_NaN());
  point_mask_.resize(point_mask_.size() + block_lanes, ~std::uint64_t{0});
}

void PackedNodes::store(std::int32_t i, const Node &node) {
  const std::size_t block = static_cast<std::size_t>(i / block_lanes);
  const std::size_t lane = static_cast<std::size_t>(i % block_lanes);
  double *center = center_.data() + block * M_ * block_lanes + lane;
  double *direction = direction_.data() + block * M_ * block_lanes + lane;
  for (std::int32_t f = 0; f < M_; ++f) {
    center[static_cast<std::size_t>(f) * block_lanes] = node.center[f];
    direction[static_cast<std::size_t>(f) * block_lanes] = node.direction[f];
  }
  radius_[i] = node.radius;
  free_size_[i] = node.free_size;
  point_mask_[i] = node.is_point != 0 ? ~std::uint64_t{0} : 0;
  points_ += (node.is_point != 0) - is_point_[i];
  is_point_[i] = node.is_point != 0;
}

void PackedNodes::push_back(const Node &node) {
  if (count_ % block_lanes == 0) add_block();
  is_point_.push_back(0);
  store(count_, node);
  ++count_;
}

void PackedNodes::refresh(std::int32_t i, const Node &node) { store(i, node); }

PackedView PackedNodes::view() const {
  PackedView v;
  v.center = center_.data();
  v.direction = direction_.data();
  v.radius = radius_.data();
  v.free_size = free_size_.data();
  v.point_mask = point_mask_.data();
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
    case MatchKernel::neon:
      return "neon";
    default:
      return "scalar";
  }
}

MatchKernel select_match_kernel() {
  const char *wanted = std::getenv("QIR_MATCH_KERNEL");
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

void BlockMatcher::grow(std::int32_t slots) {
  const std::size_t n = static_cast<std::size_t>(slots);
  if (distance_.size() >= n) return;
  // Doubling keeps growth rare while a training run adds nodes one by one.
  const std::size_t capacity = std::max(n, 2 * distance_.size());
  distance_.resize(capacity);
  excess_.resize(capacity);
  fit_.resize(capacity);
  mfv_.resize(capacity);
  passes_vt_.resize((capacity + 63) / 64);
}

void BlockMatcher::evaluate(const PackedNodes &nodes, const double *pattern,
                            const MatchParams &params, OpTally &tally) {
  if (nodes.size() == 0) return;
  grow(nodes.blocks() * block_lanes);
  const MatchOut out{distance_.data(), excess_.data(), fit_.data(), mfv_.data(),
                     passes_vt_.data()};
  const std::int64_t outside = kernel_function(kernel_)(nodes.view(), pattern, params, out);
  // Per evaluation node_match counts 5M + 2, plus 6 for an ellipsoid and 2
  // when outside, and one comparison.
  const std::uint64_t n = static_cast<std::uint64_t>(nodes.size());
  const std::uint64_t M = static_cast<std::uint64_t>(nodes.features());
  const std::uint64_t ellipsoids = n - static_cast<std::uint64_t>(nodes.point_count());
  tally.flops += n * (5 * M + 2) + 6 * ellipsoids + 2 * static_cast<std::uint64_t>(outside);
  tally.comparisons += n;
}

void BlockMatcher::store_into(std::int32_t i, Node &node) const {
  node.distance = distance_[i];
  node.excess = excess_[i];
  node.fit = fit_[i];
  node.mfv = mfv_[i];
}

}  // namespace qir
