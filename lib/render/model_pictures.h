// What the pictures need from the modules, for the front ends that run
// them in the embedded host (the command and Python): the model's class on
// a picture's grid, its vote on data, and training watched step by step.
#pragma once

#include <vector>

#include "../data/dataset.h"
#include "../ensemble/ensemble.h"
#include "../model/model_file.h"
#include "../modules/modules.h"
#include "score_pictures.h"
#include "svg_plot.h"

namespace qir {

// Classification as the model was trained (its D, ratio, vigilance, alpha,
// ct), silent, with a label no class carries for patterns left unknown.
ClassifyParams picture_classify_params(const Model &model);

// The model's class of each cell of the layout's grid, and the label of
// the cells it leaves unknown.
struct GridLabels {
  std::vector<double> labels;
  double unknown = 0;
};
GridLabels classify_grid(Modules &runner, const Model &model, const PictureLayout &layout);

// The picture's classes with their legend texts.
PictureClasses picture_class_texts(const Model &model, const Dataset &data);

// The whole picture of a model over data: layout, grid, SVG.
std::string draw_model(Modules &runner, const Model &model, const PlotPoints &data,
                       const std::string &title, const std::vector<double> &chosen_features);

// The pictures by name, for every front end alike: "nodes" (draw_model),
// "confusion", "votes" (both of `data`) and "progress" (trained on `data`,
// tested on `test`, else on `data`). Throws UsageError for another name,
// for data without the true labels the picture needs, and for feature
// numbers with any picture but "nodes".
std::string draw_picture(Modules &runner, const Model &model, const std::string &what,
                         const Dataset &data, const Dataset *test, const std::string &title,
                         const std::vector<double> &chosen_features = {});

// Accuracy on `test` and nodes of every member after training on `train`
// with the model's settings (parameters, scaling, voters, seed, each
// member's features) stopped
// after 1, 2, ... list presentations, until no member uses the whole limit
// or the model's own limit is reached.
std::vector<ProgressStep> training_progress(Modules &runner, const Model &model,
                                            const Dataset &train, const Dataset &test,
                                            const EnsembleOptions &options = {});

}  // namespace qir
