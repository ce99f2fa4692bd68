// The evaluation kernels behind BlockMatcher, one per instruction set. Each
// evaluates the blocks out.block_list[0 … listed-1] (and uses the list as
// its work space): it fills MatchOut for every slot of the blocks it does
// not cut, notes each block's failing lanes, and returns what it counted.
#pragma once

#include "node_block.h"
#include "portability.h"

#include <cstdint>

namespace qir::kernels {

using MatchFn = MatchCount (*)(const PackedView &nodes, const double *pattern,
                               const MatchParams &params, const MatchOut &out, std::int32_t listed);

MatchCount match_scalar(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out, std::int32_t listed);
#if defined(QIR_X86_64)
MatchCount match_sse2(const PackedView &nodes, const double *pattern,
                      const MatchParams &params, const MatchOut &out, std::int32_t listed);
MatchCount match_avx2(const PackedView &nodes, const double *pattern,
                      const MatchParams &params, const MatchOut &out, std::int32_t listed);
MatchCount match_avx512(const PackedView &nodes, const double *pattern,
                        const MatchParams &params, const MatchOut &out, std::int32_t listed);
// Lean evaluations (every block listed, no cut points) of `count` (1-4)
// patterns in one pass over the blocks, each into its own winner lanes and
// count: the same values as one pattern at a time.
void match_avx512_lean_batch(const PackedView &nodes, const double *const *patterns,
                             std::int32_t count, const MatchParams &params, const MatchOut &out,
                             WinnerLanes *const *winners, MatchCount *counts, std::int32_t listed);
// Lean evaluations (CT as the first winner's) of `count` (1 to
// lean_wide_patterns) patterns of at most lean_wide_features features, the
// patterns across the lanes, over every node: `slots` lists the ellipsoids'
// slots, then the points'. Each winner gets its best in lane 0 (the others
// as reset), and the same winner and counts as one pattern alone.
void match_avx512_lean_wide(const PackedView &nodes, const double *const *patterns,
                            std::int32_t count, const MatchParams &params,
                            const std::int32_t *slots, std::int32_t ellipsoids,
                            std::int32_t points, WinnerLanes *const *winners,
                            MatchCount *counts);
#endif
#if defined(QIR_AARCH64)
MatchCount match_neon(const PackedView &nodes, const double *pattern,
                      const MatchParams &params, const MatchOut &out, std::int32_t listed);
#endif

}  // namespace qir::kernels
