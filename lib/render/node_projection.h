// A node seen on two features: the shadow that its hyper-ellipsoid casts
// on the plane of those features, in the data's own units. The command's
// pictures and the toolbox's figures both draw nodes through this rule.
#pragma once

#include <cstddef>
#include <vector>

namespace qir {

// The two features drawn (0-based): `x` across the page, `y` up it.
struct FeaturePair {
  std::size_t x = 0, y = 1;
};

// A node's region on the page's plane: half-axis `along` in the direction
// `angle_degrees` (counter-clockwise from the x axis), `across` at right
// angles. Both 0: a node of radius 0, drawn as a dot.
struct NodeShape {
  double cx = 0, cy = 0;
  double along = 0, across = 0;
  double angle_degrees = 0;
  bool is_point = false;  // the node has no direction: a ball of its radius
};

// `row` is a template row of M features (centre, direction, radius); the
// node is the set of points within `radius` along its direction and
// ratio*radius across it. `feature_min` and `feature_max` are the model's
// scaling (empty: the nodes live in the data's units), by which the shape
// is mapped back to the data's units.
NodeShape project_node(const std::vector<double> &row, double ratio, FeaturePair pair,
                       const std::vector<double> &feature_min = {},
                       const std::vector<double> &feature_max = {});

// The region after stretching the x axis by `sx` and the y axis by `sy`
// (both >= 0; the centre stays): how a shape is taken to other units.
NodeShape stretched(const NodeShape &shape, double sx, double sy);

// The ellipse of the points x with (x - c)' S^-1 (x - c) <= 1, where c is
// (cx, cy) and S the symmetric matrix [a b; b c] (positive semi-definite).
NodeShape ellipse_of(double cx, double cy, double a, double b, double c);

// The same for a node of a 2-feature model in its own space.
NodeShape node_shape(const std::vector<double> &row, double ratio);

}  // namespace qir
