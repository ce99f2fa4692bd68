// The one evaluation kernel, written once over a small set of vector
// operations (Ops) and instantiated for each instruction set by the file
// that includes this header. Everything here has internal linkage: each
// instruction set's file gets its own copies, compiled for that set only.
//
// Each lane follows node_match exactly: d = c - x; sq = sq + d*d;
// proj = proj + u*d over the features in order, then the same root,
// division, tolerance test and MFV, each a correctly rounded IEEE operation.
// Several blocks are summed at once only to keep independent chains in
// flight; no lane ever mixes with another.
#pragma once

#include "match_kernels.h"
#include "portability.h"

#include <cstdint>

// The including file may name the target attribute of its instruction set
// (QIR_TARGET_AVX2), which every function here then carries.
#ifndef QIR_KERNEL_TARGET
#define QIR_KERNEL_TARGET
#endif

namespace qir::kernels {
namespace {

// Values that are the same for every node of one evaluation.
template <class Ops>
struct Constants {
  typename Ops::V keep;   // 1 - ratio*ratio, as node_match forms it
  typename Ops::V ratio;
  typename Ops::V D;
  typename Ops::V inside_tolerance;
  typename Ops::V vt_tolerance;
  typename Ops::V vt_threshold;
  QIR_KERNEL_TARGET explicit Constants(const MatchParams &p)
      : keep(Ops::set1(1.0 - p.ratio * p.ratio)),
        ratio(Ops::set1(p.ratio)),
        D(Ops::set1(p.D)),
        inside_tolerance(Ops::set1(1e-8)),
        vt_tolerance(Ops::set1(p.vt_tolerance)),
        vt_threshold(Ops::set1(p.vt_threshold)) {}
};

// Registers per block of four nodes.
template <class Ops>
constexpr int regs_per_block = block_lanes / Ops::width;

// Sums over the features of NB consecutive blocks, starting at block b.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline void accumulate(const PackedView &nodes, std::int32_t b, const double *pattern,
                       typename Ops::V (&sq)[NB][regs_per_block<Ops>],
                       typename Ops::V (&proj)[NB][regs_per_block<Ops>]) {
  constexpr int R = regs_per_block<Ops>;
  const std::size_t stride = static_cast<std::size_t>(nodes.M) * block_lanes;
  const double *c = nodes.center + static_cast<std::size_t>(b) * stride;
  const double *u = nodes.direction + static_cast<std::size_t>(b) * stride;
  // Fully unrolled, so the accumulators stay in registers.
QIR_UNROLL(8)
  for (int k = 0; k < NB; ++k)
QIR_UNROLL(4)
    for (int r = 0; r < R; ++r) sq[k][r] = proj[k][r] = Ops::set1(0.0);
  for (std::int32_t f = 0; f < nodes.M; ++f) {
    const typename Ops::V x = Ops::set1(pattern[f]);
QIR_UNROLL(8)
    for (int k = 0; k < NB; ++k) {
      const std::size_t base = k * stride + static_cast<std::size_t>(f) * block_lanes;
QIR_UNROLL(4)
      for (int r = 0; r < R; ++r) {
        const typename Ops::V d = Ops::sub(Ops::load(c + base + r * Ops::width), x);
        sq[k][r] = Ops::add(sq[k][r], Ops::mul(d, d));
        proj[k][r] = Ops::add(proj[k][r], Ops::mul(Ops::load(u + base + r * Ops::width), d));
      }
    }
  }
}

struct LaneBits {
  unsigned outside = 0;
  unsigned passes = 0;
};

// Distance, excess, fit, MFV and the vigilance test for the Ops::width
// nodes starting at slot i, from their sums.
template <class Ops>
QIR_KERNEL_TARGET inline LaneBits finish(const PackedView &nodes, std::int32_t i, typename Ops::V sq,
                       typename Ops::V proj, const Constants<Ops> &k, const MatchOut &out) {
  using V = typename Ops::V;
  const typename Ops::Mask point = Ops::load_mask(nodes.point_mask + i);
  const V ellipse = Ops::sub(sq, Ops::mul(Ops::mul(k.keep, proj), proj));
  const V root = Ops::sqrt(Ops::select(point, sq, ellipse));
  const V distance = Ops::select(point, root, Ops::div(root, k.ratio));
  const V radius = Ops::load(nodes.radius + i);
  const V free_size = Ops::load(nodes.free_size + i);
  // NaN compares false: a NaN distance counts as inside.
  const typename Ops::Mask outside =
      Ops::greater(Ops::sub(distance, k.inside_tolerance), radius);
  const V beyond = Ops::sub(distance, radius);
  const V fit = Ops::select(outside, Ops::sub(free_size, beyond), free_size);
  const V mfv = Ops::div(fit, k.D);
  Ops::store(out.distance + i, distance);
  Ops::store(out.excess + i, Ops::select(outside, beyond, Ops::set1(0.0)));
  Ops::store(out.fit + i, fit);
  Ops::store(out.mfv + i, mfv);
  const typename Ops::Mask passes =
      Ops::greater_equal(Ops::add(mfv, k.vt_tolerance), k.vt_threshold);
  return LaneBits{Ops::bits(outside), Ops::bits(passes)};
}

// Set bits among the low four (no popcount instruction on the baseline).
QIR_KERNEL_TARGET inline int popcount4(unsigned bits) {
  static constexpr std::int8_t count[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
  return count[bits & 15u];
}

// Evaluates NB blocks from block b; returns the number of outside nodes.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline std::int64_t match_blocks(const PackedView &nodes, std::int32_t b, const double *pattern,
                                 const Constants<Ops> &k, const MatchOut &out) {
  constexpr int R = regs_per_block<Ops>;
  typename Ops::V sq[NB][R];
  typename Ops::V proj[NB][R];
  accumulate<Ops, NB>(nodes, b, pattern, sq, proj);
  std::int64_t outside = 0;
QIR_UNROLL(8)
  for (int j = 0; j < NB; ++j) {
    const std::int32_t block = b + j;
    unsigned passes = 0;
QIR_UNROLL(4)
    for (int r = 0; r < R; ++r) {
      const std::int32_t slot = block * block_lanes + r * Ops::width;
      const LaneBits lanes = finish<Ops>(nodes, slot, sq[j][r], proj[j][r], k, out);
      outside += popcount4(lanes.outside);
      passes |= lanes.passes << (r * Ops::width);
    }
    out.passes_vt[block >> 4] |= static_cast<std::uint64_t>(passes) << ((block & 15) * 4);
  }
  return outside;
}

// Blocks first … end-1; their bits in out.passes_vt must be clear.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline std::int64_t match_range(const PackedView &nodes, const double *pattern,
                                                  const MatchParams &params, const MatchOut &out,
                                                  std::int32_t first, std::int32_t end) {
  const Constants<Ops> k(params);
  std::int64_t outside = 0;
  std::int32_t b = first;
  for (; b + NB <= end; b += NB) outside += match_blocks<Ops, NB>(nodes, b, pattern, k, out);
  for (; b < end; ++b) outside += match_blocks<Ops, 1>(nodes, b, pattern, k, out);
  return outside;
}

}  // namespace
}  // namespace qir::kernels
