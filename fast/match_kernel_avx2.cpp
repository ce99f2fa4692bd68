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
#include "avx2_ops.h"
#include "match_kernel_impl.h"

namespace qir::kernels {

QIR_TARGET_AVX2 MatchCount match_avx2(const PackedView &nodes, const double *pattern,
                                      const MatchParams &params, const MatchOut &out, std::int32_t listed) {
  return match_list<Avx2Ops, 4>(nodes, pattern, params, out, listed);
}

}  // namespace qir::kernels

#endif
