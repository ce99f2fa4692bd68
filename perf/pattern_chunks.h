// Classification split over worker threads. The patterns go in grains of a
// fixed size: any thread decides the patterns of a grain (no host call, no
// node record touched), and the calling thread replays the decisions in
// pattern order as they are done, making every host call itself, while the
// others decide the next grains. Results, console text and operation
// counts are those of one thread; memory is a fixed ring of decisions and
// one set of evaluation results per thread.
#pragma once

#include "node_competition.h"

#include <cstdint>
#include <functional>

namespace qir {

// Threads worth using for a pass: 1 (today's path) for small calls and for
// traces that list every node; else configured_threads().
std::int32_t pass_threads(std::int32_t N, std::int32_t M, std::int32_t P,
                          const CompetitionRules &rules);

// Calls label(j, result) on the calling thread for j = 0 … P-1 in order,
// after the replay of pattern j's decision.
using LabelPattern = std::function<void(std::int32_t, const CompetitionResult &)>;
void classify_in_chunks(PackedCompetition &competition, const CompetitionRules &rules,
                        std::int32_t P, const double *const *patterns, std::int32_t threads,
                        const LabelPattern &label);

// The same on the calling thread alone: the decisions of a few patterns at
// a time (several per pass over the nodes where the kernel reads them so),
// each replayed before the next few are decided. Needs replayable rules.
void classify_in_batches(PackedCompetition &competition, const CompetitionRules &rules,
                         std::int32_t P, const double *const *patterns,
                         const LabelPattern &label);

}  // namespace qir
