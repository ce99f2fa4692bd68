#include "node_groups.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace qir {

namespace {

constexpr double infinite = std::numeric_limits<double>::infinity();
// Beyond this the distances themselves could overflow in the kernels.
constexpr double largest_distance = 1e150;

double euclidean(const double *a, const double *b, std::int32_t M) {
  double s = 0.0;
  for (std::int32_t f = 0; f < M; ++f) {
    const double d = a[f] - b[f];
    s += d * d;
  }
  return std::sqrt(s);
}

}  // namespace

void NodeGroups::reset(std::int32_t num_features, const ReachRule &rule) {
  M_ = num_features;
  rule_ = rule;
  count_ = 0;
  centers_.clear();
  limit_.clear();
  terms_.clear();
  members_.clear();
}

std::vector<std::int32_t> NodeGroups::compact_order(const std::vector<const Node *> &nodes,
                                                    std::int32_t M) {
  std::vector<std::int32_t> order;
  order.reserve(nodes.size());
  std::vector<std::int32_t> rest(nodes.size());
  std::iota(rest.begin(), rest.end(), 0);
  std::vector<std::pair<double, std::int32_t>> near;
  near.reserve(nodes.size());
  std::vector<char> taken(nodes.size(), 0);
  while (!rest.empty()) {
    const double *seed = nodes[rest.front()]->center.data();
    near.clear();
    for (std::int32_t k : rest) near.emplace_back(euclidean(nodes[k]->center.data(), seed, M), k);
    const std::size_t take = std::min<std::size_t>(group_slots, near.size());
    std::nth_element(near.begin(), near.begin() + (take - 1), near.end());
    // The group keeps node order among itself; the rest keeps its order.
    std::sort(near.begin(), near.begin() + take,
              [](const auto &a, const auto &b) { return a.second < b.second; });
    for (std::size_t t = 0; t < take; ++t) {
      order.push_back(near[t].second);
      taken[near[t].second] = 1;
    }
    rest.erase(std::remove_if(rest.begin(), rest.end(), [&](std::int32_t k) { return taken[k] != 0; }),
               rest.end());
  }
  return order;
}

double NodeGroups::centre_distance(std::int32_t g, const Node &node) const {
  double s = 0.0;
  for (std::int32_t f = 0; f < M_; ++f) {
    const double d = node.center[f] - centers_[static_cast<std::size_t>(f) * count_ + g];
    s += d * d;
  }
  return std::sqrt(s) * (1.0 + reach_margin);
}

double NodeGroups::term(std::int32_t g, const Node &node) const {
  const double t = centre_distance(g, node) + node_reach(rule_, node);
  return std::isnan(t) ? infinite : t;
}

// A pattern at distance d from the centre is beyond every node's reach when
// d (1 - margin) exceeds the largest term; compared squared, with the
// margin taken once more for the rounding of the squares.
void NodeGroups::set_bound(std::int32_t g) {
  const auto first = terms_.begin() + static_cast<std::ptrdiff_t>(g) * group_slots;
  const double bound = *std::max_element(first, first + group_slots);
  if (bound < 0.0) {
    limit_[g] = -1.0;  // every node fails whatever the pattern
    return;
  }
  const double d = bound / (1.0 - reach_margin) * (1.0 + reach_margin);
  // Beyond this the kernels' own sums could overflow: never skip there.
  limit_[g] = d < largest_distance ? d * d : infinite;
}

void NodeGroups::build(const std::vector<const Node *> &nodes, const PackedNodes &packed) {
  count_ = (packed.slots() + group_slots - 1) / group_slots;
  const std::size_t G = static_cast<std::size_t>(count_);
  centers_.assign(static_cast<std::size_t>(M_) * G, 0.0);
  members_.assign(G, 0);
  limit_.assign(G, -1.0);
  terms_.assign(G * group_slots, -infinite);
  for (std::int32_t k = 0; k < packed.size(); ++k) {
    const std::int32_t g = packed.slot_of(k) / group_slots;
    for (std::int32_t f = 0; f < M_; ++f) centers_[f * G + g] += nodes[k]->center[f];
    members_[g] += 1;
  }
  for (std::int32_t f = 0; f < M_; ++f)
    for (std::size_t g = 0; g < G; ++g) centers_[f * G + g] /= std::max(members_[g], 1);
  for (std::int32_t k = 0; k < packed.size(); ++k) {
    const std::int32_t slot = packed.slot_of(k);
    terms_[slot] = term(slot / group_slots, *nodes[k]);
  }
  for (std::int32_t g = 0; g < count_; ++g) set_bound(g);
}

void NodeGroups::update(std::int32_t slot, const Node &node) {
  const std::int32_t g = slot / group_slots;
  terms_[slot] = term(g, node);
  set_bound(g);
}

void NodeGroups::square_distances(const double *pattern, double *out) const {
  const std::size_t G = static_cast<std::size_t>(count_);
  std::fill(out, out + G, 0.0);
  // Feature by feature over all groups: one simple loop the compiler
  // vectorises.
  for (std::int32_t f = 0; f < M_; ++f) {
    const double x = pattern[f];
    const double *c = centers_.data() + f * G;
    for (std::size_t g = 0; g < G; ++g) {
      const double d = c[g] - x;
      out[g] += d * d;
    }
  }
  // A pattern this far off (a value that is not finite, or sums that
  // overflow) is never beyond reach: the kernels' own sums would overflow.
  for (std::size_t g = 0; g < G; ++g)
    if (!std::isfinite(out[g])) out[g] = -infinite;
}

}  // namespace qir
