// The evaluation kernels behind BlockMatcher, one per instruction set. Each
// fills MatchOut for every slot of blocks first … end-1 that it does not
// cut and returns what it counted.
#pragma once

#include "node_block.h"
#include "portability.h"

#include <cstdint>

namespace qir::kernels {

using MatchFn = MatchCount (*)(const PackedView &nodes, const double *pattern,
                                 const MatchParams &params, const MatchOut &out,
                                 std::int32_t first, std::int32_t end);

MatchCount match_scalar(const PackedView &nodes, const double *pattern,
                          const MatchParams &params, const MatchOut &out,
                          std::int32_t first, std::int32_t end);
#if defined(QIR_X86_64)
MatchCount match_sse2(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out,
                        std::int32_t first, std::int32_t end);
MatchCount match_avx2(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out,
                        std::int32_t first, std::int32_t end);
#endif
#if defined(QIR_AARCH64)
MatchCount match_neon(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out,
                        std::int32_t first, std::int32_t end);
#endif

}  // namespace qir::kernels
