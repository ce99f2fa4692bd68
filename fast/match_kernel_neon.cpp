// The ARM64 kernel: NEON, two lanes per register, which every ARM64
// processor runs. Multiplications and additions stay separate instructions
// (never the fused vfmaq), so each lane rounds as the scalar code does.
#include "portability.h"

#if defined(QIR_AARCH64)

#include "match_kernel_impl.h"

#include <arm_neon.h>

namespace qir::kernels {
namespace {

struct NeonOps {
  using V = float64x2_t;
  using Mask = uint64x2_t;
  static constexpr int width = 2;
  static V set1(double x) { return vdupq_n_f64(x); }
  static V load(const double *p) { return vld1q_f64(p); }
  static V load_float(const float *p) { return vcvt_f64_f32(vld1_f32(p)); }
  // Single precision, for the choice bounds' distances.
  using F = float32x4_t;
  static constexpr int float_width = 4;
  static F set1f(float x) { return vdupq_n_f32(x); }
  static F loadf(const float *p) { return vld1q_f32(p); }
  static void storef(float *p, F v) { vst1q_f32(p, v); }
  static F addf(F a, F b) { return vaddq_f32(a, b); }
  static F subf(F a, F b) { return vsubq_f32(a, b); }
  static F mulf(F a, F b) { return vmulq_f32(a, b); }
  static void store(double *p, V v) { vst1q_f64(p, v); }
  static V add(V a, V b) { return vaddq_f64(a, b); }
  static V sub(V a, V b) { return vsubq_f64(a, b); }
  static V mul(V a, V b) { return vmulq_f64(a, b); }
  static V div(V a, V b) { return vdivq_f64(a, b); }
  static V sqrt(V a) { return vsqrtq_f64(a); }
  static Mask load_mask(const std::uint64_t *p) { return vld1q_u64(p); }
  static V select(Mask m, V a, V b) { return vbslq_f64(m, a, b); }
  // Ordered comparisons: false when either side is NaN, like the scalar ones.
  static Mask greater(V a, V b) { return vcgtq_f64(a, b); }
  static Mask greater_equal(V a, V b) { return vcgeq_f64(a, b); }
  static Mask both(Mask a, Mask b) { return vandq_u64(a, b); }
  static Mask either(Mask a, Mask b) { return vorrq_u64(a, b); }
  static unsigned bits(Mask m) {
    return static_cast<unsigned>((vgetq_lane_u64(m, 0) & 1u) | ((vgetq_lane_u64(m, 1) & 1u) << 1));
  }
};

}  // namespace

MatchCount match_neon(const PackedView &nodes, const double *pattern,
                      const MatchParams &params, const MatchOut &out, std::int32_t listed) {
  return match_list<NeonOps, 2>(nodes, pattern, params, out, listed);
}

}  // namespace qir::kernels

#endif
