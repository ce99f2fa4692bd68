// Pieces that several commands share: common options, reading the data
// options, and finding the modules.
#pragma once

#include <string>
#include <vector>

#include "qir.h"
#include "options.h"

namespace qir::cli {

OptionSpec modules_option();
// --labels FILE, --delimiter, --header, and --no-labels where unlabelled
// data make sense.
std::vector<OptionSpec> data_options(bool allow_unlabelled);

// Where the labels are, from --labels / --no-labels.
LabelSource label_source(const Arguments &args);

// How to read the data files, from --delimiter and --header.
CsvFormat csv_format(const Arguments &args);

// Prints the library's warnings about the training data to stderr, one
// "Warning: " line each; true when identical patterns have different labels.
bool warn_about_training_data(const Dataset &data);

// Runner for the module directory chosen by --modules, $QIR_MODULE_DIR or
// the build default.
ModuleRunner make_runner(const Arguments &args);

// The model file named on the command line; a data file given in its place
// is a usage error that shows the command's usage line.
Model load_model_argument(const std::string &path, const CommandSpec &command_spec);

// Prints the command's help to stdout when --help was given.
bool print_help_if_asked(const CommandSpec &command_spec, const Arguments &args);

// What the defaults of the training options depend on: the features that
// vary (data_warnings.h), the patterns and the members trained on them.
struct TrainingData {
  std::size_t varying = 0;
  std::size_t patterns = 0;
  int voters = 1;
};

// The training options with their defaults (training_defaults.h), and the
// values given on the command line for `data`.
// Options not given take `base`'s values when there is one (a model being
// continued) instead of the defaults.
std::vector<OptionSpec> training_options();
TrainingParams training_params(const Arguments &args, const TrainingData &data,
                               const TrainingParams *base = nullptr);
OptionSpec scale_option();
// A parameter's option (parameters.h) with its help: what it does, its
// range and `default_phrase` ("default 0.75", "default: the model's").
OptionSpec parameter_option(const Parameter &row, const std::string &default_phrase);
// --scale: how the features are scaled before training (a word of the
// table's choices, or 1 and 0 for minmax and none).
Scaling scaling_wanted(const Arguments &args);

// "D 2, ratio 1, ..., scaled": the setting as one line; `D_text` and
// `presentations_text`, when given, stand for the "D 2" and the "max
// presentations 100" parts.
std::string parameter_text(const TrainingParams &params, Scaling scaling,
                           const std::string &D_text = "",
                           const std::string &presentations_text = "");

// --folds and --seed of cross-validation, and their values (with --scale,
// and the ensemble's --voters and --shuffle, whose orders --seed also draws).
std::vector<OptionSpec> cv_options();
CvSettings cv_settings(const Arguments &args);

// --voters and --shuffle (part of training_options()), and --seed.
OptionSpec seed_option();
VotingSettings voting_settings(const Arguments &args);

}  // namespace qir::cli
