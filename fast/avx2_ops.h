// The four-lane AVX2 operations the evaluation kernel is written over, for
// the AVX2 kernel and for the blocks the AVX-512 kernel leaves to four
// lanes. Like match_kernel_impl.h, everything here has internal linkage and
// carries the including file's target attribute (QIR_KERNEL_TARGET), so
// each file gets copies compiled for its own instruction set. Include it
// after <immintrin.h>.
#pragma once

#include "portability.h"

#include <cstdint>

#ifndef QIR_KERNEL_TARGET
#error "avx2_ops.h needs the including file's QIR_KERNEL_TARGET"
#endif

namespace qir::kernels {
namespace {

struct Avx2Ops {
  using V = __m256d;
  using Mask = __m256d;
  static constexpr int width = 4;
  QIR_KERNEL_TARGET static V set1(double x) { return _mm256_set1_pd(x); }
  QIR_KERNEL_TARGET static V load(const double *p) { return _mm256_load_pd(p); }
  QIR_KERNEL_TARGET static V load_float(const float *p) { return _mm256_cvtps_pd(_mm_load_ps(p)); }
  // Single precision, for the choice bounds' distances.
  using F = __m256;
  static constexpr int float_width = 8;
  QIR_KERNEL_TARGET static F set1f(float x) { return _mm256_set1_ps(x); }
  QIR_KERNEL_TARGET static F loadf(const float *p) { return _mm256_loadu_ps(p); }
  QIR_KERNEL_TARGET static void storef(float *p, F v) { _mm256_storeu_ps(p, v); }
  QIR_KERNEL_TARGET static F addf(F a, F b) { return _mm256_add_ps(a, b); }
  QIR_KERNEL_TARGET static F subf(F a, F b) { return _mm256_sub_ps(a, b); }
  QIR_KERNEL_TARGET static F mulf(F a, F b) { return _mm256_mul_ps(a, b); }
  QIR_KERNEL_TARGET static void store(double *p, V v) { _mm256_store_pd(p, v); }
  QIR_KERNEL_TARGET static V add(V a, V b) { return _mm256_add_pd(a, b); }
  QIR_KERNEL_TARGET static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
  QIR_KERNEL_TARGET static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  QIR_KERNEL_TARGET static V div(V a, V b) { return _mm256_div_pd(a, b); }
  QIR_KERNEL_TARGET static V sqrt(V a) { return _mm256_sqrt_pd(a); }
  QIR_KERNEL_TARGET static Mask load_mask(const std::uint64_t *p) {
    return _mm256_castsi256_pd(_mm256_load_si256(reinterpret_cast<const __m256i *>(p)));
  }
  QIR_KERNEL_TARGET static V select(Mask m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
  // Ordered, non-signalling: false when either side is NaN.
  QIR_KERNEL_TARGET static Mask greater(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  QIR_KERNEL_TARGET static Mask greater_equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  QIR_KERNEL_TARGET static unsigned bits(Mask m) {
    return static_cast<unsigned>(_mm256_movemask_pd(m));
  }
  QIR_KERNEL_TARGET static Mask both(Mask a, Mask b) { return _mm256_and_pd(a, b); }
  QIR_KERNEL_TARGET static Mask either(Mask a, Mask b) { return _mm256_or_pd(a, b); }
};

}  // namespace
}  // namespace qir::kernels
