// A category node: a hyper-ellipsoid (or, before its first update, a ball)
// in feature space carrying one class label.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace qir {

struct Node {
  std::vector<double> center;     // M values
  std::vector<double> direction;  // unit major axis; all zero while is_point
  double radius = 0.0;            // half-length of the major axis
  std::int32_t eligible = 0;  // still competes for the pattern in training
  std::int32_t active = 0;
  std::int32_t label = 0;
  std::int32_t is_point = 1;
  // Results of the last evaluation against a pattern.
  double mfv = 0.0;
  double cfv = 0.0;
  double distance = 0.0;
  double excess = 0.0;
  double fit = 0.0;
  double free_size = 0.0;  // D - 2 radius
};

using NodePtr = std::unique_ptr<Node>;

// Template row: center (M), direction (M), radius.
inline std::int32_t template_width(std::int32_t num_features) {
  return 2 * num_features + 1;
}

// How far a computed distance may lie beyond the radius and still count as
// inside the node. Every evaluation, plain or packed, and every bound on
// them uses this one value.
constexpr double inside_tolerance = 1e-8;

// Operations node_init counts for a node from a template row.
constexpr std::int32_t node_init_flops = 2;

// Fills `node` from a pattern of M values (from_template == 0: a point node
// of radius 0, active) or from a template row of 2M+1 values (nonzero:
// inactive, direction used as stored). Reads num_features and D.
// Throws std::bad_alloc when the heap is exhausted.
Node &node_init(Node &node, const double *values, std::int32_t label,
                std::int32_t from_template);

// node_init from a template row without its count_ops: the caller counts
// node_init_flops for each node itself (one amount for many nodes).
Node &node_from_template(Node &node, const double *row, std::int32_t label);

// Writes the node as a template row of 2M+1 values and returns the row.
double *node_to_template(const Node &node, double *row);

// Evaluates the node against a pattern of M values: distance, excess, fit, mfv.
void node_match(Node &node, const double *pattern);

}  // namespace qir
