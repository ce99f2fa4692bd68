// The x86-64 baseline kernel: SSE2, two lanes per register, which every
// x86-64 processor runs.
#include "portability.h"

#if defined(QIR_X86_64)

#include "match_kernel_impl.h"

#include <emmintrin.h>

namespace qir::kernels {
namespace {

struct Sse2Ops {
  using V = __m128d;
  using Mask = __m128d;
  static constexpr int width = 2;
  static V set1(double x) { return _mm_set1_pd(x); }
  static V load(const double *p) { return _mm_load_pd(p); }
  static V load_float(const float *p) {
    return _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double *>(p))));
  }
  // Single precision, for the choice bounds' distances.
  using F = __m128;
  static constexpr int float_width = 4;
  static F set1f(float x) { return _mm_set1_ps(x); }
  static F loadf(const float *p) { return _mm_loadu_ps(p); }
  static void storef(float *p, F v) { _mm_storeu_ps(p, v); }
  static F addf(F a, F b) { return _mm_add_ps(a, b); }
  static F subf(F a, F b) { return _mm_sub_ps(a, b); }
  static F mulf(F a, F b) { return _mm_mul_ps(a, b); }
  static void store(double *p, V v) { _mm_store_pd(p, v); }
  static V add(V a, V b) { return _mm_add_pd(a, b); }
  static V sub(V a, V b) { return _mm_sub_pd(a, b); }
  static V mul(V a, V b) { return _mm_mul_pd(a, b); }
  static V div(V a, V b) { return _mm_div_pd(a, b); }
  static V sqrt(V a) { return _mm_sqrt_pd(a); }
  static Mask load_mask(const std::uint64_t *p) {
    return _mm_castsi128_pd(_mm_load_si128(reinterpret_cast<const __m128i *>(p)));
  }
  static V select(Mask m, V a, V b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
  // Ordered comparisons: false when either side is NaN, like the scalar ones.
  static Mask greater(V a, V b) { return _mm_cmpgt_pd(a, b); }
  static Mask greater_equal(V a, V b) { return _mm_cmpge_pd(a, b); }
  static unsigned bits(Mask m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
  static Mask both(Mask a, Mask b) { return _mm_and_pd(a, b); }
  static Mask either(Mask a, Mask b) { return _mm_or_pd(a, b); }
};

}  // namespace

MatchCount match_sse2(const PackedView &nodes, const double *pattern,
                      const MatchParams &params, const MatchOut &out, std::int32_t listed) {
  return match_list<Sse2Ops, 2>(nodes, pattern, params, out, listed);
}

}  // namespace qir::kernels

#endif
