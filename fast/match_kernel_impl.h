// The one evaluation kernel, written once over a small set of vector
// operations (Ops) and instantiated for each instruction set by the file
// that includes this header. Everything here has internal linkage: each
// instruction set's file gets its own copies, compiled for that set only.
//
// Each lane follows node_match exactly: d = c - x; sq = sq + d*d;
// proj = proj + u*d over the features in order, then the same root,
// division, tolerance test and MFV, each a correctly rounded IEEE operation.
// Several blocks are summed at once only to keep independent chains in
// flight; no lane ever mixes with another. With cuts, the sums stop at the
// cut point, and a block goes on from the same sums only when its cut does
// not prove every node failing (see early_cut.h): its results are those of
// a full evaluation.
#pragma once

#include "lean_cut.h"
#include "match_kernels.h"
#include "portability.h"

#include <cstdint>

// The including file may name the target attribute of its instruction set
// (QIR_TARGET_AVX2), which every function here then carries.
#ifndef QIR_KERNEL_TARGET
#define QIR_KERNEL_TARGET
#endif

namespace qir::kernels {

// The vigilance test of a lean evaluation (MatchOut with a winner) without
// the division, where it can be decided exactly: at a threshold
// and tolerance of 0 and D in [2^-100, 2^100], mfv = fit / D passes when
// mfv + 0 >= 0. For fit >= 0 (-0 included) the quotient is +0, -0 or
// positive: it passes. For fit < -D * 2^-900 (exact: a power of two times
// D) the exact quotient is below -2^-900, and rounding, being monotone,
// keeps it there: it fails. A NaN fit fails both comparisons and the test.
// Only a fit in between needs the division.
namespace lean_bounds {
inline bool vt_at_zero(const MatchParams &p) {
  return p.vt_threshold == 0.0 && p.vt_tolerance == 0.0 && p.D >= 0x1p-100 && p.D <= 0x1p100;
}
inline double vt_floor(const MatchParams &p) { return -p.D * 0x1p-900; }
}  // namespace lean_bounds

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
  typename Ops::V alpha;
  // The vigilance test a lean evaluation takes without dividing.
  bool vt_at_zero;
  typename Ops::V zero;
  typename Ops::V vt_floor;
  QIR_KERNEL_TARGET explicit Constants(const MatchParams &p)
      : keep(Ops::set1(1.0 - p.ratio * p.ratio)),
        ratio(Ops::set1(p.ratio)),
        D(Ops::set1(p.D)),
        inside_tolerance(Ops::set1(qir::inside_tolerance)),
        vt_tolerance(Ops::set1(p.vt_tolerance)),
        vt_threshold(Ops::set1(p.vt_threshold)),
        alpha(Ops::set1(p.alpha)),
        vt_at_zero(lean_bounds::vt_at_zero(p)),
        zero(Ops::set1(0.0)),
        vt_floor(Ops::set1(lean_bounds::vt_floor(p))) {}
};

// Registers per block of four nodes.
template <class Ops>
constexpr int regs_per_block = block_lanes / Ops::width;

// Adds the features of segment s of the NB given blocks to their sums.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline void accumulate(const PackedView &nodes, const std::int32_t (&blocks)[NB],
                                         const double *pattern, std::int32_t s,
                                         typename Ops::V (&sq)[NB][regs_per_block<Ops>],
                                         typename Ops::V (&proj)[NB][regs_per_block<Ops>]) {
  constexpr int R = regs_per_block<Ops>;
  const std::int32_t begin = nodes.segment_begin(s);
  const std::int32_t width = nodes.segment_end(s) - begin;
  const std::size_t stride = static_cast<std::size_t>(width) * block_lanes;
  const double *x_at = pattern + begin;
  const double *c[NB];
  const double *u[NB];
QIR_UNROLL(8)
  for (int k = 0; k < NB; ++k) {
    c[k] = nodes.center[s] + static_cast<std::size_t>(blocks[k]) * stride;
    u[k] = nodes.direction[s] + static_cast<std::size_t>(blocks[k]) * stride;
  }
  for (std::int32_t f = 0; f < width; ++f) {
    const typename Ops::V x = Ops::set1(x_at[f]);
    const std::size_t base = static_cast<std::size_t>(f) * block_lanes;
    // Fully unrolled, so the accumulators stay in registers.
QIR_UNROLL(8)
    for (int k = 0; k < NB; ++k) {
QIR_UNROLL(4)
      for (int r = 0; r < R; ++r) {
        const typename Ops::V d = Ops::sub(Ops::load(c[k] + base + r * Ops::width), x);
        sq[k][r] = Ops::add(sq[k][r], Ops::mul(d, d));
        proj[k][r] = Ops::add(proj[k][r], Ops::mul(Ops::load(u[k] + base + r * Ops::width), d));
      }
    }
  }
}

// Sums of NB blocks: zero, or as a cut stage left them in the distance and
// excess slots of the output.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline void load_sums(const std::int32_t (&blocks)[NB], bool fresh, const MatchOut &out,
                                        typename Ops::V (&sq)[NB][regs_per_block<Ops>],
                                        typename Ops::V (&proj)[NB][regs_per_block<Ops>]) {
QIR_UNROLL(8)
  for (int k = 0; k < NB; ++k)
QIR_UNROLL(4)
    for (int r = 0; r < regs_per_block<Ops>; ++r) {
      const std::int32_t slot = blocks[k] * block_lanes + r * Ops::width;
      sq[k][r] = fresh ? Ops::set1(0.0) : Ops::load(out.distance + slot);
      proj[k][r] = fresh ? Ops::set1(0.0) : Ops::load(out.excess + slot);
    }
}

// Set bits among the low four (no popcount instruction on the baseline).
QIR_KERNEL_TARGET inline int popcount4(unsigned bits) {
  static constexpr std::int8_t count[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
  return count[bits & 15u];
}

// The lane numbers, as doubles.
alignas(64) constexpr double lane_numbers[8] = {0, 1, 2, 3, 4, 5, 6, 7};

// The winner update of the lanes of slot i that `candidate` names, with
// their CFVs: a greater CFV, or an equal one in a lower slot, is taken; a
// NaN is noted.
template <class Ops>
QIR_KERNEL_TARGET inline void take_candidates(WinnerLanes &lanes, std::int32_t i,
                                              unsigned candidate_bits, typename Ops::Mask candidate,
                                              typename Ops::V cfv) {
  using V = typename Ops::V;
  lanes.unordered |= (candidate_bits & ~Ops::bits(Ops::greater_equal(cfv, cfv))) != 0;
  const V slot = Ops::add(Ops::set1(static_cast<double>(i)), Ops::load(lane_numbers));
  const V best = Ops::load(lanes.best);
  const V held = Ops::load(lanes.slot);
  const typename Ops::Mask equal =
      Ops::both(Ops::greater_equal(cfv, best), Ops::greater_equal(best, cfv));
  const typename Ops::Mask take = Ops::both(
      candidate, Ops::either(Ops::greater(cfv, best), Ops::both(equal, Ops::greater(held, slot))));
  Ops::store(lanes.best, Ops::select(take, cfv, best));
  Ops::store(lanes.slot, Ops::select(take, slot, held));
}

// The candidates among the Ops::width nodes from slot i into the winner's
// lanes (the first Ops::width of them; see WinnerLanes).
template <class Ops>
QIR_KERNEL_TARGET inline void note_candidates(WinnerLanes &lanes, std::int32_t i,
                                              typename Ops::Mask passes, typename Ops::V cfv) {
  typename Ops::Mask candidate = passes;
  if (lanes.ct) candidate = Ops::both(candidate, Ops::greater_equal(cfv, Ops::set1(lanes.Tu)));
  const unsigned candidate_bits = Ops::bits(candidate);
  lanes.passing += popcount4(Ops::bits(passes));
  lanes.candidates += popcount4(candidate_bits);
  take_candidates<Ops>(lanes, i, candidate_bits, candidate, cfv);
}

// What a lean evaluation's thresholds prove about the lanes of slot i
// (lean_cut.h), given their radicands and the lanes' best CFVs: false when
// some lane is not proved. `inside_bits` is 0 (and `inside_passing` unset)
// when every lane lies outside and passes (the usual case, tested first).
template <class Ops>
struct LeanProof {
  typename Ops::Mask outside, passes, inside_passing;
  unsigned inside_bits;
};

template <class Ops>
QIR_KERNEL_TARGET QIR_ALWAYS_INLINE bool lean_proved(const LeanCutView &c, std::int32_t i,
                                                     typename Ops::V r, typename Ops::V best,
                                                     LeanProof<Ops> &proof) {
  using V = typename Ops::V;
  using Mask = typename Ops::Mask;
  constexpr unsigned all = (1u << Ops::width) - 1u;
  const V zero = Ops::set1(0.0);
  const Mask bounded = Ops::both(Ops::greater_equal(best, zero),
                                 Ops::greater_equal(Ops::set1(lean_cut::best_limit), best));
  const V xr = Ops::sub(Ops::load(LeanCutView::at(c.reach, i)),
                        Ops::mul(best, Ops::load(LeanCutView::at(c.scale, i))));
  const V above = Ops::select(Ops::greater(xr, zero), xr, zero);
  const Mask beatless = Ops::both(bounded, Ops::greater_equal(r, Ops::mul(above, above)));
  const Mask out = Ops::greater_equal(r, Ops::load(LeanCutView::at(c.outside, i)));
  const Mask pass = Ops::greater_equal(Ops::load(LeanCutView::at(c.pass, i)), r);
  const Mask passing_out = Ops::both(out, pass);
  if (Ops::bits(Ops::both(passing_out, beatless)) == all) {
    proof.outside = out;
    proof.passes = out;
    proof.inside_bits = 0;
    return true;
  }
  const Mask in = Ops::greater_equal(Ops::load(LeanCutView::at(c.inside, i)), r);
  const Mask fail = Ops::greater_equal(r, Ops::load(LeanCutView::at(c.fail, i)));
  const Mask sure =
      Ops::either(in, Ops::both(out, Ops::either(fail, Ops::both(pass, beatless))));
  if (Ops::bits(sure) != all) return false;
  proof.outside = out;
  proof.inside_passing = Ops::both(in, Ops::load_mask(c.passes + i));
  proof.inside_bits = Ops::bits(proof.inside_passing);
  proof.passes = Ops::either(proof.inside_passing, passing_out);
  return true;
}

// The vigilance test of a lean evaluation (see lean_bounds).
template <class Ops>
QIR_KERNEL_TARGET inline typename Ops::Mask lean_passes(typename Ops::V fit,
                                                        const Constants<Ops> &k) {
  if (k.vt_at_zero) {
    const typename Ops::Mask passes = Ops::greater_equal(fit, k.zero);
    const unsigned unsure =
        Ops::bits(Ops::greater(k.zero, fit)) & Ops::bits(Ops::greater_equal(fit, k.vt_floor));
    if (unsure == 0) return passes;
  }
  return Ops::greater_equal(Ops::add(Ops::div(fit, k.D), k.vt_tolerance), k.vt_threshold);
}

struct LaneBits {
  unsigned outside = 0;
  unsigned passes = 0;
};

// Distance, excess, fit, MFV and the vigilance test for the Ops::width
// nodes starting at slot i, from their sums.
template <class Ops>
QIR_KERNEL_TARGET QIR_ALWAYS_INLINE LaneBits finish(const PackedView &nodes, std::int32_t i, typename Ops::V sq,
                       typename Ops::V proj, const Constants<Ops> &k, const MatchOut &out) {
  using V = typename Ops::V;
  const typename Ops::Mask point = Ops::load_mask(nodes.point_mask + i);
  const V ellipse = Ops::sub(sq, Ops::mul(Ops::mul(k.keep, proj), proj));
  const V r = Ops::select(point, sq, ellipse);
  if (out.lean_cut != nullptr) {
    LeanProof<Ops> proof;
    const bool proved = lean_proved<Ops>(*out.lean_cut, i, r, Ops::load(out.winner->best), proof);
    ++out.lean_counts[proved ? 0 : 1];
    if (proved) {
      // CT off: every lane that passes is a candidate.
      const unsigned passes = Ops::bits(proof.passes);
      out.winner->passing += popcount4(passes);
      out.winner->candidates += popcount4(passes);
      if (proof.inside_bits != 0)
        take_candidates<Ops>(*out.winner, i, proof.inside_bits, proof.inside_passing,
                             Ops::load(LeanCutView::at(out.lean_cut->cfv, i)));
      return LaneBits{Ops::bits(proof.outside), passes};
    }
  }
  const V root = Ops::sqrt(r);
  const V distance = Ops::select(point, root, Ops::div(root, k.ratio));
  const V radius = Ops::load(nodes.radius + i);
  const V free_size = Ops::load(nodes.free_size + i);
  // NaN compares false: a NaN distance counts as inside.
  const typename Ops::Mask outside =
      Ops::greater(Ops::sub(distance, k.inside_tolerance), radius);
  const V beyond = Ops::sub(distance, radius);
  const V fit = Ops::select(outside, Ops::sub(free_size, beyond), free_size);
  if (out.winner != nullptr) {
    const typename Ops::Mask passes = lean_passes<Ops>(fit, k);
    note_candidates<Ops>(*out.winner, i, passes, Ops::div(fit, Ops::add(free_size, k.alpha)));
    return LaneBits{Ops::bits(outside), Ops::bits(passes)};
  }
  const V mfv = Ops::div(fit, k.D);
  Ops::store(out.distance + i, distance);
  Ops::store(out.excess + i, Ops::select(outside, beyond, Ops::set1(0.0)));
  Ops::store(out.fit + i, fit);
  Ops::store(out.mfv + i, mfv);
  if (out.cfv != nullptr) Ops::store(out.cfv + i, Ops::div(fit, Ops::add(free_size, k.alpha)));
  return LaneBits{Ops::bits(outside),
                  Ops::bits(Ops::greater_equal(Ops::add(mfv, k.vt_tolerance), k.vt_threshold))};
}

// Finishes NB blocks from their sums; returns how many nodes lie outside.
// Also notes, per block, the lanes that failed the vigilance test lying
// outside, or hold no node (low four bits), and the lanes whose node the
// pattern lies inside (high four bits).
template <class Ops, int NB>
QIR_KERNEL_TARGET inline std::int64_t finish_blocks(const PackedView &nodes, const std::int32_t (&blocks)[NB],
                                                    typename Ops::V (&sq)[NB][regs_per_block<Ops>],
                                                    typename Ops::V (&proj)[NB][regs_per_block<Ops>],
                                                    const Constants<Ops> &k, const MatchOut &out) {
  constexpr int R = regs_per_block<Ops>;
  std::int64_t outside = 0;
QIR_UNROLL(8)
  for (int j = 0; j < NB; ++j) {
    const std::int32_t block = blocks[j];
    unsigned passes = 0, beyond = 0;
QIR_UNROLL(4)
    for (int r = 0; r < R; ++r) {
      const std::int32_t slot = block * block_lanes + r * Ops::width;
      const LaneBits lanes = finish<Ops>(nodes, slot, sq[j][r], proj[j][r], k, out);
      outside += popcount4(lanes.outside);
      passes |= lanes.passes << (r * Ops::width);
      beyond |= lanes.outside << (r * Ops::width);
    }
    if (out.winner != nullptr) continue;  // a lean evaluation notes nothing per block
    out.passes_vt[block >> 4] |= static_cast<std::uint64_t>(passes) << ((block & 15) * 4);
    const unsigned empty = nodes.empty_lanes[block];
    out.failing[block] = static_cast<std::uint8_t>((~passes & (beyond | empty) & 15u) |
                                                   ((~beyond & ~empty & 15u) << 4));
  }
  return outside;
}

// 1 when the sums so far prove, by cut c, that every node of the block
// fails the vigilance test (see early_cut.h), else 0.
template <class Ops>
QIR_KERNEL_TARGET inline unsigned cut_holds(const PackedView &nodes, std::int32_t c, std::int32_t block,
                                            const typename Ops::V (&sq)[regs_per_block<Ops>],
                                            const typename Ops::V (&proj)[regs_per_block<Ops>]) {
  unsigned bits = 0;
QIR_UNROLL(4)
  for (int r = 0; r < regs_per_block<Ops>; ++r) {
    const std::int32_t slot = block * block_lanes + r * Ops::width;
    const typename Ops::V least =
        Ops::sub(Ops::mul(Ops::load(nodes.cut_scale[c] + slot), sq[r]),
                 Ops::mul(Ops::load(nodes.cut_weight[c] + slot), Ops::mul(proj[r], proj[r])));
    bits |= Ops::bits(Ops::greater(least, Ops::load(nodes.cut_limit[c] + slot))) << (r * Ops::width);
  }
  return static_cast<unsigned>(bits == (1u << block_lanes) - 1u);
}

// The NB blocks listed from list[i] on, their sums carried through
// segment s (from zero for the first segment).
template <class Ops, int NB>
QIR_KERNEL_TARGET inline void listed_sums(const PackedView &nodes, const double *pattern, const MatchOut &out,
                                          std::int32_t i, std::int32_t s, std::int32_t (&blocks)[NB],
                                          typename Ops::V (&sq)[NB][regs_per_block<Ops>],
                                          typename Ops::V (&proj)[NB][regs_per_block<Ops>]) {
QIR_UNROLL(8)
  for (int j = 0; j < NB; ++j) blocks[j] = out.block_list[i + j];
  load_sums<Ops, NB>(blocks, s == 0, out, sq, proj);
  accumulate<Ops, NB>(nodes, blocks, pattern, s, sq, proj);
}

// One stage over NB listed blocks (list[i] …): their sums run on to the
// cut point c, and those the cut does not prove failing are listed again
// from list[kept] on, their sums kept in the output. No branch depends on
// the outcome, which is hard to predict.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline std::int32_t cut_stage(const PackedView &nodes, std::int32_t c,
                                                const double *pattern, const MatchOut &out,
                                                std::int32_t i, std::int32_t kept, MatchCount &count) {
  constexpr int R = regs_per_block<Ops>;
  std::int32_t blocks[NB];
  typename Ops::V sq[NB][R];
  typename Ops::V proj[NB][R];
  listed_sums<Ops, NB>(nodes, pattern, out, i, c, blocks, sq, proj);
QIR_UNROLL(8)
  for (int j = 0; j < NB; ++j) {
    const unsigned holds = cut_holds<Ops>(nodes, c, blocks[j], sq[j], proj[j]);
    const std::int64_t members = nodes.block_members[blocks[j]];
    count.outside += holds * members;
    count.cut += holds * members;
    count.cut_blocks += holds;
QIR_UNROLL(4)
    for (int r = 0; r < R; ++r) {
      const std::int32_t slot = blocks[j] * block_lanes + r * Ops::width;
      Ops::store(out.distance + slot, sq[j][r]);
      Ops::store(out.excess + slot, proj[j][r]);
    }
    out.failing[blocks[j]] = 15u;  // finishing writes over it
    out.block_list[kept] = blocks[j];
    kept += static_cast<std::int32_t>(1u - holds);
  }
  count.cut_tests += NB;
  return kept;
}

// The NB blocks listed from list[i] on: their features from segment
// `from` on (from zero, or from the sums a cut stage left), and their
// results.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline std::int64_t finish_listed(const PackedView &nodes, const double *pattern,
                                                    const Constants<Ops> &k, const MatchOut &out,
                                                    std::int32_t i, std::int32_t from) {
  constexpr int R = regs_per_block<Ops>;
  std::int32_t blocks[NB];
QIR_UNROLL(8)
  for (int j = 0; j < NB; ++j) blocks[j] = out.block_list[i + j];
  typename Ops::V sq[NB][R];
  typename Ops::V proj[NB][R];
  load_sums<Ops, NB>(blocks, from == 0, out, sq, proj);
  for (std::int32_t s = from; s < nodes.segments(); ++s) accumulate<Ops, NB>(nodes, blocks, pattern, s, sq, proj);
  return finish_blocks<Ops, NB>(nodes, blocks, sq, proj, k, out);
}

// The listed blocks in stages: after each cut point only the blocks whose
// nodes might still pass go on.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline MatchCount match_staged(const PackedView &nodes, const double *pattern,
                                                 const Constants<Ops> &k, const MatchOut &out,
                                                 std::int32_t listed) {
  MatchCount count;
  for (std::int32_t c = 0; c < nodes.cuts.count && listed > 0; ++c) {
    // In place: a block is listed again at or before its old place.
    std::int32_t kept = 0, i = 0;
    for (; i + NB <= listed; i += NB) kept = cut_stage<Ops, NB>(nodes, c, pattern, out, i, kept, count);
    for (; i < listed; ++i) kept = cut_stage<Ops, 1>(nodes, c, pattern, out, i, kept, count);
    listed = kept;
  }
  const std::int32_t from = nodes.cuts.count;
  std::int32_t i = 0;
  for (; i + NB <= listed; i += NB) count.outside += finish_listed<Ops, NB>(nodes, pattern, k, out, i, from);
  for (; i < listed; ++i) count.outside += finish_listed<Ops, 1>(nodes, pattern, k, out, i, from);
  return count;
}

// The squared distances, in single precision, from the pattern to the
// single-precision centres of slots s0 … s1-1, into out.single.
template <class Ops>
QIR_KERNEL_TARGET inline void single_distances(const PackedView &nodes, const MatchOut &out,
                                               std::int32_t s0, std::int32_t s1) {
  using F = typename Ops::F;
  constexpr int W = Ops::float_width;
  constexpr int U = 4;  // independent sums in flight
  const std::size_t stride = static_cast<std::size_t>(nodes.choice_stride);
  const float *x = out.single_pattern;
  std::int32_t s = s0;
  for (; s + U * W <= s1; s += U * W) {
    F acc[U];
QIR_UNROLL(4)
    for (int u = 0; u < U; ++u) acc[u] = Ops::set1f(0.0f);
    const float *row = nodes.choice_centre + s;
    for (std::int32_t f = 0; f < nodes.M; ++f, row += stride) {
      const F xf = Ops::set1f(x[f]);
QIR_UNROLL(4)
      for (int u = 0; u < U; ++u) {
        const F d = Ops::subf(Ops::loadf(row + u * W), xf);
        acc[u] = Ops::addf(acc[u], Ops::mulf(d, d));
      }
    }
QIR_UNROLL(4)
    for (int u = 0; u < U; ++u) Ops::storef(out.single + s + u * W, acc[u]);
  }
  for (; s < s1; ++s) {
    float acc = 0.0f;
    const float *row = nodes.choice_centre + s;
    for (std::int32_t f = 0; f < nodes.M; ++f, row += stride) {
      const float d = *row - x[f];
      acc += d * d;
    }
    out.single[s] = acc;
  }
}

// The lanes of a block whose nodes that distance proves outside, passing
// the vigilance test and below `best` (see choice_cut.h).
template <class Ops>
QIR_KERNEL_TARGET inline unsigned choice_holds(const PackedView &nodes, const MatchParams &params,
                                               const MatchOut &out, std::int32_t block,
                                               typename Ops::V best) {
  using V = typename Ops::V;
  const ChoiceFactors &factors = nodes.choice_factors;
  unsigned bits = 0;
QIR_UNROLL(4)
  for (int r = 0; r < regs_per_block<Ops>; ++r) {
    const std::int32_t slot = block * block_lanes + r * Ops::width;
    const V bn = Ops::mul(best, Ops::load(nodes.choice_denominator + slot));
    const V below = Ops::sub(Ops::load(nodes.choice_base + slot), Ops::mul(bn, Ops::set1(choice_keep)));
    const V outside = Ops::load(nodes.choice_outside + slot);
    const V z = Ops::select(Ops::greater(outside, below), outside, below);
    const V least = Ops::mul(Ops::mul(Ops::set1(factors.beyond), z), z);
    const V error = Ops::add(Ops::load(nodes.choice_error + slot), Ops::set1(params.single_error));
    const V w2 = Ops::load_float(out.single + slot);
    const V low = Ops::sub(Ops::mul(w2, Ops::set1(factors.low)), error);
    const V high = Ops::add(Ops::mul(w2, Ops::set1(factors.high)), error);
    const unsigned beyond = Ops::bits(Ops::greater(low, least));
    const unsigned passes = Ops::bits(Ops::greater_equal(Ops::load(nodes.choice_vt_limit + slot), high));
    bits |= (beyond & passes) << (r * Ops::width);
  }
  return bits;
}

// The NB blocks listed from list[i] on: those whose nodes provably cannot
// win against `best` are left out, the others listed again from
// list[kept] on. Returns the new `kept`.
template <class Ops, int NB>
QIR_KERNEL_TARGET inline std::int32_t choice_stage(const PackedView &nodes, const double *pattern,
                                                   const MatchParams &params, const MatchOut &out,
                                                   std::int32_t i, std::int32_t kept, double best,
                                                   MatchCount &count) {
  (void)pattern;
  std::int32_t blocks[NB];
QIR_UNROLL(8)
  for (int j = 0; j < NB; ++j) blocks[j] = out.block_list[i + j];
  const typename Ops::V best_v = Ops::set1(best);
  // No branch depends on the outcome, which is hard to predict.
QIR_UNROLL(8)
  for (int j = 0; j < NB; ++j) {
    const std::int32_t block = blocks[j];
    const unsigned empty = nodes.empty_lanes[block] & 15u;
    const unsigned proved = (choice_holds<Ops>(nodes, params, out, block, best_v) | empty) & 15u;
    const unsigned below = static_cast<unsigned>(proved == 15u);
    count.outside += below * nodes.block_members[block];
    count.deferred += below * nodes.block_members[block];
    out.failing[block] = static_cast<std::uint8_t>(empty);
    out.deferred[block >> 4] |= static_cast<std::uint64_t>(~empty & 15u & (0u - below)) << ((block & 15) * 4);
    out.block_list[kept] = block;
    kept += static_cast<std::int32_t>(below ^ 1u);
  }
  return kept;
}

// The best CFV (not NaN) among the nodes of the `kept` blocks from list[i]
// on that passed the vigilance test; counts those whose CFV is NaN.
QIR_KERNEL_TARGET inline double best_after(const MatchOut &out, std::int32_t i, std::int32_t kept,
                                           double best, MatchCount &count) {
  std::int64_t unordered = 0;
  for (std::int32_t j = i; j < i + kept; ++j) {
    const std::int32_t slot = out.block_list[j] * block_lanes;
    const unsigned lanes = static_cast<unsigned>(out.passes_vt[slot >> 6] >> (slot & 63)) & 15u;
QIR_UNROLL(4)
    for (int lane = 0; lane < block_lanes; ++lane) {
      const double cfv = out.cfv[slot + lane];
      const bool in = ((lanes >> lane) & 1u) != 0;
      unordered += in & (cfv != cfv);
      best = in && cfv > best ? cfv : best;
    }
  }
  count.unordered += unordered;
  return best;
}

// A training search without memory: the listed blocks in list order, a
// run at a time; a run's blocks that provably cannot win against the best
// CFV of the runs evaluated before it are left out, the rest evaluated.
// Where no best bounds anything (none yet, or a NaN CFV among the nodes
// evaluated), the run is evaluated whole.
template <class Ops, int NB, class FloatOps, class Finish>
QIR_KERNEL_TARGET inline MatchCount match_choosing(const PackedView &nodes, const double *pattern,
                                                   const MatchParams &params, const Finish &finish,
                                                   const MatchOut &out, std::int32_t listed) {
  // Blocks per run: the first is short, so that a best is found soon.
  constexpr std::int32_t first_run = 4, run = 32;
  MatchCount count;
  double best = -1.0;
  for (std::int32_t begin = 0; begin < listed;) {
    const std::int32_t step = begin == 0 ? first_run : run;
    const std::int32_t end = listed - begin > step ? begin + step : listed;
    std::int32_t kept = end;
    // A NaN or infinite best, or one of at most 0, proves nothing.
    if (count.unordered == 0 && best > 0.0 && best < 1e300) {
      std::int32_t low = out.block_list[begin], high = low;
      for (std::int32_t j = begin + 1; j < end; ++j) {
        low = out.block_list[j] < low ? out.block_list[j] : low;
        high = out.block_list[j] > high ? out.block_list[j] : high;
      }
      single_distances<FloatOps>(nodes, out, low * block_lanes, (high + 1) * block_lanes);
      // In place: a block is listed again at or before its old place.
      kept = begin;
      std::int32_t i = begin;
      for (; i + NB <= end; i += NB)
        kept = choice_stage<Ops, NB>(nodes, pattern, params, out, i, kept, best, count);
      for (; i < end; ++i) kept = choice_stage<Ops, 1>(nodes, pattern, params, out, i, kept, best, count);
    }
    count.outside += finish(begin, kept);
    best = best_after(out, begin, kept - begin, best, count);
    begin = end;
  }
  return count;
}

// Evaluates the listed blocks list[i … end-1] whole; returns how many
// nodes lie outside.
template <class Ops, int NB>
struct FinishListed {
  const PackedView &nodes;
  const double *pattern;
  const Constants<Ops> &k;
  const MatchOut &out;
  QIR_KERNEL_TARGET std::int64_t operator()(std::int32_t i, std::int32_t end) const {
    std::int64_t outside = 0;
    for (; i + NB <= end; i += NB) outside += finish_listed<Ops, NB>(nodes, pattern, k, out, i, 0);
    for (; i < end; ++i) outside += finish_listed<Ops, 1>(nodes, pattern, k, out, i, 0);
    return outside;
  }
};

// The blocks out.block_list[0 … listed-1]; their bits in out.passes_vt must
// be clear.
template <class Ops, int NB, class FloatOps = Ops>
QIR_KERNEL_TARGET inline MatchCount match_list(const PackedView &nodes, const double *pattern,
                                               const MatchParams &params, const MatchOut &out,
                                               std::int32_t listed) {
  const Constants<Ops> k(params);
  if (params.choose && out.cfv != nullptr && nodes.choice_centre != nullptr)
    return match_choosing<Ops, NB, FloatOps>(nodes, pattern, params,
                                             FinishListed<Ops, NB>{nodes, pattern, k, out}, out, listed);
  if (params.cut && nodes.cuts.count > 0) return match_staged<Ops, NB>(nodes, pattern, k, out, listed);
  MatchCount count;
  std::int32_t i = 0;
  for (; i + NB <= listed; i += NB) count.outside += finish_listed<Ops, NB>(nodes, pattern, k, out, i, 0);
  for (; i < listed; ++i) count.outside += finish_listed<Ops, 1>(nodes, pattern, k, out, i, 0);
  return count;
}

}  // namespace
}  // namespace qir::kernels
