// Makes one later allocation through operator new fail on this thread, for
// tests of what code does when the heap is exhausted. Linking
// allocation_failure.cpp replaces the global operator new and delete.
#pragma once

namespace qirtest {

// Lets `allowed` allocations on this thread through, then fails the next
// with std::bad_alloc (once); a negative count fails none.
void fail_allocation_after(long allowed);

// True when the failure asked for has happened (and it is no longer armed).
bool allocation_failed();

}  // namespace qirtest
