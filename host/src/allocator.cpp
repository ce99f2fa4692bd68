// The host allocator. Inside a call every block is tracked so the host can
// reclaim what a module forgets; outside a call blocks belong to the caller.
#include "call_context.h"
#include "checked_size.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

using qirhost::detail::current_call;

bool admit_request() {
  auto *call = current_call();
  return call == nullptr || call->admit_allocation();
}

// Zero-byte requests still get a distinct block, as glibc gives.
std::size_t nonzero(std::size_t bytes) { return std::max<std::size_t>(bytes, 1); }

void *track(void *block, std::size_t bytes) {
  auto *call = current_call();
  if (block == nullptr || call == nullptr) return block;
  try {
    call->track_block(block, bytes);
  } catch (const std::bad_alloc &) {
    return nullptr;  // the failed record has already freed the block
  }
  return block;
}

}  // namespace

extern "C" {

void *mxCalloc(std::size_t n, std::size_t size) {
  if (!admit_request()) return nullptr;
  std::size_t bytes = 0;
  if (!qirhost::multiply_size(n, size, &bytes)) return nullptr;
  return track(std::calloc(nonzero(bytes), 1), bytes);
}

void *mxMalloc(std::size_t n) {
  if (!admit_request()) return nullptr;
  return track(std::malloc(nonzero(n)), n);
}

void *mxRealloc(void *block, std::size_t size) {
  if (!admit_request()) return nullptr;
  auto *call = current_call();
  if (call == nullptr) return std::realloc(block, nonzero(size));
  if (block == nullptr) return track(std::malloc(nonzero(size)), size);
  return call->reallocate_block(block, size);
}

void mxFree(void *block) {
  if (block == nullptr) return;
  auto *call = current_call();
  if (call == nullptr || !call->free_block(block)) std::free(block);
}

}  // extern "C"
