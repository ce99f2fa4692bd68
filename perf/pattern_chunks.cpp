#include "pattern_chunks.h"

#include "worker_pool.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace qir {

namespace {

// Below about a millisecond of work, starting threads costs more than it
// saves.
constexpr std::int64_t min_parallel_work = std::int64_t{1} << 20;  // node features
// Patterns a worker takes at a time, and per thread in one chunk.
constexpr std::int32_t grain = 16;
constexpr std::int32_t chunk_per_thread = 1024;

}  // namespace

std::int32_t pass_threads(std::int32_t N, std::int32_t M, std::int32_t P,
                          const CompetitionRules &rules) {
  if (!PackedCompetition::replayable(rules) || P < 2 * grain) return 1;
  const std::int64_t work = std::int64_t{N} * P * (std::int64_t{M} + 4);
  if (work < min_parallel_work) return 1;
  return std::min(configured_threads(), P / grain);
}

void classify_in_chunks(PackedCompetition &competition, const CompetitionRules &rules,
                        std::int32_t P, const double *const *patterns, std::int32_t threads,
                        const LabelPattern &label) {
  WorkerPool pool(threads);
  // Everything the workers use is obtained here, before they start.
  std::vector<BlockMatcher> matchers(static_cast<std::size_t>(pool.size()),
                                     BlockMatcher(competition.matcher().kernel()));
  for (BlockMatcher &matcher : matchers) competition.prepare(matcher);
  const std::int32_t chunk = std::min(P, chunk_per_thread * pool.size());
  std::vector<PatternDecision> decisions(static_cast<std::size_t>(chunk));
  for (std::int32_t start = 0; start < P; start += chunk) {
    const std::int32_t end = std::min(P, start + chunk);
    std::atomic<std::int32_t> next{start};
    pool.run([&](std::int32_t t) {
      for (std::int32_t first = next.fetch_add(grain); first < end; first = next.fetch_add(grain))
        for (std::int32_t j = first; j < std::min(end, first + grain); ++j)
          decisions[j - start] = competition.decide(patterns[j], rules, matchers[t]);
    });
    for (std::int32_t j = start; j < end; ++j) label(j, competition.replay(decisions[j - start]));
  }
}

}  // namespace qir
