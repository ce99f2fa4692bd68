// State of the call in progress: the result being gathered, the fault
// injection counter, and every block and array the call created, which the
// host reclaims when the call ends.
#pragma once

#include "array_impl.h"
#include "qirhost/host.h"

#include <cstdlib>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qirhost::detail {

class CallContext {
 public:
  CallContext(int nlhs, const CallOptions &options);
  CallContext(const CallContext &) = delete;
  CallContext &operator=(const CallContext &) = delete;

  // Counts one allocating request; false when it is the one chosen to fail.
  bool admit_allocation();

  // The context owns tracked blocks until they are released or the call ends.
  void track_block(void *block, std::size_t bytes);
  // realloc whose record follows the block; untracked blocks stay untracked.
  void *reallocate_block(void *block, std::size_t bytes);
  bool free_block(void *block);  // false when the block is not tracked

  mxArray *adopt(std::unique_ptr<mxArray> array);
  std::unique_ptr<mxArray> disown(mxArray *array);  // null when not tracked

  void print(std::string_view text);
  void warn(std::string_view text);
  void add_flops(std::int64_t count) {
    if (options_.record_flop_reports) result_.flop_reports.push_back(count);
    flops_ += count;
  }
  // The sum so far; kept beside the result, which finish() hands over.
  std::int64_t flops() const { return flops_; }
  void fail(std::string message);
  bool interrupt_requested() const {
    return options_.interrupt != nullptr && options_.interrupt->requested();
  }

  // Moves the arrays in the output slots into the result.
  void collect_outputs(const std::vector<mxArray *> &slots);
  // The result with the leftover counts; leftovers are freed with the context.
  CallResult finish();

 private:
  struct FreeMemory {
    void operator()(void *block) const { std::free(block); }
  };
  struct Block {
    std::unique_ptr<void, FreeMemory> memory;
    std::size_t bytes = 0;
  };

  ArrayPtr take_output(mxArray *slot);

  std::size_t output_count_;
  const CallOptions &options_;
  CallResult result_;
  std::int64_t flops_ = 0;
  std::unordered_map<void *, Block> blocks_;
  std::unordered_map<mxArray *, std::unique_ptr<mxArray>> arrays_;
};

// The call in progress on this thread, or null outside any call.
CallContext *current_call();

// Makes a context current for its lifetime and restores the previous one.
class CurrentCall {
 public:
  explicit CurrentCall(CallContext &context);
  ~CurrentCall();
  CurrentCall(const CurrentCall &) = delete;
  CurrentCall &operator=(const CurrentCall &) = delete;

 private:
  CallContext *previous_;
};

}  // namespace qirhost::detail
