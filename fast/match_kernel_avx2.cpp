// The AVX2 kernel: four lanes per register, one block per register. Only
// the functions of this file are compiled for AVX2 (by their target
// attribute, not by build flags), and they run only where the processor
// reports AVX2 (see node_block.cpp). FMA stays off: a fused multiply-add
// would round differently.
#include "portability.h"

#if defined(QIR_X86_64)

#include <immintrin.h>

#include <cstdint>

#define QIR_KERNEL_TARGET QIR_TARGET_AVX2
#include "match_kernel_impl.h"

namespace qir::kernels {
namespace {

struct Avx2Ops {
  using V = __m256d;
  using Mask = __m256d;
  static constexpr int width = 4;
  QIR_TARGET_AVX2 static V set1(double x) { return _mm256_set1_pd(x); }
  QIR_TARGET_AVX2 static V load(const double *p) { return _mm256_load_pd(p); }
  QIR_TARGET_AVX2 static void store(double *p, V v) { _mm256_store_pd(p, v); }
  QIR_TARGET_AVX2 static V add(V a, V b) { return _mm256_add_pd(a, b); }
  QIR_TARGET_AVX2 static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
  QIR_TARGET_AVX2 static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  QIR_TARGET_AVX2 static V div(V a, V b) { return _mm256_div_pd(a, b); }
  QIR_TARGET_AVX2 static V sqrt(V a) { return _mm256_sqrt_pd(a); }
  QIR_TARGET_AVX2 static Mask load_mask(const std::uint64_t *p) {
    return _mm256_castsi256_pd(_mm256_load_si256(reinterpret_cast<const __m256i *>(p)));
  }
  QIR_TARGET_AVX2 static V select(Mask m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
  // Ordered, non-signalling: false when either side is NaN.
  QIR_TARGET_AVX2 static Mask greater(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  QIR_TARGET_AVX2 static Mask greater_equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  QIR_TARGET_AVX2 static unsigned bits(Mask m) {
    return static_cast<unsigned>(_mm256_movemask_pd(m));
  }
};

}  // namespace

QIR_TARGET_AVX2 MatchCount match_avx2(const PackedView &nodes, const double *pattern,
                                      const MatchParams &params, const MatchOut &out, std::int32_t listed) {
  return match_list<Avx2Ops, 4>(nodes, pattern, params, out, listed);
}

}  // namespace qir::kernels

#endif
