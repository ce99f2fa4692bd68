#include "presentation_order.h"

#include <algorithm>
#include <cmath>
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

// Keeps the features' draws apart from the orders drawn from one stream.
constexpr std::uint64_t feature_stream_tag = 0x6665617475726573ULL;

}  // namespace

std::uint64_t member_stream(std::uint64_t seed, int member) {
  return splitmix64(splitmix64(seed) + static_cast<std::uint64_t>(member) + 1);
}

std::vector<std::size_t> presentation_order(std::size_t patterns, const VotingSettings &voting,
                                            int member, std::uint64_t batch) {
  std::vector<std::size_t> order(patterns);
  for (std::size_t k = 0; k < patterns; ++k) order[k] = k;
  if (!voting.shuffle) return order;
  std::uint64_t seed = member_stream(voting.seed, member);
  if (batch > 0) seed = splitmix64(seed + batch);
  Xorshift64Star random(seed);
  const std::size_t drawn = member_rows(patterns, voting);
  if (voting.bootstrap) {
    order.resize(drawn);
    for (std::size_t &position : order) position = random.below(patterns);
    return order;
  }
  if (drawn < patterns) {
    // The shuffle's first `drawn` steps fix the last `drawn` places: a draw
    // without replacement, already in a shuffled order.
    for (std::size_t i = patterns; i > patterns - drawn; --i)
      std::swap(order[i - 1], order[random.below(i)]);
    order.erase(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(patterns - drawn));
    return order;
  }
  for (std::size_t i = patterns; i > 1; --i) std::swap(order[i - 1], order[random.below(i)]);
  return order;
}

std::size_t member_rows(std::size_t patterns, const VotingSettings &voting) {
  if (!voting.shuffle || !(voting.max_samples >= 1)) return patterns;
  if (voting.max_samples >= static_cast<double>(patterns)) return patterns;
  return static_cast<std::size_t>(voting.max_samples);
}

std::size_t member_feature_count(std::size_t features, double max_features) {
  if (!(max_features < 1)) return features;
  const double wanted = std::ceil(max_features * static_cast<double>(features));
  return std::clamp(static_cast<std::size_t>(std::max(wanted, 1.0)), std::size_t{1}, features);
}

std::vector<std::size_t> member_features(std::size_t features, const VotingSettings &voting,
                                         int member) {
  const std::size_t count = member_feature_count(features, voting.max_features);
  if (count >= features) return {};
  std::vector<std::size_t> all(features);
  for (std::size_t k = 0; k < features; ++k) all[k] = k;
  Xorshift64Star random(splitmix64(member_stream(voting.seed, member) ^ feature_stream_tag));
  for (std::size_t i = 0; i < count; ++i)
    std::swap(all[i], all[i + random.below(features - i)]);
  all.resize(count);
  std::sort(all.begin(), all.end());
  return all;
}

std::vector<std::size_t> member_features(std::size_t features,
                                         const std::vector<std::size_t> &kept,
                                         const VotingSettings &voting, int member) {
  if (kept.empty()) return member_features(features, voting, member);
  std::vector<std::size_t> drawn = member_features(kept.size(), voting, member);
  if (drawn.empty()) return kept;
  for (std::size_t &place : drawn) place = kept[place];
  return drawn;
}

}  // namespace qir
