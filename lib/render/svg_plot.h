// Pictures of models: every node drawn as its category region over the
// data points, each coloured by its class, on two chosen features in the
// data's own units, as a standalone SVG file.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "../model/model_file.h"
#include "node_projection.h"

namespace qir {

struct PlotPoints {
  std::vector<std::vector<double>> points;  // rows of the model's features, unscaled
  std::vector<double> labels;               // empty: points drawn grey
  // Names of the data's labels that the model does not name.
  std::vector<std::pair<int, std::string>> class_names;
};

// The features that a picture of `model` shows: `chosen` (1-based, as the
// user counts) or, for a model of 2 features, both. Throws UsageError for a
// wider model without a choice, and for a choice out of range or twice the
// same feature.
FeaturePair plotted_features(const Model &model, const std::vector<double> &chosen);

// The axes are named by the model's feature names, the legend by its class
// names. Throws InputError when a point has not as many values as the model
// has features.
std::string render_svg(const Model &model, const PlotPoints &data, const std::string &title,
                       FeaturePair pair = {});

}  // namespace qir
