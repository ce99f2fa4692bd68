// A few worker threads owned by one module call. The calling thread works
// too, as worker 0; the others only compute (they never call the host), and
// the destructor joins them, so no thread outlives the call.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qir {

// Threads a call may use: QIR_THREADS when set (environment_settings.h), else the
// processor count (at least 1, at most 256).
std::int32_t configured_threads();

class WorkerPool {
 public:
  // Starts up to threads - 1 helpers; fewer when the system refuses more.
  explicit WorkerPool(std::int32_t threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool &) = delete;
  WorkerPool &operator=(const WorkerPool &) = delete;

  // Threads taking part, the calling one included.
  std::int32_t size() const { return static_cast<std::int32_t>(helpers_.size()) + 1; }

  // Runs job(t) once for every t in 0 … size()-1 at the same time, t = 0
  // on the calling thread, and returns when all have finished. The first
  // exception thrown by any of them is thrown again here.
  void run(const std::function<void(std::int32_t)> &job);

 private:
  void serve(std::int32_t t);
  void record(std::exception_ptr error);

  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  const std::function<void(std::int32_t)> *job_ = nullptr;
  std::uint64_t generation_ = 0;
  std::int32_t pending_ = 0;
  bool stopping_ = false;
  std::exception_ptr error_;
  std::vector<std::thread> helpers_;
};

}  // namespace qir
