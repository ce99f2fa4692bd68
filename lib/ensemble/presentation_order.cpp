#include "presentation_order.h"

#include <utility>

#include "../base/prng.h"

namespace qir {
namespace {

std::uint64_t splitmix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

std::vector<std::size_t> presentation_order(std::size_t patterns, const VotingSettings &voting,
                                            int member, std::uint64_t batch) {
  std::vector<std::size_t> order(patterns);
  for (std::size_t k = 0; k < patterns; ++k) order[k] = k;
  if (!voting.shuffle) return order;
  std::uint64_t seed = splitmix64(voting.seed + static_cast<std::uint64_t>(member) + 1);
  if (batch > 0) seed = splitmix64(seed + batch);
  Xorshift64Star random(seed);
  for (std::size_t i = patterns; i > 1; --i) std::swap(order[i - 1], order[random.below(i)]);
  return order;
}

}  // namespace qir
