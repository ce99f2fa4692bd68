// Pictures of 2-D models: every node drawn as its category region over the
// data points, each coloured by its class label, as a standalone SVG file.
#pragma once

#include <string>
#include <vector>

#include "model_file.h"

namespace qircli {

// A node's region in data coordinates: half-axis `along` in the direction
// `angle_degrees` (counter-clockwise from the x axis), `across` at right
// angles. A node without a direction is a circle (along == across).
struct NodeShape {
  double cx = 0, cy = 0;
  double along = 0, across = 0;
  double angle_degrees = 0;
  bool is_point = false;  // no direction
};

NodeShape node_shape(const std::vector<double> &template_row, double ratio);

struct PlotPoints {
  std::vector<std::vector<double>> points;  // rows of 2 values
  std::vector<double> labels;               // empty: points drawn grey
};

// Throws InputError when the model or the points are not 2-D.
std::string render_svg(const Model &model, const PlotPoints &data, const std::string &title);

}  // namespace qircli
