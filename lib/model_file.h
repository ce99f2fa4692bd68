// The model file: what `qir train` learned, in a text form that MATLAB and
// Octave read with `load` ('%' lines are comments to them).
//
//   % QIR model
//   % format 1                (2 when the file carries scaling or class names)
//   % features M
//   % feature_min v1 ... vM   (only for a model that scales its inputs)
//   % feature_max v1 ... vM
//   % D <value>               ... one '% name value' line per training parameter
//   % class LABEL NAME        (one line per named class)
//   % columns: center(1:M) direction(1:M) radius label
//   <2M+2 numbers per node, separated by blanks>
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qircli {

// The training arguments that shaped a model; the matching module
// arguments are named in the file's header lines.
struct TrainingParams {
  double D = 0;
  double ratio = 0;
  double vigilance = 0;
  double alpha = 0;
  double learning_rate = 0;
  double max_presentations = 0;
  double trim = 0;
  double ct = 0;
};

// The most features a model file may hold, for reading and for training
// alike, so that every model `qir train` writes can be read back.
constexpr int max_model_features = 1000000;

struct Model {
  int features = 0;  // M
  TrainingParams params;
  double list_presentations = 0;               // as the training call reported it
  std::vector<std::vector<double>> templates;  // one template row (2M+1 values) per node
  std::vector<double> labels;                  // one label per node
  // The training data's range of each feature; the nodes live in the scaled
  // space (see feature_scaling.h). Empty: the model takes raw features.
  std::vector<double> feature_min, feature_max;
  // The class names behind the integer labels; empty: numeric labels.
  std::vector<std::pair<int, std::string>> class_names;
  bool scales() const { return !feature_min.empty(); }
};

// Throws InputError when a class name is empty or holds a line break, or
// the scaling ranges do not have one value per feature.
std::string format_model(const Model &model);
// Throws InputError naming `path` and the line of the first fault.
Model parse_model(const std::string &text, const std::string &path);

void save_model(const std::string &path, const Model &model);
Model load_model(const std::string &path);

}  // namespace qircli
