// The AVX-512 kernel: eight lanes per register, two blocks of four nodes in
// one register (the low half one block, the high half the other), so each
// instruction advances eight nodes' sums, each lane still over its own
// node's features in order. Only the functions of this file are compiled
// for AVX-512F (by their target attribute), and they run only where the
// processor reports AVX-512F and the operating system saves its registers
// (see node_block.cpp). FMA stays off. A block left over from the pairs,
// and the staged search with cut points, take the AVX2 operations (the
// same correctly rounded operations on four lanes).
#include "portability.h"

#if defined(QIR_X86_64)

QIR_AVX512_INTRINSICS_BEGIN
#include <immintrin.h>

#include <cstdint>
#include <limits>

#define QIR_KERNEL_TARGET QIR_TARGET_AVX512
#include "avx2_ops.h"
#include "match_kernel_impl.h"

namespace qir::kernels {
namespace {

using V = __m512d;

// Four values of block a, then four of block b.
QIR_TARGET_AVX512 inline V load_pair(const double *a, const double *b) {
  return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_load_pd(a)), _mm256_load_pd(b), 1);
}
QIR_TARGET_AVX512 inline void store_pair(double *a, double *b, V v) {
  _mm256_store_pd(a, _mm512_castpd512_pd256(v));
  _mm256_store_pd(b, _mm512_extractf64x4_pd(v, 1));
}
// A lane mask from the all-ones / all-zeros words of a pair of blocks.
QIR_TARGET_AVX512 inline __mmask8 load_mask_pair(const std::uint64_t *a, const std::uint64_t *b) {
  const __m512i m = _mm512_castpd_si512(load_pair(reinterpret_cast<const double *>(a),
                                                  reinterpret_cast<const double *>(b)));
  return _mm512_test_epi64_mask(m, m);
}

// Sixteen lanes of single precision, for the choice bounds' distances.
struct Avx512FloatOps {
  using F = __m512;
  static constexpr int float_width = 16;
  QIR_TARGET_AVX512 static F set1f(float x) { return _mm512_set1_ps(x); }
  QIR_TARGET_AVX512 static F loadf(const float *p) { return _mm512_loadu_ps(p); }
  QIR_TARGET_AVX512 static void storef(float *p, F v) { _mm512_storeu_ps(p, v); }
  QIR_TARGET_AVX512 static F addf(F a, F b) { return _mm512_add_ps(a, b); }
  QIR_TARGET_AVX512 static F subf(F a, F b) { return _mm512_sub_ps(a, b); }
  QIR_TARGET_AVX512 static F mulf(F a, F b) { return _mm512_mul_ps(a, b); }
};

struct Constants512 {
  V keep, ratio, D, inside_tolerance, vt_tolerance, vt_threshold, alpha;
  bool vt_at_zero;  // the lean tests, as Constants has them
  V zero, vt_floor;
  QIR_TARGET_AVX512 explicit Constants512(const MatchParams &p)
      : keep(_mm512_set1_pd(1.0 - p.ratio * p.ratio)),
        ratio(_mm512_set1_pd(p.ratio)),
        D(_mm512_set1_pd(p.D)),
        inside_tolerance(_mm512_set1_pd(qir::inside_tolerance)),
        vt_tolerance(_mm512_set1_pd(p.vt_tolerance)),
        vt_threshold(_mm512_set1_pd(p.vt_threshold)),
        alpha(_mm512_set1_pd(p.alpha)),
        vt_at_zero(lean_bounds::vt_at_zero(p)),
        zero(_mm512_setzero_pd()),
        vt_floor(_mm512_set1_pd(lean_bounds::vt_floor(p))) {}
};

// The sums of NB patterns against NP pairs of blocks: each feature's
// centres and directions are loaded once for the whole batch, while every
// pattern's sums still run over its own features in order. Nodes are read
// once per batch instead of once per pattern. Summed in locals: the
// caller's arrays may alias the node data (vector types may alias doubles),
// which would keep every sum in memory.
template <int NB, int NP>
QIR_TARGET_AVX512 inline void batch_pair_sums(const PackedView &nodes,
                                              const std::int32_t (&blocks)[2 * NP],
                                              const double *const *patterns, V (&sq_out)[NB][NP],
                                              V (&proj_out)[NB][NP]) {
  V sq[NB][NP], proj[NB][NP];
QIR_UNROLL(8)
  for (int q = 0; q < NB; ++q)
QIR_UNROLL(8)
    for (int p = 0; p < NP; ++p) {
      sq[q][p] = _mm512_setzero_pd();
      proj[q][p] = _mm512_setzero_pd();
    }
  for (std::int32_t s = 0; s < nodes.segments(); ++s) {
    const std::int32_t begin = nodes.segment_begin(s);
    const std::int32_t width = nodes.segment_end(s) - begin;
    const std::size_t stride = static_cast<std::size_t>(width) * block_lanes;
    const double *c[2 * NP];
    const double *u[2 * NP];
QIR_UNROLL(8)
    for (int k = 0; k < 2 * NP; ++k) {
      c[k] = nodes.center[s] + static_cast<std::size_t>(blocks[k]) * stride;
      u[k] = nodes.direction[s] + static_cast<std::size_t>(blocks[k]) * stride;
    }
    for (std::int32_t f = 0; f < width; ++f) {
      const std::size_t base = static_cast<std::size_t>(f) * block_lanes;
      V x[NB];
QIR_UNROLL(8)
      for (int q = 0; q < NB; ++q) x[q] = _mm512_set1_pd(patterns[q][begin + f]);
QIR_UNROLL(8)
      for (int p = 0; p < NP; ++p) {
        const V cp = load_pair(c[2 * p] + base, c[2 * p + 1] + base);
        const V up = load_pair(u[2 * p] + base, u[2 * p + 1] + base);
QIR_UNROLL(8)
        for (int q = 0; q < NB; ++q) {
          const V d = _mm512_sub_pd(cp, x[q]);
          sq[q][p] = _mm512_add_pd(sq[q][p], _mm512_mul_pd(d, d));
          proj[q][p] = _mm512_add_pd(proj[q][p], _mm512_mul_pd(up, d));
        }
      }
    }
  }
QIR_UNROLL(8)
  for (int q = 0; q < NB; ++q)
QIR_UNROLL(8)
    for (int p = 0; p < NP; ++p) {
      sq_out[q][p] = sq[q][p];
      proj_out[q][p] = proj[q][p];
    }
}

// The radicand: sq for a point, sq - (1 - ratio^2) proj^2 for an ellipsoid.
QIR_TARGET_AVX512 inline V radicand(__mmask8 point, V sq, V proj, V keep) {
  const V ellipse = _mm512_sub_pd(sq, _mm512_mul_pd(_mm512_mul_pd(keep, proj), proj));
  return _mm512_mask_blend_pd(point, ellipse, sq);
}

// Notes one block's lanes as finish_blocks does; returns its nodes outside.
inline std::int64_t note_block(const PackedView &nodes, std::int32_t block, unsigned passes,
                               unsigned beyond, const MatchOut &out) {
  static constexpr std::int8_t count[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
  out.passes_vt[block >> 4] |= static_cast<std::uint64_t>(passes) << ((block & 15) * 4);
  const unsigned empty = nodes.empty_lanes[block];
  out.failing[block] = static_cast<std::uint8_t>((~passes & (beyond | empty) & 15u) |
                                                 ((~beyond & ~empty & 15u) << 4));
  return count[beyond & 15u];
}

// A lean evaluation's winner lanes (WinnerLanes), held in registers while the pairs are evaluated, with counts per lane.
struct Winner512 {
  V best, slot;
  __m512i passing, candidates, outside;
  __mmask8 unordered = 0;
  bool ct = false;
  V Tu;
  Winner512() = default;
  QIR_TARGET_AVX512 explicit Winner512(const WinnerLanes &lanes)
      : best(_mm512_load_pd(lanes.best)),
        slot(_mm512_load_pd(lanes.slot)),
        passing(_mm512_setzero_si512()),
        candidates(_mm512_setzero_si512()),
        outside(_mm512_setzero_si512()),
        ct(lanes.ct),
        Tu(_mm512_set1_pd(lanes.Tu)) {}
  // Into `lanes`; returns the nodes outside.
  QIR_TARGET_AVX512 std::int64_t store(WinnerLanes &lanes) const {
    _mm512_store_pd(lanes.best, best);
    _mm512_store_pd(lanes.slot, slot);
    lanes.passing += _mm512_reduce_add_epi64(passing);
    lanes.candidates += _mm512_reduce_add_epi64(candidates);
    lanes.unordered |= unordered != 0;
    return _mm512_reduce_add_epi64(outside);
  }
};

// One more in each lane of `count` that `lanes` names.
QIR_TARGET_AVX512 inline __m512i count_lanes(__m512i count, __mmask8 lanes) {
  return _mm512_mask_add_epi64(count, lanes, count, _mm512_set1_epi64(1));
}

// The candidates of a pair of blocks (slots a …, b …) into the winner's
// eight lanes, as note_candidates does for four.
QIR_TARGET_AVX512 inline void note_pair_candidates(Winner512 &w, std::int32_t a, std::int32_t b,
                                                   __mmask8 passes, V cfv) {
  __mmask8 candidate = passes;
  if (w.ct) candidate &= _mm512_cmp_pd_mask(cfv, w.Tu, _CMP_GE_OQ);
  w.passing = count_lanes(w.passing, passes);
  w.candidates = count_lanes(w.candidates, candidate);
  w.unordered |= candidate & _mm512_cmp_pd_mask(cfv, cfv, _CMP_UNORD_Q);
  const V first = _mm512_insertf64x4(_mm512_set1_pd(static_cast<double>(a)),
                                     _mm256_set1_pd(static_cast<double>(b)), 1);
  const V slot = _mm512_add_pd(first, load_pair(lane_numbers, lane_numbers));
  const __mmask8 equal = _mm512_cmp_pd_mask(cfv, w.best, _CMP_EQ_OQ);
  const __mmask8 take = candidate & (_mm512_cmp_pd_mask(cfv, w.best, _CMP_GT_OQ) |
                                     (equal & _mm512_cmp_pd_mask(w.slot, slot, _CMP_GT_OQ)));
  w.best = _mm512_mask_blend_pd(take, w.best, cfv);
  w.slot = _mm512_mask_blend_pd(take, w.slot, slot);
}

// lean_passes for a pair of blocks.
QIR_TARGET_AVX512 inline __mmask8 lean_pair_passes(V fit, const Constants512 &k) {
  if (k.vt_at_zero) {
    const __mmask8 unsure = _mm512_cmp_pd_mask(fit, k.zero, _CMP_LT_OQ) &
                            _mm512_cmp_pd_mask(fit, k.vt_floor, _CMP_GE_OQ);
    if (unsure == 0) return _mm512_cmp_pd_mask(fit, k.zero, _CMP_GE_OQ);
  }
  return _mm512_cmp_pd_mask(_mm512_add_pd(_mm512_div_pd(fit, k.D), k.vt_tolerance),
                            k.vt_threshold, _CMP_GE_OQ);
}

// A lean evaluation's finish of one pair of blocks (slots a …, b …) into
// the winner's lanes: the same operations as the full finish below.
QIR_TARGET_AVX512 QIR_ALWAYS_INLINE void finish_lean_pair(const PackedView &nodes, const Constants512 &k,
                                                          std::int32_t a, std::int32_t b, V sq, V proj,
                                                          Winner512 &lean) {
  const __mmask8 point = load_mask_pair(nodes.point_mask + a, nodes.point_mask + b);
  const V root = _mm512_sqrt_pd(radicand(point, sq, proj, k.keep));
  const V distance = _mm512_mask_blend_pd(point, _mm512_div_pd(root, k.ratio), root);
  const V radius = load_pair(nodes.radius + a, nodes.radius + b);
  const V free_size = load_pair(nodes.free_size + a, nodes.free_size + b);
  // NaN compares false: a NaN distance counts as inside.
  const __mmask8 outside =
      _mm512_cmp_pd_mask(_mm512_sub_pd(distance, k.inside_tolerance), radius, _CMP_GT_OQ);
  const V fit = _mm512_mask_blend_pd(outside, free_size,
                                     _mm512_sub_pd(free_size, _mm512_sub_pd(distance, radius)));
  const V cfv = _mm512_div_pd(fit, _mm512_add_pd(free_size, k.alpha));
  note_pair_candidates(lean, a, b, lean_pair_passes(fit, k), cfv);
  lean.outside = count_lanes(lean.outside, outside);  // padding is never outside
}

// Every result of NP listed pairs (list[i] …), as finish_blocks gives them;
// with Lean, only the winner's lanes (kept apart so that the plain path
// stays small enough to inline).
template <int NP, bool Lean>
QIR_TARGET_AVX512 QIR_ALWAYS_INLINE std::int64_t finish_pairs(const PackedView &nodes, const double *pattern,
                                                   const Constants512 &k, const MatchOut &out,
                                                   std::int32_t i, Winner512 *lean) {
  std::int32_t blocks[2 * NP];
QIR_UNROLL(8)
  for (int j = 0; j < 2 * NP; ++j) blocks[j] = out.block_list[i + j];
  V sums[1][NP], projections[1][NP];
  batch_pair_sums<1, NP>(nodes, blocks, &pattern, sums, projections);
  const V(&sq)[NP] = sums[0];
  const V(&proj)[NP] = projections[0];
  std::int64_t outside_count = 0;
QIR_UNROLL(8)
  for (int p = 0; p < NP; ++p) {
    const std::int32_t a = blocks[2 * p] * block_lanes, b = blocks[2 * p + 1] * block_lanes;
    if constexpr (Lean) {
      finish_lean_pair(nodes, k, a, b, sq[p], proj[p], *lean);
      continue;
    }
    const __mmask8 point = load_mask_pair(nodes.point_mask + a, nodes.point_mask + b);
    const V root = _mm512_sqrt_pd(radicand(point, sq[p], proj[p], k.keep));
    const V distance = _mm512_mask_blend_pd(point, _mm512_div_pd(root, k.ratio), root);
    const V radius = load_pair(nodes.radius + a, nodes.radius + b);
    const V free_size = load_pair(nodes.free_size + a, nodes.free_size + b);
    // NaN compares false: a NaN distance counts as inside.
    const __mmask8 outside =
        _mm512_cmp_pd_mask(_mm512_sub_pd(distance, k.inside_tolerance), radius, _CMP_GT_OQ);
    const V beyond = _mm512_sub_pd(distance, radius);
    const V fit = _mm512_mask_blend_pd(outside, free_size, _mm512_sub_pd(free_size, beyond));
    const V mfv = _mm512_div_pd(fit, k.D);
    store_pair(out.distance + a, out.distance + b, distance);
    store_pair(out.excess + a, out.excess + b, _mm512_maskz_mov_pd(outside, beyond));
    store_pair(out.fit + a, out.fit + b, fit);
    store_pair(out.mfv + a, out.mfv + b, mfv);
    if (out.cfv != nullptr)
      store_pair(out.cfv + a, out.cfv + b,
                 _mm512_div_pd(fit, _mm512_add_pd(free_size, k.alpha)));
    const unsigned passes = _mm512_cmp_pd_mask(_mm512_add_pd(mfv, k.vt_tolerance),
                                               k.vt_threshold, _CMP_GE_OQ);
    outside_count += note_block(nodes, blocks[2 * p], passes & 15u, outside & 15u, out);
    outside_count += note_block(nodes, blocks[2 * p + 1], passes >> 4, (outside >> 4) & 15u, out);
  }
  return outside_count;
}

// Evaluates the listed blocks list[i … end-1] whole, two blocks to a
// register; returns how many nodes lie outside.
struct FinishPairs {
  const PackedView &nodes;
  const double *pattern;
  const Constants512 &k;
  const Constants<Avx2Ops> &k4;
  const MatchOut &out;
  QIR_TARGET_AVX512 std::int64_t operator()(std::int32_t i, std::int32_t end) const {
    std::int64_t outside = 0;
    for (; i + 8 <= end; i += 8) outside += finish_pairs<4, false>(nodes, pattern, k, out, i, nullptr);
    for (; i + 2 <= end; i += 2) outside += finish_pairs<1, false>(nodes, pattern, k, out, i, nullptr);
    if (i < end) outside += finish_listed<Avx2Ops, 1>(nodes, pattern, k4, out, i, 0);
    return outside;
  }
};

// NP listed pairs (list[i] …) for each pattern of the batch.
template <int NB, int NP>
QIR_TARGET_AVX512 QIR_ALWAYS_INLINE void finish_pairs_batch(const PackedView &nodes,
                                                            const double *const *patterns,
                                                            const Constants512 &k,
                                                            const std::int32_t *list, std::int32_t i,
                                                            Winner512 *lean) {
  std::int32_t blocks[2 * NP];
QIR_UNROLL(8)
  for (int j = 0; j < 2 * NP; ++j) blocks[j] = list[i + j];
  V sq[NB][NP], proj[NB][NP];
  batch_pair_sums<NB, NP>(nodes, blocks, patterns, sq, proj);
QIR_UNROLL(8)
  for (int q = 0; q < NB; ++q)
QIR_UNROLL(8)
    for (int p = 0; p < NP; ++p)
      finish_lean_pair(nodes, k, blocks[2 * p] * block_lanes, blocks[2 * p + 1] * block_lanes,
                       sq[q][p], proj[q][p], lean[q]);
}

// Lean evaluations of NB patterns in one pass over the listed blocks.
template <int NB>
QIR_TARGET_AVX512 void lean_batch(const PackedView &nodes, const double *const *patterns,
                                  const MatchParams &params, const MatchOut &out,
                                  WinnerLanes *const *winners, MatchCount *counts,
                                  std::int32_t listed) {
  // At most sixteen sums in flight: enough to hide the adds' latency, few
  // enough to stay in registers beside the loads.
  constexpr int NP = NB <= 2 ? 4 : 2;
  const Constants512 k(params);
  const Constants<Avx2Ops> k4(params);
  Winner512 lean[NB];
  for (int q = 0; q < NB; ++q) lean[q] = Winner512(*winners[q]);
  std::int32_t i = 0;
  for (; i + 2 * NP <= listed; i += 2 * NP)
    finish_pairs_batch<NB, NP>(nodes, patterns, k, out.block_list, i, lean);
  for (; i + 2 <= listed; i += 2) finish_pairs_batch<NB, 1>(nodes, patterns, k, out.block_list, i, lean);
  for (int q = 0; q < NB; ++q) {
    counts[q] = MatchCount();
    counts[q].outside += lean[q].store(*winners[q]);
    if (i < listed) {
      MatchOut own = out;
      own.winner = winners[q];
      counts[q].outside += finish_listed<Avx2Ops, 1>(nodes, patterns[q], k4, own, i, 0);
    }
  }
}

// Lean evaluations with the patterns across the lanes: each register holds
// one node's sums for eight patterns, so a node's centre and direction are
// broadcast once per feature for all of them (no lanes of two blocks to
// join), its radius and free size once per node, and each pattern's winner
// and counts stay in its own lane. Every lane takes the operations of
// finish_lean_pair in the same order, so each pattern's values are those of
// one pattern alone. A lane keeps the greatest CFV and, among equal ones,
// the lowest slot: a total order, so the nodes may come in any order, and
// the ellipsoids come first, then the points, whose projections (on a
// direction of zeros) the radicand never reads, nor their distance the
// division by the ratio. P registers of patterns (8 P patterns; lanes
// beyond `count` repeat the first pattern and are dropped).
template <int P>
struct WideLanes {
  V best[P], slot[P];
  __m512i passing[P], candidates[P], outside[P];
  __mmask8 unordered[P];
};

// K nodes (slots s[0 …]), all points or all ellipsoids, for every register
// of patterns x (feature by feature, W = 8 P to a feature).
template <int P, bool CT, bool Points, int K>
QIR_TARGET_AVX512 QIR_ALWAYS_INLINE void wide_nodes(const PackedView &nodes, const std::int32_t *s,
                                                    const double *x, const Constants512 &k, V Tu,
                                                    WideLanes<P> &w) {
  constexpr int W = 8 * P;
  V sq[K][P], proj[K][P];
QIR_UNROLL(4)
  for (int n = 0; n < K; ++n)
QIR_UNROLL(2)
    for (int p = 0; p < P; ++p) sq[n][p] = proj[n][p] = _mm512_setzero_pd();
  for (std::int32_t g = 0; g < nodes.segments(); ++g) {
    const std::int32_t begin = nodes.segment_begin(g);
    const std::int32_t width = nodes.segment_end(g) - begin;
    const double *c[K];
    const double *u[K];
QIR_UNROLL(4)
    for (int n = 0; n < K; ++n) {
      const std::size_t at = static_cast<std::size_t>(s[n] / block_lanes) *
                                 static_cast<std::size_t>(width) * block_lanes +
                             static_cast<std::size_t>(s[n] % block_lanes);
      c[n] = nodes.center[g] + at;
      u[n] = nodes.direction[g] + at;
    }
    const double *xs = x + static_cast<std::size_t>(begin) * W;
    for (std::int32_t f = 0; f < width; ++f, xs += W) {
      const std::size_t at = static_cast<std::size_t>(f) * block_lanes;
      V xv[P];
QIR_UNROLL(2)
      for (int p = 0; p < P; ++p) xv[p] = _mm512_load_pd(xs + 8 * p);
QIR_UNROLL(4)
      for (int n = 0; n < K; ++n) {
        const V cn = _mm512_set1_pd(c[n][at]);
QIR_UNROLL(2)
        for (int p = 0; p < P; ++p) {
          const V d = _mm512_sub_pd(cn, xv[p]);
          sq[n][p] = _mm512_add_pd(sq[n][p], _mm512_mul_pd(d, d));
          if constexpr (!Points)
            proj[n][p] = _mm512_add_pd(proj[n][p], _mm512_mul_pd(_mm512_set1_pd(u[n][at]), d));
        }
      }
    }
  }
QIR_UNROLL(4)
  for (int n = 0; n < K; ++n) {
    const std::int32_t i = s[n];
    const V radius = _mm512_set1_pd(nodes.radius[i]);
    const V free_size = _mm512_set1_pd(nodes.free_size[i]);
    const V here = _mm512_set1_pd(static_cast<double>(i));
QIR_UNROLL(2)
    for (int p = 0; p < P; ++p) {
      V distance;
      if constexpr (Points) {
        distance = _mm512_sqrt_pd(sq[n][p]);
      } else {
        const V r = _mm512_sub_pd(sq[n][p], _mm512_mul_pd(_mm512_mul_pd(k.keep, proj[n][p]), proj[n][p]));
        distance = _mm512_div_pd(_mm512_sqrt_pd(r), k.ratio);
      }
      // NaN compares false: a NaN distance counts as inside.
      const __mmask8 out =
          _mm512_cmp_pd_mask(_mm512_sub_pd(distance, k.inside_tolerance), radius, _CMP_GT_OQ);
      const V fit = _mm512_mask_blend_pd(out, free_size,
                                         _mm512_sub_pd(free_size, _mm512_sub_pd(distance, radius)));
      const V cfv = _mm512_div_pd(fit, _mm512_add_pd(free_size, k.alpha));
      const __mmask8 passes = lean_pair_passes(fit, k);
      __mmask8 candidate = passes;
      if constexpr (CT) {
        candidate &= _mm512_cmp_pd_mask(cfv, Tu, _CMP_GE_OQ);
        w.candidates[p] = count_lanes(w.candidates[p], candidate);
      }
      w.passing[p] = count_lanes(w.passing[p], passes);
      w.outside[p] = count_lanes(w.outside[p], out);
      w.unordered[p] |= candidate & _mm512_cmp_pd_mask(cfv, cfv, _CMP_UNORD_Q);
      const __mmask8 equal = _mm512_cmp_pd_mask(cfv, w.best[p], _CMP_EQ_OQ);
      const __mmask8 take = candidate & (_mm512_cmp_pd_mask(cfv, w.best[p], _CMP_GT_OQ) |
                                         (equal & _mm512_cmp_pd_mask(w.slot[p], here, _CMP_GT_OQ)));
      w.best[p] = _mm512_mask_blend_pd(take, w.best[p], cfv);
      w.slot[p] = _mm512_mask_blend_pd(take, w.slot[p], here);
    }
  }
}

// The listed slots, all points or all ellipsoids, four at a time.
template <int P, bool CT, bool Points>
QIR_TARGET_AVX512 QIR_ALWAYS_INLINE void wide_list(const PackedView &nodes, const std::int32_t *s,
                                                   std::int32_t n, const double *x,
                                                   const Constants512 &k, V Tu, WideLanes<P> &w) {
  std::int32_t i = 0;
  for (; i + 4 <= n; i += 4) wide_nodes<P, CT, Points, 4>(nodes, s + i, x, k, Tu, w);
  for (; i < n; ++i) wide_nodes<P, CT, Points, 1>(nodes, s + i, x, k, Tu, w);
}

template <int P, bool CT>
QIR_TARGET_AVX512 void lean_wide(const PackedView &nodes, const double *const *patterns,
                                 std::int32_t count, const MatchParams &params,
                                 const std::int32_t *slots, std::int32_t ellipsoids,
                                 std::int32_t points, WinnerLanes *const *winners,
                                 MatchCount *counts) {
  constexpr int W = 8 * P;
  // The patterns feature by feature: x[f * W + lane].
  alignas(64) double x[lean_wide_features * W];
  for (std::int32_t f = 0; f < nodes.M; ++f)
    for (int q = 0; q < W; ++q) x[f * W + q] = patterns[q < count ? q : 0][f];
  const Constants512 k(params);
  const V Tu = _mm512_set1_pd(winners[0]->Tu);
  WideLanes<P> w;
  for (int p = 0; p < P; ++p) {
    w.best[p] = _mm512_set1_pd(-std::numeric_limits<double>::infinity());
    w.slot[p] = _mm512_set1_pd(std::numeric_limits<double>::infinity());
    w.passing[p] = w.candidates[p] = w.outside[p] = _mm512_setzero_si512();
    w.unordered[p] = 0;
  }
  wide_list<P, CT, false>(nodes, slots, ellipsoids, x, k, Tu, w);
  wide_list<P, CT, true>(nodes, slots + ellipsoids, points, x, k, Tu, w);
  alignas(64) double best_of[W], slot_of[W];
  alignas(64) std::int64_t passing_of[W], candidates_of[W], outside_of[W];
  unsigned unordered_of = 0;
  for (int p = 0; p < P; ++p) {
    _mm512_store_pd(best_of + 8 * p, w.best[p]);
    _mm512_store_pd(slot_of + 8 * p, w.slot[p]);
    _mm512_store_si512(passing_of + 8 * p, w.passing[p]);
    _mm512_store_si512(candidates_of + 8 * p, CT ? w.candidates[p] : w.passing[p]);  // CT off: the same
    _mm512_store_si512(outside_of + 8 * p, w.outside[p]);
    unordered_of |= static_cast<unsigned>(w.unordered[p]) << (8 * p);
  }
  for (std::int32_t q = 0; q < count; ++q) {
    WinnerLanes &lanes = *winners[q];
    lanes.best[0] = best_of[q];
    lanes.slot[0] = slot_of[q];
    lanes.passing += passing_of[q];
    lanes.candidates += candidates_of[q];
    lanes.unordered |= ((unordered_of >> q) & 1u) != 0;
    counts[q] = MatchCount();
    counts[q].outside = outside_of[q];
  }
}

}  // namespace

QIR_TARGET_AVX512 void match_avx512_lean_batch(const PackedView &nodes,
                                               const double *const *patterns, std::int32_t count,
                                               const MatchParams &params, const MatchOut &out,
                                               WinnerLanes *const *winners, MatchCount *counts,
                                               std::int32_t listed) {
  switch (count) {
    case 1: return lean_batch<1>(nodes, patterns, params, out, winners, counts, listed);
    case 2: return lean_batch<2>(nodes, patterns, params, out, winners, counts, listed);
    case 3: return lean_batch<3>(nodes, patterns, params, out, winners, counts, listed);
    default: return lean_batch<4>(nodes, patterns, params, out, winners, counts, listed);
  }
}

QIR_TARGET_AVX512 void match_avx512_lean_wide(const PackedView &nodes, const double *const *patterns,
                                              std::int32_t count, const MatchParams &params,
                                              const std::int32_t *slots, std::int32_t ellipsoids,
                                              std::int32_t points, WinnerLanes *const *winners,
                                              MatchCount *counts) {
  const bool ct = winners[0]->ct;
  if (count <= 8)
    return ct ? lean_wide<1, true>(nodes, patterns, count, params, slots, ellipsoids, points, winners, counts)
              : lean_wide<1, false>(nodes, patterns, count, params, slots, ellipsoids, points, winners, counts);
  return ct ? lean_wide<2, true>(nodes, patterns, count, params, slots, ellipsoids, points, winners, counts)
            : lean_wide<2, false>(nodes, patterns, count, params, slots, ellipsoids, points, winners, counts);
}

QIR_TARGET_AVX512 MatchCount match_avx512(const PackedView &nodes, const double *pattern,
                                          const MatchParams &params, const MatchOut &out,
                                          std::int32_t listed) {
  if (params.cut && nodes.cuts.count > 0) return match_list<Avx2Ops, 4>(nodes, pattern, params, out, listed);
  const Constants512 k(params);
  const Constants<Avx2Ops> k4(params);
  const FinishPairs finish{nodes, pattern, k, k4, out};
  if (params.choose && out.cfv != nullptr && nodes.choice_centre != nullptr)
    return match_choosing<Avx2Ops, 4, Avx512FloatOps>(nodes, pattern, params, finish, out, listed);
  MatchCount count;
  if (out.winner != nullptr) {
    Winner512 lean(*out.winner);
    std::int32_t i = 0;
    for (; i + 8 <= listed; i += 8) count.outside += finish_pairs<4, true>(nodes, pattern, k, out, i, &lean);
    for (; i + 2 <= listed; i += 2) count.outside += finish_pairs<1, true>(nodes, pattern, k, out, i, &lean);
    count.outside += lean.store(*out.winner);
    if (i < listed) count.outside += finish_listed<Avx2Ops, 1>(nodes, pattern, k4, out, i, 0);
    return count;
  }
  count.outside = finish(0, listed);
  return count;
}

}  // namespace qir::kernels

#endif
