#include "node_projection.h"

#include <algorithm>
#include <cmath>

namespace qir {
namespace {

constexpr double pi = 3.14159265358979323846;

// The ellipse x' A x = 1 with A's inverse given as the symmetric matrix
// [a b; b c]: its half-axes are the square roots of the eigenvalues.
void set_axes(NodeShape &shape, double a, double b, double c) {
  const double middle = (a + c) / 2, half_gap = std::hypot((a - c) / 2, b);
  shape.along = std::sqrt(std::max(middle + half_gap, 0.0));
  shape.across = std::sqrt(std::max(middle - half_gap, 0.0));
  shape.angle_degrees = b == 0 && a >= c ? 0 : std::atan2(2 * b, a - c) / 2 * 180 / pi;
  if (shape.angle_degrees <= -90) shape.angle_degrees += 180;  // the same ellipse
}

}  // namespace

NodeShape project_node(const std::vector<double> &row, double ratio, FeaturePair pair,
                       const std::vector<double> &feature_min,
                       const std::vector<double> &feature_max) {
  const std::size_t m = (row.size() - 1) / 2;
  const double radius = row.back();
  double length = 0;
  for (std::size_t k = 0; k < m; ++k) length += row[m + k] * row[m + k];
  length = std::sqrt(length);

  NodeShape shape;
  shape.cx = row.at(pair.x);
  shape.cy = row.at(pair.y);
  shape.is_point = length == 0;
  // Its shape matrix (ratio r)^2 I + r^2 (1 - ratio^2) u u' on the two
  // features: a circle of ratio*r stretched along the shadow of u.
  const double ux = shape.is_point ? 0 : row[m + pair.x] / length;
  const double uy = shape.is_point ? 0 : row[m + pair.y] / length;
  const double shadow = std::hypot(ux, uy);
  const double across = shape.is_point ? radius : ratio * radius;
  shape.across = across;
  shape.along = shape.is_point ? radius
                               : radius * std::sqrt(ratio * ratio + (1 - ratio * ratio) * shadow * shadow);
  shape.angle_degrees = shadow == 0 ? 0 : std::atan2(uy, ux) * 180 / pi;
  if (feature_min.empty()) return shape;

  // Back to the data's units: x = min + x' (max - min) on each axis.
  const double sx = feature_max.at(pair.x) - feature_min.at(pair.x);
  const double sy = feature_max.at(pair.y) - feature_min.at(pair.y);
  shape = stretched(shape, sx, sy);
  shape.cx = feature_min[pair.x] + shape.cx * sx;
  shape.cy = feature_min[pair.y] + shape.cy * sy;
  return shape;
}

// Unless both axes stretch alike, the ellipse turns: its matrix
// R diag(along^2, across^2) R' becomes S R diag(...) R' S, S = diag(sx, sy).
NodeShape stretched(const NodeShape &shape, double sx, double sy) {
  NodeShape out = shape;
  if (sx == sy) {
    out.along *= sx;
    out.across *= sx;
    return out;
  }
  const double t = shape.angle_degrees * pi / 180, c = std::cos(t), s = std::sin(t);
  const double along2 = shape.along * shape.along, across2 = shape.across * shape.across;
  const double a = along2 * c * c + across2 * s * s;
  const double b = (along2 - across2) * c * s;
  const double d = along2 * s * s + across2 * c * c;
  set_axes(out, a * sx * sx, b * sx * sy, d * sy * sy);
  return out;
}

NodeShape ellipse_of(double cx, double cy, double a, double b, double c) {
  NodeShape shape;
  shape.cx = cx;
  shape.cy = cy;
  set_axes(shape, a, b, c);
  return shape;
}

NodeShape node_shape(const std::vector<double> &row, double ratio) {
  return project_node(row, ratio, {});
}

}  // namespace qir
