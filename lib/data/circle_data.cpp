#include "circle_data.h"

#include <cstdio>

#include "../base/prng.h"

namespace qir {
namespace {

constexpr std::int64_t grid = 1000000;  // coordinates are k / grid, k in 0..grid
constexpr double pi = 3.14159265358979323846;

// Inside when (x-1/2)^2 + (y-1/2)^2 < 1/(2*pi); in grid units the sum of
// squares is an exact integer, so only the threshold is rounded (and no grid
// point lies on the irrational boundary).
int label_of(std::int64_t kx, std::int64_t ky) {
  const std::int64_t dx = 2 * kx - grid, dy = 2 * ky - grid;  // twice the offset from the centre
  const double squared = static_cast<double>(dx * dx + dy * dy);
  const double limit = 4.0 * static_cast<double>(grid) * static_cast<double>(grid) / (2.0 * pi);
  return squared < limit ? 1 : 2;
}

}  // namespace

std::string circle_in_square_csv(std::uint64_t seed, std::size_t count) {
  Xorshift64Star random(seed);
  std::string text;
  for (std::size_t k = 0; k < count; ++k) {
    const auto kx = static_cast<std::int64_t>(random.below(grid + 1));
    const auto ky = static_cast<std::int64_t>(random.below(grid + 1));
    char line[64];
    std::snprintf(line, sizeof line, "%lld.%06lld,%lld.%06lld,%d\n",
                  static_cast<long long>(kx / grid), static_cast<long long>(kx % grid),
                  static_cast<long long>(ky / grid), static_cast<long long>(ky % grid),
                  label_of(kx, ky));
    text += line;
  }
  return text;
}

}  // namespace qir
