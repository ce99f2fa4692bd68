// How far below a pattern's best choice value (and below its winner's
// MFV) the nodes of a block stayed at the pattern's last search, kept in
// four bits each. A block whose nodes have not changed since gives them
// again bit for bit (the same computation on the same values), so the next
// search of that pattern need not evaluate it once a node already
// evaluated beats the bound: its nodes can neither win nor tie (the test is
// strict). They are counted as their evaluation would have been (each
// passes the vigilance test, or the block keeps no gap; the nodes the
// pattern lay inside, kept with the block's failing lanes, lie inside
// again and the others outside), stay eligible, and are evaluated during match tracking only where the MFV
// bound cannot show them dropping out.
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

// A gap of q steps from `old_ref`, measured again from `ref`: what
// gap_steps(ref, upper_bound(old_ref, q)) gives, for every q at once.
struct GapRebase {
  std::uint8_t steps[most_steps + 1] = {};
  GapRebase() = default;
  GapRebase(double old_ref, double ref) {
    for (std::uint32_t q = 1; q <= most_steps; ++q)
      steps[q] = static_cast<std::uint8_t>(gap_steps(ref, upper_bound(old_ref, q)));
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
