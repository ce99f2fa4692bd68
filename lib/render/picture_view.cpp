#include "picture_view.h"

#include <algorithm>
#include <cmath>

#include "../base/errors.h"
#include "../base/number_text.h"
#include "../model/feature_scaling.h"

namespace qir {
namespace {

using Vector = std::vector<double>;

double dot(const Vector &a, const Vector &b) {
  double sum = 0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += a[k] * b[k];
  return sum;
}

void normalise(Vector &a) {
  const double length = std::sqrt(dot(a, a));
  if (length > 0)
    for (double &x : a) x /= length;
}

Vector to_model_space(const Model &model, const Vector &pattern) {
  if (!model.scales()) return pattern;
  const FeatureScaling scaling = model_scaling(model);
  Vector out(pattern.size());
  for (std::size_t k = 0; k < pattern.size(); ++k) out[k] = scale_feature(scaling, k, pattern[k]);
  return out;
}

// Min-max scaling maps back onto the data's units along each axis; other
// scalings are drawn in the space the model sees.
bool axes_in_data_units(const Model &model) { return model.scaling() != Scaling::standard &&
                                                     model.scaling() != Scaling::rank; }

Vector unit(std::size_t size, std::size_t index) {
  Vector e(size, 0.0);
  e[index] = 1;
  return e;
}

// The direction of largest spread of the centred rows, at right angles to
// `away` (when given): power iteration from a fixed start, so the same data
// give the same picture; the sign makes the largest entry positive.
Vector principal_direction(const std::vector<Vector> &rows, const Vector *away) {
  const std::size_t m = rows.front().size();
  Vector v(m), next(m);
  for (std::size_t k = 0; k < m; ++k) v[k] = 1 + static_cast<double>(k) / static_cast<double>(m);
  const auto keep_apart = [&](Vector &w) {
    if (away == nullptr) return;
    const double along = dot(w, *away);
    for (std::size_t k = 0; k < m; ++k) w[k] -= along * (*away)[k];
  };
  keep_apart(v);
  normalise(v);
  for (int step = 0; step < 500; ++step) {
    std::fill(next.begin(), next.end(), 0.0);
    for (const auto &row : rows) {
      const double along = dot(row, v);
      for (std::size_t k = 0; k < m; ++k) next[k] += along * row[k];
    }
    keep_apart(next);
    normalise(next);
    double change = 0;
    for (std::size_t k = 0; k < m; ++k) change = std::max(change, std::fabs(next[k] - v[k]));
    v.swap(next);
    if (change < 1e-12) break;
  }
  const auto largest = std::max_element(
      v.begin(), v.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
  if (*largest < 0)
    for (double &x : v) x = -x;
  return v;
}

// The principal components of the points, named with their share of the spread.
void project_on_components(PictureView &view, std::vector<Vector> centred) {
  const std::size_t m = view.origin.size();
  double total = 0;
  for (const auto &row : centred) total += dot(row, row);
  if (centred.empty() || total == 0) {
    view.u = unit(m, 0);
    view.v = unit(m, 1);
  } else {
    view.u = principal_direction(centred, nullptr);
    view.v = principal_direction(centred, &view.u);
  }
  const auto name = [&](int k, const Vector &direction) {
    double spread = 0;
    for (const auto &row : centred) spread += dot(row, direction) * dot(row, direction);
    std::string text = "principal component " + std::to_string(k);
    if (total > 0)
      text += " (" + std::to_string(static_cast<int>(std::lround(100 * spread / total))) +
              "% of the spread)";
    return text;
  };
  view.x_name = name(1, view.u);
  view.y_name = name(2, view.v);
}

// A feature's page axis in the data's units: x = min + x' (max - min).
void feature_axis(const Model &model, std::size_t feature, double origin, double &at,
                  double &stretch) {
  if (model.scaling() != Scaling::min_max) {
    at = origin;
    stretch = 1;
    return;
  }
  const double range = model.feature_max[feature] - model.feature_min[feature];
  stretch = range > 0 ? range : 1;
  at = model.feature_min[feature] + origin * stretch;
}

}  // namespace

FeaturePair plotted_features(const Model &model, const std::vector<double> &chosen) {
  const std::string range = "from 1 to " + std::to_string(model.features);
  if (chosen.empty()) {
    if (model.features == 2) return {};
    throw UsageError("the model has " +
                     count_of(static_cast<std::size_t>(model.features), "feature") +
                     "; choose the two to draw with --features I,J (" + range + ")");
  }
  if (chosen.size() != 2) throw UsageError("--features takes two feature numbers, I,J");
  for (double k : chosen)
    if (!(k >= 1 && k <= model.features && std::trunc(k) == k))
      throw UsageError("--features takes two feature numbers " + range + ", not " +
                       format_number(k));
  if (chosen[0] == chosen[1]) throw UsageError("--features takes two different features");
  return {static_cast<std::size_t>(chosen[0]) - 1, static_cast<std::size_t>(chosen[1]) - 1};
}

PictureView choose_view(const Model &model, const std::vector<std::vector<double>> &patterns,
                        const std::vector<double> &chosen) {
  const auto m = static_cast<std::size_t>(model.features);
  if (m < 2) throw UsageError("a model of 1 feature has no plane to draw");
  PictureView view;
  std::vector<Vector> points;
  for (const auto &pattern : patterns) points.push_back(to_model_space(model, pattern));
  if (points.empty() && model.members.front().features.empty())
    for (const auto &row : model.members.front().templates) points.emplace_back(row.begin(), row.begin() + m);
  view.origin.assign(m, model.scales() ? 0.5 : 0.0);
  if (!points.empty()) {
    std::fill(view.origin.begin(), view.origin.end(), 0.0);
    for (const auto &p : points)
      for (std::size_t k = 0; k < m; ++k) view.origin[k] += p[k];
    for (double &x : view.origin) x /= static_cast<double>(points.size());
  }
  view.projected = chosen.empty() && m > 2;
  if (!view.projected) {
    view.pair = plotted_features(model, chosen);
    view.u = unit(m, view.pair.x);
    view.v = unit(m, view.pair.y);
    feature_axis(model, view.pair.x, view.origin[view.pair.x], view.x0, view.xs);
    feature_axis(model, view.pair.y, view.origin[view.pair.y], view.y0, view.ys);
    view.x_name = feature_name(model, view.pair.x);
    view.y_name = feature_name(model, view.pair.y);
    return view;
  }
  for (auto &p : points)
    for (std::size_t k = 0; k < m; ++k) p[k] -= view.origin[k];
  project_on_components(view, std::move(points));
  return view;
}

std::array<double, 2> view_point(const PictureView &view, const Model &model,
                                 const std::vector<double> &pattern) {
  if (!view.projected && axes_in_data_units(model))
    return {pattern.at(view.pair.x), pattern.at(view.pair.y)};
  if (!view.projected) {
    const Vector p = to_model_space(model, pattern);
    return {p.at(view.pair.x), p.at(view.pair.y)};
  }
  Vector p = to_model_space(model, pattern);
  for (std::size_t k = 0; k < p.size(); ++k) p[k] -= view.origin[k];
  return {view.x0 + view.xs * dot(p, view.u), view.y0 + view.ys * dot(p, view.v)};
}

std::vector<double> view_pattern(const PictureView &view, const Model &model, double x, double y) {
  const double a = (x - view.x0) / view.xs, b = (y - view.y0) / view.ys;
  Vector p(view.origin.size());
  const bool in_units = axes_in_data_units(model);
  const FeatureScaling scaling = in_units ? FeatureScaling{} : model_scaling(model);
  for (std::size_t k = 0; k < p.size(); ++k) {
    p[k] = view.origin[k] + a * view.u[k] + b * view.v[k];
    if (model.scaling() == Scaling::min_max) {
      const double range = model.feature_max[k] - model.feature_min[k];
      p[k] = model.feature_min[k] + p[k] * range;
    } else if (!in_units) {
      p[k] = unscale_feature(scaling, k, p[k]);
    }
  }
  return p;
}

// The node is {x : q(x - c) <= 1}, q(x) = (x'x - k (w'x)^2) / s with w its
// unit direction, k = 1 - ratio^2 and s = (ratio r)^2 (a ball: k = 0,
// s = r^2). On the plane x = origin + a u + b v with d = origin - c this
// reads t'Bt + 2g't + h <= 1: an ellipse around -B^-1 g, empty when its
// least value there is above 1.
std::optional<NodeShape> node_section(const PictureView &view, const Model &model,
                                      const std::vector<double> &row) {
  const std::size_t m = view.origin.size();
  const double radius = row.at(2 * m);
  Vector d(m), w(row.begin() + static_cast<std::ptrdiff_t>(m),
              row.begin() + static_cast<std::ptrdiff_t>(2 * m));
  for (std::size_t k = 0; k < m; ++k) d[k] = view.origin[k] - row[k];
  const auto at_page = [&](double a, double b) {
    return std::array<double, 2>{view.x0 + view.xs * a, view.y0 + view.ys * b};
  };
  const double du = dot(d, view.u), dv = dot(d, view.v);
  if (radius == 0) {  // a point: seen only when it lies in the plane
    const double off = dot(d, d) - du * du - dv * dv;
    if (off > 1e-12 * std::max(1.0, dot(d, d))) return std::nullopt;
    NodeShape dot_shape;
    const auto c = at_page(-du, -dv);
    dot_shape.cx = c[0];
    dot_shape.cy = c[1];
    dot_shape.is_point = true;
    return dot_shape;
  }
  const double length = std::sqrt(dot(w, w));
  const bool ball = length == 0;
  const double ratio = model.params.ratio;
  const double k = ball ? 0 : 1 - ratio * ratio;
  const double s = ball ? radius * radius : ratio * ratio * radius * radius;
  if (!(s > 0)) return std::nullopt;
  if (!ball)
    for (double &x : w) x /= length;
  const double wu = dot(w, view.u), wv = dot(w, view.v), wd = dot(w, d);
  const double b11 = (1 - k * wu * wu) / s, b12 = (dot(view.u, view.v) - k * wu * wv) / s;
  const double b22 = (1 - k * wv * wv) / s;
  const double g1 = (du - k * wu * wd) / s, g2 = (dv - k * wv * wd) / s;
  const double h = (dot(d, d) - k * wd * wd) / s;
  const double det = b11 * b22 - b12 * b12;
  if (!(det > 0)) return std::nullopt;
  const double t1 = -(b22 * g1 - b12 * g2) / det, t2 = -(b11 * g2 - b12 * g1) / det;
  const double room = 1 - (h + g1 * t1 + g2 * t2);
  if (!(room > 0)) return std::nullopt;
  const auto c = at_page(t1, t2);
  // (t - t0)' B (t - t0) <= room: the matrix of the ellipse is room * B^-1.
  NodeShape shape = ellipse_of(0, 0, room * b22 / det, -room * b12 / det, room * b11 / det);
  shape = stretched(shape, view.xs, view.ys);
  shape.cx = c[0];
  shape.cy = c[1];
  shape.is_point = ball;
  return shape;
}

}  // namespace qir
