// The runtime's process clock, read in milliseconds, and the whole-second
// arithmetic the reports use.
#pragma once

#include <cstdint>

namespace qir {

std::int64_t process_clock_ms();

// Whole seconds of a clock reading, truncated.
inline std::int64_t whole_seconds(std::int64_t milliseconds) { return milliseconds / 1000; }

// Seconds between two whole-second readings: 0.9 s to 1.1 s counts 1,
// 0.1 s to 0.9 s counts 0.
inline std::int32_t elapsed_seconds(std::int64_t start_seconds, std::int64_t end_seconds) {
  return static_cast<std::int32_t>(end_seconds - start_seconds);
}

}  // namespace qir
