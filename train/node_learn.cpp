#include "node_learn.h"

#include "model.h"

#include <cmath>

namespace qir {

namespace {

// Points the unset direction from the centre to the pattern, unnormalised;
// returns its length.
double aim_direction(Node &node, const double *pattern, std::int32_t M) {
  double s = 0.0;
  for (std::int32_t i = 0; i < M; ++i) {
    node.direction[i] = pattern[i] - node.center[i];
    s = s + node.direction[i] * node.direction[i];
  }
  return std::sqrt(s);
}

void move_center(Node &node, const double *pattern, std::int32_t M, double k) {
  if (node.is_point != 0) {
    // The direction still holds pattern - centre.
    for (std::int32_t i = 0; i < M; ++i) node.center[i] = node.center[i] + node.direction[i] * k;
  } else {
    for (std::int32_t i = 0; i < M; ++i) {
      const double e = pattern[i] - node.center[i];
      node.center[i] = node.center[i] + e * k;
    }
  }
}

// Counts in 32-bit unsigned arithmetic, which wraps like the counters.
std::int32_t learn_flops(std::int32_t M, bool first_update) {
  const std::uint32_t m = static_cast<std::uint32_t>(M);
  return static_cast<std::int32_t>(first_update ? 6u * m + 7u : 3u * m + 6u);
}

}  // namespace

std::int32_t node_learn(Node &node, const double *pattern) {
  if (node.excess == 0.0) return 0;
  const std::int32_t M = model_params.num_features;
  const bool first_update = node.is_point != 0;
  const double norm = first_update ? aim_direction(node, pattern, M) : 0.0;

  const double step = (model_params.learning_rate * node.excess) * 0.5;
  const double k = step / node.distance;
  move_center(node, pattern, M, k);
  node.radius = node.radius + step;
  node.free_size = model_params.D - 2.0 * node.radius;

  if (first_update) {
    for (std::int32_t i = 0; i < M; ++i) node.direction[i] = node.direction[i] / norm;
    node.is_point = 0;
  }
  count_ops(learn_flops(M, first_update), 1);
  return 1;
}

}  // namespace qir
