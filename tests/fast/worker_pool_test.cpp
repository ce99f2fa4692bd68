// The call-owned thread pool: every worker runs each job once, a failure
// in any worker reaches the caller, and the pool can be used again after.
#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace qir {
namespace {

TEST(WorkerPool, RunsEveryWorkerOncePerJobAndPassesOnFailures) {
  WorkerPool pool(3);
  ASSERT_GE(pool.size(), 1);
  std::vector<std::atomic<int>> runs(static_cast<std::size_t>(pool.size()));
  for (int round = 0; round < 50; ++round) pool.run([&](std::int32_t t) { runs[t] += 1; });
  for (auto &r : runs) EXPECT_EQ(r.load(), 50);
  const std::int32_t failing = pool.size() - 1;  // a helper where there is one
  EXPECT_THROW(pool.run([&](std::int32_t t) {
                 if (t == failing) throw std::bad_alloc();
               }),
               std::bad_alloc);
  std::atomic<int> after{0};
  pool.run([&](std::int32_t) { after += 1; });
  EXPECT_EQ(after.load(), pool.size());
}

TEST(WorkerPool, ThreadCountComesFromTheEnvironment) {
  setenv("QIR_THREADS", "3", 1);
  EXPECT_EQ(configured_threads(), 3);
  for (const char *bad : {"0", "-2", "x", "2x", "100000"}) {
    setenv("QIR_THREADS", bad, 1);
    EXPECT_GE(configured_threads(), 1) << bad;
    EXPECT_LE(configured_threads(), 256) << bad;
  }
  setenv("QIR_THREADS", "1", 1);
  EXPECT_EQ(configured_threads(), 1);
  unsetenv("QIR_THREADS");
}

}  // namespace
}  // namespace qir
