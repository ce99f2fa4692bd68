// Node geometry packed for evaluating many nodes against one pattern at a
// time. Nodes are grouped in blocks of four; inside a block the centres (and
// the directions) are interleaved feature by feature, so the SIMD lanes of
// one load hold four nodes' values of the same feature. Every node's sums
// still run over its own features in order, so each lane computes exactly
// what node_match computes for that node, bit for bit.
#pragma once

#include "node.h"

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

// What a kernel reads: plain pointers into PackedNodes.
struct PackedView {
  const double *center = nullptr;     // [block][feature][lane]
  const double *direction = nullptr;  // same layout
  const double *radius = nullptr;     // [node], padded to whole blocks
  const double *free_size = nullptr;
  const std::uint64_t *point_mask = nullptr;  // all ones where is_point
  std::int32_t M = 0;
  std::int32_t blocks = 0;
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
};

// Where a kernel writes: one entry per node slot (padded), and one bit per
// node slot in `passes_vt` (node i is bit i % 64 of word i / 64).
struct MatchOut {
  double *distance = nullptr;
  double *excess = nullptr;
  double *fit = nullptr;
  double *mfv = nullptr;
  std::uint64_t *passes_vt = nullptr;
};

// The nodes' geometry in block layout. Padding slots in the last block are
// built so that they are never outside and never pass the vigilance test,
// so kernels need no tail handling.
class PackedNodes {
 public:
  explicit PackedNodes(std::int32_t num_features = 0) : M_(num_features) {}

  // Drops every node and sets the number of features.
  void reset(std::int32_t num_features);
  void reserve(std::int32_t nodes);
  // Appends a copy of the node's geometry as slot size().
  void push_back(const Node &node);
  // Copies slot i's geometry again after the node changed.
  void refresh(std::int32_t i, const Node &node);

  std::int32_t size() const { return count_; }
  std::int32_t features() const { return M_; }
  std::int32_t blocks() const { return (count_ + block_lanes - 1) / block_lanes; }
  std::int32_t point_count() const { return points_; }
  PackedView view() const;

 private:
  void add_block();
  void store(std::int32_t i, const Node &node);

  std::int32_t M_ = 0;
  std::int32_t count_ = 0;
  std::int32_t points_ = 0;
  AlignedVector<double> center_;
  AlignedVector<double> direction_;
  AlignedVector<double> radius_;
  AlignedVector<double> free_size_;
  AlignedVector<std::uint64_t> point_mask_;
  std::vector<std::int32_t> is_point_;  // per real node, for the point count
};

enum class MatchKernel : std::int32_t { scalar = 0, sse2 = 1, avx2 = 2, neon = 3 };
constexpr MatchKernel all_match_kernels[] = {MatchKernel::scalar, MatchKernel::sse2,
                                             MatchKernel::avx2, MatchKernel::neon};

// The best kernel this processor runs.
MatchKernel best_match_kernel();
// The kernel a module call uses: the best one, unless the environment
// variable QIR_MATCH_KERNEL names another ("scalar", "sse2", "avx2", "neon") that
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

// Evaluates every packed node against one pattern with one kernel and keeps
// the results; storage grows with the node set, never per pattern.
class BlockMatcher {
 public:
  explicit BlockMatcher(MatchKernel kernel = select_match_kernel());

  // Fills the results for nodes 0 … nodes.size()-1 and adds the operations
  // that node_match would have counted for them to `tally`.
  void evaluate(const PackedNodes &nodes, const double *pattern, const MatchParams &params,
                OpTally &tally);

  MatchKernel kernel() const { return kernel_; }
  double distance(std::int32_t i) const { return distance_[i]; }
  double excess(std::int32_t i) const { return excess_[i]; }
  double fit(std::int32_t i) const { return fit_[i]; }
  double mfv(std::int32_t i) const { return mfv_[i]; }
  bool passes_vt(std::int32_t i) const { return (passes_vt_[i >> 6] >> (i & 63)) & 1u; }
  // Bits of nodes 64w … 64w+63 that passed the vigilance test.
  std::uint64_t passes_vt_word(std::int32_t w) const { return passes_vt_[w]; }
  // Writes node i's results into its record, as node_match would have.
  void store_into(std::int32_t i, Node &node) const;

 private:
  void grow(std::int32_t slots);

  MatchKernel kernel_;
  AlignedVector<double> distance_;
  AlignedVector<double> excess_;
  AlignedVector<double> fit_;
  AlignedVector<double> mfv_;
  std::vector<std::uint64_t> passes_vt_;
};

}  // namespace qir
