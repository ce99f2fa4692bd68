// The view a picture of a model takes: a plane through the model's feature
// space and how its two directions are shown on the page. Two features of
// the model are shown in the data's units; a wider model without a choice
// is shown on the first two principal components of the data in the
// model's (scaled) space, each node as its section through that plane.
// Host-free, so that the toolbox's figures take the same view.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "../model/model_file.h"
#include "node_projection.h"

namespace qir {

struct PictureView {
  bool projected = false;  // principal components, else the features `pair`
  FeaturePair pair;
  // The plane in the model's space: origin + a u + b v, u and v orthonormal.
  std::vector<double> origin, u, v;
  // The page's coordinates of (a, b): x = x0 + xs a, y = y0 + ys b.
  double x0 = 0, xs = 1, y0 = 0, ys = 1;
  std::string x_name, y_name;
};

// The features that a picture of `model` shows: `chosen` (1-based, as the
// user counts) or, for a model of 2 features, both. Throws UsageError for a
// wider model without a choice, and for a choice out of range or twice the
// same feature.
FeaturePair plotted_features(const Model &model, const std::vector<double> &chosen);

// Patterns are rows of the model's features in the data's units. `chosen`
// holds two feature numbers counted from 1, or nothing: then a model of 2
// features is seen on both, a wider one on the principal components of
// `patterns` (of the node centres without patterns). Throws UsageError for
// a choice out of range and for a model of 1 feature.
PictureView choose_view(const Model &model, const std::vector<std::vector<double>> &patterns,
                        const std::vector<double> &chosen);

// Where a pattern (data units) lands on the page's axes.
std::array<double, 2> view_point(const PictureView &view, const Model &model,
                                 const std::vector<double> &pattern);
// The pattern (data units) at a place of the page's axes: the point of the
// plane there, which the model classifies for the decision regions.
std::vector<double> view_pattern(const PictureView &view, const Model &model, double x, double y);

// The node of template `row` where the plane cuts it, on the page's axes;
// nothing when the plane misses it. A node of radius 0 is a dot (along and
// across 0) when it lies in the plane.
std::optional<NodeShape> node_section(const PictureView &view, const Model &model,
                                      const std::vector<double> &row);

}  // namespace qir
