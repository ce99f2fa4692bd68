// Memory freed in the middle of the heap handed back to the system.
#pragma once

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qir {

// Where the C library can: a structure of many small blocks, once freed,
// otherwise stays in the process's resident set until the heap's top is
// free, and a long run goes on with that much more than it holds.
inline void return_freed_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace qir
