// Pieces that several commands share: common options, reading the data
// options, and finding the modules.
#pragma once

#include <string>
#include <vector>

#include "dataset.h"
#include "module_runner.h"
#include "options.h"

namespace qircli {

OptionSpec modules_option();
// --labels FILE, and --no-labels where unlabelled data make sense.
std::vector<OptionSpec> data_options(bool allow_unlabelled);

// Where the labels are, from --labels / --no-labels.
LabelSource label_source(const Arguments &args);

// Runner for the module directory chosen by --modules, $QIR_MODULE_DIR or
// the build default.
ModuleRunner make_runner(const Arguments &args);

// Prints the command's help to stdout when --help was given.
bool print_help_if_asked(const CommandSpec &command_spec, const Arguments &args);

// The training arguments given on the command line, over `defaults`.
// Starting values for qir train, chosen on the bundled data sets.
TrainingParams default_training_params();
TrainingParams training_params(const Arguments &args, const TrainingParams &defaults);
std::vector<OptionSpec> training_options(const TrainingParams &defaults);

}  // namespace qircli
