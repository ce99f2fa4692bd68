#include "allocation_failure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local long allowed_allocations = -1;
thread_local bool failed = false;

}  // namespace

namespace qirtest {

void fail_allocation_after(long allowed) {
  allowed_allocations = allowed;
  failed = false;
}

bool allocation_failed() { return failed; }

}  // namespace qirtest

void *operator new(std::size_t size) {
  if (allowed_allocations == 0) {
    allowed_allocations = -1;
    failed = true;
    throw std::bad_alloc();
  }
  if (allowed_allocations > 0) --allowed_allocations;
  if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
