// The portable kernel: one lane at a time, for processors without the SIMD
// kernels and as a check on them.
#include "match_kernel_impl.h"

#include <cmath>

namespace qir::kernels {
namespace {

struct ScalarOps {
  using V = double;
  using Mask = bool;
  static constexpr int width = 1;
  static V set1(double x) { return x; }
  static V load(const double *p) { return *p; }
  static V load_float(const float *p) { return static_cast<double>(*p); }
  // Single precision, for the choice bounds' distances.
  using F = float;
  static constexpr int float_width = 1;
  static F set1f(float x) { return x; }
  static F loadf(const float *p) { return *p; }
  static void storef(float *p, F v) { *p = v; }
  static F addf(F a, F b) { return a + b; }
  static F subf(F a, F b) { return a - b; }
  static F mulf(F a, F b) { return a * b; }
  static void store(double *p, V v) { *p = v; }
  static V add(V a, V b) { return a + b; }
  static V sub(V a, V b) { return a - b; }
  static V mul(V a, V b) { return a * b; }
  static V div(V a, V b) { return a / b; }
  static V sqrt(V a) { return std::sqrt(a); }
  static Mask load_mask(const std::uint64_t *p) { return *p != 0; }
  static V select(Mask m, V a, V b) { return m ? a : b; }
  static Mask greater(V a, V b) { return a > b; }
  static Mask greater_equal(V a, V b) { return a >= b; }
  static unsigned bits(Mask m) { return m ? 1u : 0u; }
  static Mask both(Mask a, Mask b) { return a && b; }
  static Mask either(Mask a, Mask b) { return a || b; }
};

}  // namespace

MatchCount match_scalar(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out, std::int32_t listed) {
  return match_list<ScalarOps, 1>(nodes, pattern, params, out, listed);
}

}  // namespace qir::kernels
