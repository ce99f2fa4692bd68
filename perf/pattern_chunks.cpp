#include "pattern_chunks.h"

#include "worker_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace qir {

namespace {

// Below about a millisecond of work, starting threads costs more than it
// saves.
constexpr std::int64_t min_parallel_work = std::int64_t{1} << 20;  // node features
// Patterns a thread takes at a time, and grains in flight per thread.
constexpr std::int32_t grain = 16;
constexpr std::int32_t grains_per_thread = 128;

// A thread that must wait for another's progress yields a few times (a
// grain in hand is usually done by then), then sleeps until woken: on a
// busy machine the other thread may be off the processor for a whole time
// slice, and yielding all that while burned processor time.
class Progress {
 public:
  template <class Ready>
  void wait(const Ready &ready) {
    constexpr int yields = 32;
    for (int k = 0; k < yields; ++k) {
      if (ready()) return;
      std::this_thread::yield();
    }
    // Announced before the last look under the lock; made() looks for an
    // announcement after its change (the fences on both sides order the
    // two), so either this look sees the change or made() wakes it.
    waiting_.fetch_add(1);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, ready);
    }
    waiting_.fetch_sub(1);
  }

  // After a change a waiting thread may be waiting for.
  void made() {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (waiting_.load(std::memory_order_relaxed) == 0) return;
    { const std::lock_guard<std::mutex> lock(mutex_); }
    changed_.notify_all();
  }

 private:
  std::atomic<std::int32_t> waiting_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
};

// The decisions of a ring of grains: grain g sits in slot g % window until
// the calling thread has replayed it. Any thread computes grains; only the
// calling thread replays them, in order, while the others compute ahead,
// so the replay overlaps the computing instead of waiting for it.
class Pipeline {
 public:
  Pipeline(PackedCompetition &competition, const CompetitionRules &rules, std::int32_t P,
           const double *const *patterns, std::int32_t threads)
      : competition_(competition),
        rules_(rules),
        P_(P),
        patterns_(patterns),
        grains_((P + grain - 1) / grain),
        window_(std::min(grains_, grains_per_thread * threads)),
        decisions_(static_cast<std::size_t>(window_) * grain),
        done_(static_cast<std::size_t>(window_)) {
    for (auto &d : done_) d.store(-1, std::memory_order_relaxed);
  }

  // The work of thread t (0: the calling thread, which also replays).
  void work(std::int32_t t, BlockMatcher &matcher, const LabelPattern &label) {
    try {
      if (t == 0)
        replay_all(matcher, label);
      else
        compute_all(matcher);
    } catch (...) {
      stop_.store(true);
      progress_.made();
      throw;
    }
  }

 private:
  void compute(std::int32_t g, BlockMatcher &matcher) {
    const std::int32_t first = g * grain;
    competition_.decide_batch(patterns_ + first, std::min(P_, first + grain) - first, rules_,
                              matcher, &decisions_[static_cast<std::size_t>(g % window_) * grain]);
    done_[g % window_].store(g, std::memory_order_release);
    progress_.made();
  }

  // A helper takes the next grain and waits, if need be, for its slot.
  void compute_all(BlockMatcher &matcher) {
    for (std::int32_t g = next_.fetch_add(1); g < grains_; g = next_.fetch_add(1)) {
      progress_.wait([&] {
        return g < replayed_.load(std::memory_order_acquire) + window_ || stop_.load();
      });
      if (stop_.load()) return;
      compute(g, matcher);
    }
  }

  // The calling thread replays grain after grain as each is done, and
  // computes one itself when the next is not done yet and a slot is free.
  void replay_all(BlockMatcher &matcher, const LabelPattern &label) {
    for (std::int32_t r = 0; r < grains_;) {
      if (done_[r % window_].load(std::memory_order_acquire) == r) {
        const PatternDecision *slot = &decisions_[static_cast<std::size_t>(r % window_) * grain];
        for (std::int32_t j = r * grain; j < std::min(P_, (r + 1) * grain); ++j)
          label(j, competition_.replay(*slot++));
        replayed_.store(++r, std::memory_order_release);
        progress_.made();
        continue;
      }
      if (stop_.load()) return;  // a helper failed: its error ends the call
      std::int32_t g = next_.load();
      if (g < grains_ && g < r + window_) {
        if (next_.compare_exchange_weak(g, g + 1)) compute(g, matcher);
        continue;
      }
      // Every grain it may take is taken: only a helper finishing grain r
      // (or failing) lets it go on.
      progress_.wait([&] {
        return done_[r % window_].load(std::memory_order_acquire) == r || stop_.load();
      });
    }
  }

  PackedCompetition &competition_;
  const CompetitionRules &rules_;
  const std::int32_t P_;
  const double *const *patterns_;
  const std::int32_t grains_;
  const std::int32_t window_;
  std::vector<PatternDecision> decisions_;
  std::vector<std::atomic<std::int32_t>> done_;  // per slot: the grain done there, or -1
  std::atomic<std::int32_t> next_{0};      // the next grain nobody has taken
  std::atomic<std::int32_t> replayed_{0};  // grains replayed so far
  std::atomic<bool> stop_{false};
  Progress progress_;
};

}  // namespace

std::int32_t pass_threads(std::int32_t N, std::int32_t M, std::int32_t P,
                          const CompetitionRules &rules) {
  if (!PackedCompetition::replayable(rules) || P < 2 * grain) return 1;
  const std::int64_t work = std::int64_t{N} * P * (std::int64_t{M} + 4);
  if (work < min_parallel_work) return 1;
  return std::min(configured_threads(), P / grain);
}

void classify_in_batches(PackedCompetition &competition, const CompetitionRules &rules,
                         std::int32_t P, const double *const *patterns,
                         const LabelPattern &label) {
  PatternDecision decisions[lean_batch_patterns];
  for (std::int32_t first = 0; first < P; first += lean_batch_patterns) {
    const std::int32_t count = std::min(lean_batch_patterns, P - first);
    competition.decide_batch(patterns + first, count, rules, competition.matcher(), decisions);
    for (std::int32_t q = 0; q < count; ++q) label(first + q, competition.replay(decisions[q]));
  }
}

void classify_in_chunks(PackedCompetition &competition, const CompetitionRules &rules,
                        std::int32_t P, const double *const *patterns, std::int32_t threads,
                        const LabelPattern &label) {
  WorkerPool pool(threads);
  // Everything the threads use is obtained here, before they start.
  std::vector<BlockMatcher> matchers(static_cast<std::size_t>(pool.size()),
                                     BlockMatcher(competition.matcher().kernel()));
  for (BlockMatcher &matcher : matchers) competition.prepare(matcher);
  Pipeline pipeline(competition, rules, P, patterns, pool.size());
  pool.run([&](std::int32_t t) { pipeline.work(t, matchers[t], label); });
}

}  // namespace qir
