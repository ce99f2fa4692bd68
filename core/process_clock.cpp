#include "process_clock.h"

#include <ctime>

namespace qir {

std::int64_t process_clock_ms() {
  return static_cast<std::int64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

}  // namespace qir
