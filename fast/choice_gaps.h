// How far below a pattern's best choice value (and below its winner's
// MFV) the nodes of a block stayed at the pattern's last search, kept in
// four bits each. A block whose nodes have not changed since gives them
// again bit for bit (the same computation on the same values), so the next
// search of that pattern need not evaluate it once a node already
// evaluated beats the bound: its nodes can neither win nor tie (the test is
// strict). They are counted as their evaluation would have been (each
// passes the vigilance test, or the block keeps no gap; the nodes the
// pattern lay inside, kept with the block's failing lanes, lie inside
// again and the others outside), stay eligible, and are evaluated during
// match tracking only where the MFV bound cannot show them dropping out.
//
// Why the rounding is safe. A gap of q steps (a power of two, so q * step
// and value / step are exact) means value <= ref - q step in exact
// arithmetic. gap_steps takes q = floor((fl(ref - value) - s) / step),
// s = 1e-9 (|ref| + |value|): the rounding of the subtraction and of taking
// s off are below u |ref - value| each, far below s, so q step <= ref -
// value holds exactly. upper_bound returns fl(fl(ref - q step) + s') with
// s' = 1e-9 (|ref| + q step), which is at least ref - q step for the same
// reason. A NaN anywhere gives no gap (q = 0, which means "no bound").
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qir {

constexpr double choice_step = 1.0 / 4096.0;
constexpr std::uint32_t most_steps = 15;

inline double choice_slack(double a, double b) {
  return 1e-9 * (std::fabs(a) + std::fabs(b)) + 1e-300;
}

// The largest q <= 15 with value <= ref - q step for certain; 0 when none.
inline std::uint32_t gap_steps(double ref, double value) {
  const double gap = (ref - value) - choice_slack(ref, value);
  if (!(gap >= choice_step)) return 0;
  if (gap >= most_steps * choice_step) return most_steps;
  return static_cast<std::uint32_t>(gap / choice_step);
}

// At least ref - q step.
inline double upper_bound(double ref, std::uint32_t q) {
  const double below = static_cast<double>(q) * choice_step;
  return (ref - below) + choice_slack(ref, below);
}

// The gaps q (0 … 15) whose bound from `ref` lies strictly below `best`,
// as bit q: the very test upper_bound(ref, q) < best, made once for every
// q rather than once per block. Gap 0 bounds nothing and is never set.
inline std::uint32_t gaps_below(double ref, double best) {
  std::uint32_t bits = 0;
  for (std::uint32_t q = 1; q <= most_steps; ++q)
    bits |= static_cast<std::uint32_t>(upper_bound(ref, q) < best) << q;
  return bits;
}

// A gap of q steps from `old_ref`, measured again from `ref`, for every q
// at once. With rise <= ref - old_ref for certain (the slack covers the
// rounding, as in gap_steps) and s = floor(rise / step), a value <= old_ref
// - q step is <= ref - rise - q step <= ref - (q + s) step: the gap becomes
// q + s, none once that is not positive, at most 15. A NaN or infinity
// anywhere gives no gaps; a gap of 0 stays 0.
struct GapRebase {
  std::uint8_t steps[most_steps + 1] = {};
  GapRebase() = default;
  GapRebase(double old_ref, double ref) {
    const double rise = (ref - old_ref) - choice_slack(ref, old_ref);
    if (!std::isfinite(rise)) return;
    // Scaling by a power of two is exact; the clamp also tames infinities.
    const double s = std::floor(rise / choice_step);
    const auto shift = static_cast<std::int32_t>(std::max(-16.0, std::min(16.0, s)));
    for (std::int32_t q = 1; q <= static_cast<std::int32_t>(most_steps); ++q)
      steps[q] = static_cast<std::uint8_t>(
          std::max(0, std::min(static_cast<std::int32_t>(most_steps), q + shift)));
  }
  // Identity: the reference did not move.
  static GapRebase same() {
    GapRebase r;
    for (std::uint32_t q = 0; q <= most_steps; ++q) r.steps[q] = static_cast<std::uint8_t>(q);
    return r;
  }
};

// The byte kept per block: CFV gap in the low four bits, MFV gap in the
// high four.
inline std::uint32_t cfv_steps(std::uint8_t gaps) { return gaps & 15u; }
inline std::uint32_t mfv_steps(std::uint8_t gaps) { return gaps >> 4; }
inline std::uint8_t pack_gaps(std::uint32_t cfv, std::uint32_t mfv) {
  return static_cast<std::uint8_t>(cfv | (mfv << 4));
}

}  // namespace qir
