// Gateway services and the call boundary: console and warning capture, flop
// reports, and mexErrMsgTxt ending the call in progress.
#include "call_context.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using qirhost::detail::current_call;

// Deliberately outside the std::exception hierarchy: module code catching
// std::exception or std::bad_alloc must not swallow the end of the call.
struct CallAborted {
  std::string message;
};

// Amounts reported outside any call, and each call's sum when it ends.
std::atomic<std::int64_t> total_flops{0};

// The one call in progress in the process and its thread, while exactly
// one is in progress (the usual case), so that mexAddFlops, called once
// per pattern or more, finds it without a thread-local lookup or an
// atomic add. Only the call's own thread can match sole_thread, so the
// context it reads is alive; any other thread, and every call while
// several overlap, takes the thread-local way.
std::mutex calls_lock;
int calls_in_progress = 0;
std::atomic<qirhost::detail::CallContext *> sole_call{nullptr};
std::atomic<std::thread::id> sole_thread{std::thread::id()};

class CallInProgress {
 public:
  explicit CallInProgress(qirhost::detail::CallContext &context) : context_(context) {
    const std::lock_guard<std::mutex> lock(calls_lock);
    if (++calls_in_progress == 1) {
      sole_call.store(&context, std::memory_order_relaxed);
      sole_thread.store(std::this_thread::get_id(), std::memory_order_release);
    } else {
      sole_thread.store(std::thread::id(), std::memory_order_release);
    }
  }
  ~CallInProgress() {
    {
      const std::lock_guard<std::mutex> lock(calls_lock);
      --calls_in_progress;
      sole_thread.store(std::thread::id(), std::memory_order_release);
    }
    total_flops.fetch_add(context_.flops(), std::memory_order_relaxed);
  }
  CallInProgress(const CallInProgress &) = delete;
  CallInProgress &operator=(const CallInProgress &) = delete;

 private:
  qirhost::detail::CallContext &context_;
};

std::string format_text(const char *format, std::va_list args) {
  std::va_list measuring;
  va_copy(measuring, args);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace

extern "C" {

void mexErrMsgTxt(const char *message) {
  std::string text = message != nullptr ? message : "";
  if (current_call() == nullptr) throw std::runtime_error(text);
  throw CallAborted{std::move(text)};
}

void mexWarnMsgTxt(const char *message) {
  const char *text = message != nullptr ? message : "";
  if (auto *call = current_call())
    call->warn(text);
  else
    std::fprintf(stderr, "Warning: %s\n", text);
}

int mexPrintf(const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = format_text(format, args);
  va_end(args);
  if (auto *call = current_call())
    call->print(text);
  else
    std::fputs(text.c_str(), stdout);
  return static_cast<int>(text.size());
}

// The modules poll this between patterns on the calling thread: the
// request of the call in progress on this thread, if any.
QIRHOST_API bool utIsInterruptPending(void) {
  const auto *call = current_call();
  return call != nullptr && call->interrupt_requested();
}

void mexAddFlops(int count) {
  if (sole_thread.load(std::memory_order_acquire) == std::this_thread::get_id()) {
    sole_call.load(std::memory_order_relaxed)->add_flops(count);
    return;
  }
  if (auto *call = current_call())
    call->add_flops(count);
  else
    total_flops.fetch_add(count, std::memory_order_relaxed);
}

}  // extern "C"

namespace qirhost {

CallResult run_call(int nlhs, const std::function<void(mxArray **plhs)> &body,
                    const CallOptions &options) {
  detail::CallContext context(nlhs, options);
  detail::CurrentCall scope(context);
  const CallInProgress in_progress(context);
  // MATLAB always provides one slot, even when no output is requested.
  std::vector<mxArray *> slots(static_cast<std::size_t>(std::max(nlhs, 1)), nullptr);
  try {
    body(slots.data());
    context.collect_outputs(slots);
  } catch (const CallAborted &aborted) {
    context.fail(aborted.message);
  }
  // Any other exception is a module fault: it leaves with the context
  // reclaiming everything on the way out.
  return context.finish();
}

std::int64_t flop_counter() { return total_flops.load(); }

}  // namespace qirhost
