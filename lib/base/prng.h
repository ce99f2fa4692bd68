// A fixed pseudo-random sequence, the same on every platform and standard
// library, so the generated data files can be rebuilt byte for byte.
#pragma once

#include <cstdint>

namespace qir {

// xorshift64* (Marsaglia's xorshift with a multiplicative output step).
class Xorshift64Star {
 public:
  explicit Xorshift64Star(std::uint64_t seed) : state_(seed != 0 ? seed : 1) {}
  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  // Uniform in 0 .. bound-1 by rejection, without modulo bias.
  std::uint64_t below(std::uint64_t bound) {
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    std::uint64_t value;
    do value = next();
    while (value >= limit);
    return value % bound;
  }

 private:
  std::uint64_t state_;
};

}  // namespace qir
