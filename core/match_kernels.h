// The evaluation kernels behind BlockMatcher, one per instruction set. Each
// fills MatchOut for every slot of blocks first … end-1 and returns how many
// of their nodes lie outside their radius (padding slots never do).
#pragma once

#include "node_block.h"
#include "portability.h"

#include <cstdint>

namespace qir::kernels {

using MatchFn = std::int64_t (*)(const PackedView &nodes, const double *pattern,
                                 const MatchParams &params, const MatchOut &out,
                                 std::int32_t first, std::int32_t end);

std::int64_t match_scalar(const PackedView &nodes, const double *pattern,
                          const MatchParams &params, const MatchOut &out,
                          std::int32_t first, std::int32_t end);
#if defined(QIR_X86_64)
std::int64_t match_sse2(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out,
                        std::int32_t first, std::int32_t end);
std::int64_t match_avx2(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out,
                        std::int32_t first, std::int32_t end);
#endif
#if defined(QIR_AARCH64)
std::int64_t match_neon(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out,
                        std::int32_t first, std::int32_t end);
#endif

}  // namespace qir::kernels
