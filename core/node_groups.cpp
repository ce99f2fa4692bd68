#include "node_groups.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
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

bool pruning_enabled() {
  const char *setting = std::getenv("QIR_PRUNE");
  return setting == nullptr || std::strcmp(setting, "0") != 0;
}

void NodeGroups::reset(std::int32_t num_features, const ReachRule &rule) {
  M_ = num_features;
  rule_ = rule;
  centers_.clear();
  bound_.clear();
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
  while (!rest.empty()) {
    const double *seed = nodes[rest.front()]->center.data();
    near.clear();
    for (std::int32_t k : rest) near.emplace_back(euclidean(nodes[k]->center.data(), seed, M), k);
    const std::size_t take = std::min<std::size_t>(group_slots, near.size());
    std::nth_element(near.begin(), near.begin() + (take - 1), near.end());
    // The group keeps node order among itself; the rest keeps its order.
    std::sort(near.begin(), near.begin() + take,
              [](const auto &a, const auto &b) { return a.second < b.second; });
    for (std::size_t t = 0; t < take; ++t) order.push_back(near[t].second);
    std::sort(near.begin() + take, near.end(),
              [](const auto &a, const auto &b) { return a.second < b.second; });
    rest.clear();
    for (std::size_t t = take; t < near.size(); ++t) rest.push_back(near[t].second);
  }
  return order;
}

std::int32_t NodeGroups::add_group(const double *center) {
  centers_.insert(centers_.end(), center, center + M_);
  bound_.push_back(-infinite);
  terms_.resize(terms_.size() + group_slots, -infinite);
  members_.push_back(0);
  return count() - 1;
}

double NodeGroups::distance_to_center(std::int32_t g, const double *point) const {
  return euclidean(point, centers_.data() + static_cast<std::size_t>(g) * M_, M_);
}

double NodeGroups::term(std::int32_t g, const Node &node) const {
  const double offset = distance_to_center(g, node.center.data());
  const double t = offset * (1.0 + reach_margin) + node_reach(rule_, node);
  return std::isnan(t) ? infinite : t;
}

void NodeGroups::raise_bound(std::int32_t g) {
  const auto first = terms_.begin() + static_cast<std::ptrdiff_t>(g) * group_slots;
  bound_[g] = *std::max_element(first, first + group_slots);
}

void NodeGroups::build(const std::vector<const Node *> &nodes, const PackedNodes &packed) {
  const std::int32_t groups = (packed.slots() + group_slots - 1) / group_slots;
  std::vector<double> mean(static_cast<std::size_t>(M_));
  for (std::int32_t g = 0; g < groups; ++g) {
    std::fill(mean.begin(), mean.end(), 0.0);
    std::int32_t n = 0;
    for (std::int32_t s = g * group_slots; s < std::min(packed.slots(), (g + 1) * group_slots); ++s) {
      if (packed.node_at(s) < 0) continue;
      const Node &node = *nodes[packed.node_at(s)];
      for (std::int32_t f = 0; f < M_; ++f) mean[f] += node.center[f];
      ++n;
    }
    for (double &x : mean) x /= std::max(n, 1);
    add_group(mean.data());
    members_[g] = n;
  }
  for (std::int32_t k = 0; k < packed.size(); ++k) {
    const std::int32_t slot = packed.slot_of(k);
    terms_[slot] = term(slot / group_slots, *nodes[k]);
  }
  for (std::int32_t g = 0; g < groups; ++g) raise_bound(g);
}

std::int32_t NodeGroups::place(const Node &node, double join_distance) {
  std::int32_t best = -1;
  double best_distance = join_distance;
  for (std::int32_t g = 0; g < count(); ++g) {
    if (members_[g] == group_slots) continue;
    const double d = distance_to_center(g, node.center.data());
    if (d <= best_distance) {
      best = g;
      best_distance = d;
    }
  }
  if (best < 0) best = add_group(node.center.data());
  const std::int32_t slot = best * group_slots + members_[best];
  members_[best] += 1;
  update(slot, node);
  return slot;
}

void NodeGroups::update(std::int32_t slot, const Node &node) {
  const std::int32_t g = slot / group_slots;
  terms_[slot] = term(g, node);
  raise_bound(g);
}

bool NodeGroups::beyond_reach(std::int32_t g, const double *pattern) const {
  const double d = distance_to_center(g, pattern);
  // Not finite, or so large that the kernels' sums could overflow: evaluate.
  if (!(d < largest_distance)) return false;
  return d * (1.0 - reach_margin) > bound_[g];
}

}  // namespace qir
