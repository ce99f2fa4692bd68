#include "lean_cut.h"

#include "node.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qir {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// The kernel's operations, one lane at a time (no FMA: the build forbids
// contraction).
struct Lane {
  double radius, free_size, ratio, D, vt_tolerance, vt_threshold;
  bool point;
  double distance(double r) const {
    const double root = std::sqrt(r);
    return point ? root : root / ratio;
  }
  bool outside(double r) const { return distance(r) - inside_tolerance > radius; }
  double fit_outside(double r) const { return free_size - (distance(r) - radius); }
  bool passes(double fit) const { return fit / D + vt_tolerance >= vt_threshold; }
  bool passes_outside(double r) const { return passes(fit_outside(r)); }
};

// A radicand in [0, most_radicand] at which `holds` is true, near `guess`,
// for a `holds` true up to some radicand and false beyond; -1 when none is
// found.
template <class Holds>
double last_true(Holds holds, double guess) {
  if (!(guess >= 0.0)) guess = 0.0;
  if (guess > lean_cut::most_radicand) guess = lean_cut::most_radicand;
  for (double shrink : {1.0 - 0x1p-40, 1.0 - 0x1p-30, 1.0 - 0x1p-20, 0.0}) {
    if (holds(guess)) return guess;
    guess *= shrink;
  }
  return -1.0;
}

// A radicand in [0, most_radicand] at which `holds` is true, near `guess`,
// for a `holds` false up to some radicand and true beyond; +inf when none
// is found.
template <class Holds>
double first_true(Holds holds, double guess) {
  if (!(guess >= 0.0)) guess = 0.0;
  for (double grow : {1.0 + 0x1p-40, 1.0 + 0x1p-30, 1.0 + 0x1p-20}) {
    if (guess > lean_cut::most_radicand) break;
    if (holds(guess)) return guess;
    guess = guess * grow + 0x1p-1000;
  }
  return infinity;
}

bool within(double x, double low, double high) { return x >= low && x <= high; }

}  // namespace

bool LeanCuts::usable(const MatchParams &p) {
  return within(p.D, 0x1p-100, 0x1p100) && within(p.ratio, 0x1p-100, 0x1p100) &&
         std::isfinite(p.vt_tolerance) && std::isfinite(p.vt_threshold) && std::isfinite(p.alpha);
}

LeanCuts::Slot LeanCuts::slot_cuts(double radius, double free_size, bool point,
                                   const MatchParams &p) {
  const Lane lane{radius, free_size, p.ratio, p.D, p.vt_tolerance, p.vt_threshold, point};
  Slot s;
  const double rho = point ? 1.0 : p.ratio;
  // The radicands where the exact decisions turn, near enough to start
  // from; each threshold is checked by the kernel's own operations.
  const double edge = (radius + inside_tolerance) * rho;
  s.inside = last_true([&](double r) { return !lane.outside(r); }, edge * edge * (1.0 - 0x1p-40));
  s.outside = first_true([&](double r) { return lane.outside(r); }, edge * edge * (1.0 + 0x1p-40));
  const double reach = (free_size + radius - (p.vt_threshold - p.vt_tolerance) * p.D) * rho;
  const double vt_edge = reach > 0.0 ? reach * reach : -1.0;
  s.pass = last_true([&](double r) { return lane.passes_outside(r); }, vt_edge * (1.0 - 0x1p-40));
  s.fail = first_true([&](double r) { return !lane.passes_outside(r); }, vt_edge * (1.0 + 0x1p-40));
  // Narrowed to the radicands the CFV bound holds within (lean_cut.h).
  s.outside = std::max(s.outside, lean_cut::least_radicand);
  s.pass = std::min(s.pass, lean_cut::most_radicand);
  s.passes = lane.passes(free_size);
  s.cfv = free_size / (free_size + p.alpha);
  const double denominator = free_size + p.alpha;
  const bool bounded = within(radius, 0.0, 0x1p200) && within(free_size, 0.0, 0x1p200) &&
                       within(denominator, 0x1p-200, 0x1p200);
  s.reach = bounded ? ((radius + free_size) * (1.0 + 0x1p-44) + 0x1p-900) * rho : infinity;
  s.scale = bounded ? (rho * denominator) * (1.0 - 0x1p-46) : 0.0;
  return s;
}

bool LeanCuts::holds(const PackedNodes &nodes, const MatchParams &p) const {
  return stamp_ == nodes.stamp() && ratio_ == p.ratio && D_ == p.D &&
         vt_tolerance_ == p.vt_tolerance && vt_threshold_ == p.vt_threshold && alpha_ == p.alpha;
}

void LeanCuts::build(const PackedNodes &nodes, const MatchParams &p) {
  const std::size_t slots = static_cast<std::size_t>(nodes.slots());
  static_assert(LeanCutView::stride == terms * 8, "runs of eight slots");
  terms_.assign((slots + 7) / 8 * LeanCutView::stride, 0.0);
  passes_.resize(slots);
  const PackedView v = nodes.view();
  for (std::size_t k = 0; k < slots; ++k) {
    const Slot s = slot_cuts(v.radius[k], v.free_size[k], v.point_mask[k] != 0, p);
    // In the order the kernels read them.
    const double values[terms] = {s.reach, s.scale, s.outside, s.pass, s.inside, s.fail, s.cfv};
    for (int t = 0; t < terms; ++t) terms_[k / 8 * LeanCutView::stride + t * 8 + k % 8] = values[t];
    passes_[k] = s.passes ? ~std::uint64_t{0} : 0;
  }
  stamp_ = nodes.stamp();
  ratio_ = p.ratio;
  D_ = p.D;
  vt_tolerance_ = p.vt_tolerance;
  vt_threshold_ = p.vt_threshold;
  alpha_ = p.alpha;
}

LeanCutView LeanCuts::view() const {
  LeanCutView v;
  v.reach = terms_.data();
  v.scale = terms_.data() + 8;
  v.outside = terms_.data() + 16;
  v.pass = terms_.data() + 24;
  v.inside = terms_.data() + 32;
  v.fail = terms_.data() + 40;
  v.cfv = terms_.data() + 48;
  v.passes = passes_.data();
  return v;
}

}  // namespace qir
