#include "worker_pool.h"

#include "environment_settings.h"

#include <algorithm>
#include <system_error>

namespace qir {

std::int32_t configured_threads() {
  constexpr unsigned most = 256;
  if (const std::int32_t n = requested_threads(); n > 0) return n;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<std::int32_t>(std::min(cores, most));
}

WorkerPool::WorkerPool(std::int32_t threads) {
  helpers_.reserve(threads > 1 ? static_cast<std::size_t>(threads - 1) : 0);
  for (std::int32_t t = 1; t < threads; ++t) {
    try {
      helpers_.emplace_back([this, t] { serve(t); });
    } catch (const std::system_error &) {
      break;  // the threads started so far will do
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  start_.notify_all();
  for (std::thread &helper : helpers_) helper.join();
}

void WorkerPool::record(std::exception_ptr error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!error_) error_ = error;
}

void WorkerPool::serve(std::int32_t t) {
  std::uint64_t seen = 0;
  for (;;) {
    const std::function<void(std::int32_t)> *job = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_;
    }
    try {
      (*job)(t);
    } catch (...) {
      record(std::current_exception());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (--pending_ == 0) done_.notify_one();
  }
}

void WorkerPool::run(const std::function<void(std::int32_t)> &job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
    pending_ = static_cast<std::int32_t>(helpers_.size());
    error_ = nullptr;
    ++generation_;
  }
  start_.notify_all();
  try {
    job(0);
  } catch (...) {
    record(std::current_exception());
  }
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return pending_ == 0; });
  job_ = nullptr;
  if (error_) std::rethrow_exception(error_);
}

}  // namespace qir
