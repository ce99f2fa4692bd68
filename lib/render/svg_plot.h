// Pictures of models: the data's points over the model's decision regions
// and its nodes, each coloured by its class, in the view of picture_view.h,
// as a standalone SVG file. The layout is planned first, so that a front
// end with its own host (the toolbox) classifies the grid itself.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "../model/model_file.h"
#include "picture_view.h"

namespace qir {

struct PlotPoints {
  std::vector<std::vector<double>> points;  // rows of the model's features, unscaled
  std::vector<double> labels;               // empty: points drawn grey
  // Names of the data's labels that the model does not name.
  std::vector<std::pair<int, std::string>> class_names;
};

// The classes of every picture of `model` and `data`, in the order of their
// legends and colours (class k gets colour k): every label of the model's
// members and of the data, ascending.
std::vector<double> picture_classes(const Model &model, const std::vector<double> &data_labels);
// A class as legends show it: its name, else "label N".
std::string class_text(double label, const Model &model, const std::vector<std::pair<int, std::string>> &data_names = {});

// What a picture shows: the view, the frame on its axes (the data's range,
// or the nodes' without data) and a grid of cells over the frame whose
// centres, as patterns in the data's units, the model classifies.
struct PictureLayout {
  PictureView view;
  double xmin = 0, xmax = 1, ymin = 0, ymax = 1;
  std::size_t columns = 0, rows = 0;
  std::vector<std::vector<double>> grid;  // row by row from the top, each left to right
};

// Throws InputError when a point has not as many values as the model has
// features, UsageError for a view that cannot be taken (choose_view).
PictureLayout plan_picture(const Model &model, const PlotPoints &data,
                           const std::vector<double> &chosen, std::size_t cells = 100);

// `grid_labels` holds the model's label of each grid cell (empty: no
// regions), `unknown_label` marks the cells left blank. The axes are named
// by the view, the legend by the classes' names. The nodes drawn are the
// first member's.
std::string render_svg(const Model &model, const PlotPoints &data, const std::string &title,
                       const PictureLayout &layout, const std::vector<double> &grid_labels = {},
                       double unknown_label = 0);

}  // namespace qir
