#include "call_context.h"

#include <algorithm>
#include <utility>

namespace qirhost::detail {
namespace {

thread_local CallContext *current = nullptr;

}  // namespace

CallContext::CallContext(int nlhs, const CallOptions &options)
    : output_count_(static_cast<std::size_t>(std::max(nlhs, 0))), options_(options) {}

bool CallContext::admit_allocation() {
  ++result_.allocation_requests;
  return result_.allocation_requests != options_.fail_allocation;
}

void CallContext::track_block(void *block, std::size_t bytes) {
  Block owned{std::unique_ptr<void, FreeMemory>(block), bytes};
  blocks_.emplace(block, std::move(owned));
}

void *CallContext::reallocate_block(void *block, std::size_t bytes) {
  // The record is taken out first: after a successful realloc the old
  // address must not even be looked up.
  auto node = blocks_.extract(block);
  void *moved = std::realloc(block, std::max<std::size_t>(bytes, 1));
  if (node.empty()) return moved;
  if (moved != nullptr) {
    static_cast<void>(node.mapped().memory.release());  // realloc freed it
    node.mapped().memory.reset(moved);
    node.mapped().bytes = bytes;
    node.key() = moved;
  }
  blocks_.insert(std::move(node));
  return moved;
}

bool CallContext::free_block(void *block) { return blocks_.erase(block) > 0; }

mxArray *CallContext::adopt(std::unique_ptr<mxArray> array) {
  mxArray *raw = array.get();
  arrays_.emplace(raw, std::move(array));
  return raw;
}

std::unique_ptr<mxArray> CallContext::disown(mxArray *array) {
  auto node = arrays_.extract(array);
  return node.empty() ? nullptr : std::move(node.mapped());
}

void CallContext::print(std::string_view text) {
  result_.console += text;
  if (options_.on_print) options_.on_print(text);
}

void CallContext::warn(std::string_view text) {
  result_.warnings.emplace_back(text);
  if (options_.on_warning) options_.on_warning(text);
}

void CallContext::fail(std::string message) { result_.error = std::move(message); }

ArrayPtr CallContext::take_output(mxArray *slot) {
  if (slot == nullptr) return nullptr;
  if (auto owned = disown(slot)) return ArrayPtr(owned.release());
  // Not created in this call (an input, or a slot repeated): the caller gets
  // its own copy so nothing ends up owned twice; a borrowed input's
  // values are copied too, since the lender's may go first.
  auto copy = std::make_unique<mxArray>(*slot);
  if (copy->borrowed != nullptr) {
    const std::size_t bytes = detail::element_count(*copy) * detail::element_size(copy->class_id);
    copy->real.assign(copy->borrowed, copy->borrowed + bytes);
    copy->borrowed = nullptr;
  }
  return ArrayPtr(copy.release());
}

void CallContext::collect_outputs(const std::vector<mxArray *> &slots) {
  for (std::size_t i = 0; i < output_count_; ++i)
    result_.outputs.push_back(take_output(slots[i]));
  // With no outputs requested a module may still fill the first slot, as
  // MATLAB allows; that value is discarded, not counted as left behind.
  if (output_count_ == 0) disown(slots[0]);
}

CallResult CallContext::finish() {
  result_.outputs.resize(output_count_);
  result_.flops = flops_;
  result_.blocks_left = blocks_.size();
  result_.bytes_left = 0;
  for (const auto &entry : blocks_) result_.bytes_left += entry.second.bytes;
  result_.arrays_left = arrays_.size();
  return std::move(result_);
}

CallContext *current_call() { return current; }

CurrentCall::CurrentCall(CallContext &context) : previous_(current) { current = &context; }

CurrentCall::~CurrentCall() { current = previous_; }

}  // namespace qirhost::detail
