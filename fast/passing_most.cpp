#include "passing_most.h"

#include "portability.h"

#include <algorithm>
#include <limits>

#if defined(QIR_X86_64)
QIR_AVX512_INTRINSICS_BEGIN
#include <immintrin.h>
QIR_AVX512_INTRINSICS_END
#endif

namespace qir {
namespace {

constexpr double infinite = std::numeric_limits<double>::infinity();

std::int64_t count_bits(std::uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555u);
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
  return static_cast<std::int64_t>((x * 0x0101010101010101u) >> 56);
}

// Four lanes, each its own maximum, a lane outside `passing` taking -inf:
// no branch on a node's outcome and no store between nodes.
PassingMost portable(const std::uint64_t *passing, std::int32_t slots, const double *cfv,
                     double *word_most) {
  PassingMost out;
  out.most = -infinite;
  const std::int32_t words = (slots + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t bits = passing[w];
    word_most[w] = -infinite;
    if (bits == 0) continue;
    out.candidates += count_bits(bits);
    const std::int32_t end = std::min(64, slots - w * 64);
    const double *c = cfv + static_cast<std::ptrdiff_t>(w) * 64;
    double most0 = -infinite, most1 = -infinite, most2 = -infinite, most3 = -infinite;
    bool nan = false;
    for (std::int32_t k = 0; k < end; k += 4) {
      const std::uint64_t lanes = bits >> k;
      const double c0 = (lanes & 1u) != 0 ? c[k] : -infinite;
      const double c1 = (lanes & 2u) != 0 ? c[k + 1] : -infinite;
      const double c2 = (lanes & 4u) != 0 ? c[k + 2] : -infinite;
      const double c3 = (lanes & 8u) != 0 ? c[k + 3] : -infinite;
      nan |= (c0 != c0) | (c1 != c1) | (c2 != c2) | (c3 != c3);
      most0 = c0 > most0 ? c0 : most0;
      most1 = c1 > most1 ? c1 : most1;
      most2 = c2 > most2 ? c2 : most2;
      most3 = c3 > most3 ? c3 : most3;
    }
    out.unordered |= nan;
    word_most[w] = std::max(std::max(most0, most1), std::max(most2, most3));
    out.most = std::max(out.most, word_most[w]);
  }
  return out;
}

#if defined(QIR_X86_64)

// vmaxpd(c, m) is c > m ? c : m, so a NaN CFV leaves the maximum alone.
QIR_TARGET_AVX512 PassingMost avx512(const std::uint64_t *passing, std::int32_t slots,
                                     const double *cfv, double *word_most) {
  PassingMost out;
  out.most = -infinite;
  const __m512d none = _mm512_set1_pd(-infinite);
  const std::int32_t words = (slots + 63) / 64;
  __mmask8 nan = 0;
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t bits = passing[w];
    word_most[w] = -infinite;
    if (bits == 0) continue;
    out.candidates += count_bits(bits);
    const double *c = cfv + static_cast<std::ptrdiff_t>(w) * 64;
    __m512d most = none;
    // Bits beyond the nodes are clear: masked lanes are never read.
QIR_UNROLL(8)
    for (int k = 0; k < 8; ++k) {
      const __mmask8 lanes = static_cast<__mmask8>(bits >> (8 * k));
      const __m512d v = _mm512_mask_loadu_pd(none, lanes, c + 8 * k);
      nan |= _mm512_cmp_pd_mask(v, v, _CMP_UNORD_Q);
      most = _mm512_max_pd(v, most);
    }
    word_most[w] = _mm512_reduce_max_pd(most);
    out.most = std::max(out.most, word_most[w]);
  }
  out.unordered = nan != 0;
  return out;
}

// Lane masks of the sixteen patterns of four bits.
alignas(32) constexpr std::int64_t lane_masks[16][4] = {
    {0, 0, 0, 0},   {-1, 0, 0, 0},   {0, -1, 0, 0},   {-1, -1, 0, 0},
    {0, 0, -1, 0},  {-1, 0, -1, 0},  {0, -1, -1, 0},  {-1, -1, -1, 0},
    {0, 0, 0, -1},  {-1, 0, 0, -1},  {0, -1, 0, -1},  {-1, -1, 0, -1},
    {0, 0, -1, -1}, {-1, 0, -1, -1}, {0, -1, -1, -1}, {-1, -1, -1, -1}};

// The four CFVs from c, those outside `lanes` (four bits) read as -inf.
QIR_TARGET_AVX2 inline __m256d four_passing(const double *c, std::uint64_t lanes, __m256d none) {
  const __m256i mask =
      _mm256_load_si256(reinterpret_cast<const __m256i *>(lane_masks[lanes & 15u]));
  return _mm256_blendv_pd(none, _mm256_maskload_pd(c, mask), _mm256_castsi256_pd(mask));
}

QIR_TARGET_AVX2 PassingMost avx2(const std::uint64_t *passing, std::int32_t slots,
                                 const double *cfv, double *word_most) {
  PassingMost out;
  out.most = -infinite;
  const __m256d none = _mm256_set1_pd(-infinite);
  const std::int32_t words = (slots + 63) / 64;
  __m256d nan = _mm256_setzero_pd();
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t bits = passing[w];
    word_most[w] = -infinite;
    if (bits == 0) continue;
    out.candidates += count_bits(bits);
    const std::int32_t end = std::min(64, slots - w * 64);
    const double *c = cfv + static_cast<std::ptrdiff_t>(w) * 64;
    __m256d most0 = none, most1 = none;
    std::int32_t k = 0;
    for (; k + 8 <= end; k += 8) {
      const __m256d v0 = four_passing(c + k, bits >> k, none);
      const __m256d v1 = four_passing(c + k + 4, bits >> (k + 4), none);
      nan = _mm256_or_pd(nan, _mm256_or_pd(_mm256_cmp_pd(v0, v0, _CMP_UNORD_Q),
                                           _mm256_cmp_pd(v1, v1, _CMP_UNORD_Q)));
      most0 = _mm256_max_pd(v0, most0);
      most1 = _mm256_max_pd(v1, most1);
    }
    for (; k < end; k += 4) {
      const __m256d v0 = four_passing(c + k, bits >> k, none);
      nan = _mm256_or_pd(nan, _mm256_cmp_pd(v0, v0, _CMP_UNORD_Q));
      most0 = _mm256_max_pd(v0, most0);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, _mm256_max_pd(most0, most1));
    word_most[w] = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    out.most = std::max(out.most, word_most[w]);
  }
  out.unordered = _mm256_movemask_pd(nan) != 0;
  return out;
}

#endif

}  // namespace

PassingMost passing_most(MatchKernel kernel, const std::uint64_t *passing, std::int32_t slots,
                         const double *cfv, double *word_most) {
#if defined(QIR_X86_64)
  if (kernel == MatchKernel::avx512) return avx512(passing, slots, cfv, word_most);
  if (kernel == MatchKernel::avx2) return avx2(passing, slots, cfv, word_most);
#endif
  return portable(passing, slots, cfv, word_most);
}

}  // namespace qir
