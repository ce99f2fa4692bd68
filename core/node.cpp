#include "node.h"

#include "model.h"

#include <cmath>

namespace qir {

Node &node_init(Node &node, const double *values, std::int32_t label,
                std::int32_t from_template) {
  if (from_template != 0) {
    node_from_template(node, values, label);
    count_ops(node_init_flops, 0);
    return node;
  }
  const std::int32_t M = model_params.num_features;
  node.label = label;
  node.center.assign(values, values + M);
  node.direction.assign(M, 0.0);
  node.radius = 0.0;
  node.is_point = 1;
  node.free_size = model_params.D;
  node.active = 1;
  return node;
}

Node &node_from_template(Node &node, const double *row, std::int32_t label) {
  const std::int32_t M = model_params.num_features;
  node.label = label;
  node.center.assign(row, row + M);
  node.active = 0;
  node.direction.assign(row + M, row + 2 * M);
  bool any_nonzero = false;
  for (std::int32_t i = 0; i < M; ++i) any_nonzero |= row[M + i] != 0.0;  // -0 counts as zero
  node.is_point = any_nonzero ? 0 : 1;
  node.radius = row[2 * M];
  node.free_size = model_params.D - (node.radius + node.radius);
  return node;
}

double *node_to_template(const Node &node, double *row) {
  const std::int32_t M = model_params.num_features;
  for (std::int32_t i = 0; i < M; ++i) {
    row[i] = node.center[i];
    row[M + i] = node.direction[i];
  }
  row[2 * M] = node.radius;
  return row;
}

namespace {

// Operations of one evaluation: 5 per feature, the root (1 Euclidean, 7
// ellipsoidal), excess and fit when outside (2), and MFV (1).
std::int32_t match_flops(std::int32_t M, bool is_point, bool outside) {
  return 5 * M + (is_point ? 1 : 7) + (outside ? 2 : 0) + 1;
}

}  // namespace

void node_match(Node &node, const double *pattern) {
  const std::int32_t M = model_params.num_features;
  const double *center = node.center.data();
  const double *direction = node.direction.data();
  double sq = 0.0;
  double proj = 0.0;
  for (std::int32_t i = 0; i < M; ++i) {
    const double d = center[i] - pattern[i];
    sq = sq + d * d;
    proj = proj + direction[i] * d;
  }
  const double r = model_params.ratio;
  if (node.is_point != 0) {
    node.distance = std::sqrt(sq);
  } else {
    node.distance = std::sqrt(sq - ((1.0 - r * r) * proj) * proj) / r;
  }
  // A NaN distance compares false and so counts as inside.
  const bool outside = node.distance - inside_tolerance > node.radius;
  if (outside) {
    node.excess = node.distance - node.radius;
    node.fit = node.free_size - node.excess;
  } else {
    node.excess = 0.0;
    node.fit = node.free_size;
  }
  node.mfv = node.fit / model_params.D;
  count_ops(match_flops(M, node.is_point != 0, outside), 1);
}

}  // namespace qir
