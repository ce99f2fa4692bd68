// What the tests of the skipping bounds share: a call's parameters and a
// seeded source of uniform values.
#pragma once

#include <cstdint>
#include <random>

namespace qirtest {

struct ReachSetting {
  std::int32_t M;
  double D, ratio, vigilance, tolerance;
};

class Uniform {
 public:
  explicit Uniform(std::uint64_t seed) : rng_(seed) {}
  double operator()(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  std::uint64_t bits() { return rng_(); }

 private:
  std::mt19937_64 rng_;
};

}  // namespace qirtest
