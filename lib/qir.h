// The library's public interface: what the front ends (the qir command, the
// Python package, and the toolbox's qir_library module, which compiles the
// host-free part: everything but module_runner, fitting and
// cross_validation) may use. Every rule around the modules lives here once:
//
//   model_file.h         the model file: reader, writer, classes of a model
//   feature_scaling.h    min-max scaling by the training range
//   folds.h              stratified folds fixed by a seed
//   training_defaults.h  the default training arguments and D
//   search_grid.h        the settings `qir search` tries, and their ranking
//   scores.h             scoring, and a label no class carries
//   csv.h, dataset.h     data files and their labels
//   data_warnings.h      warnings about training data that trains poorly
//   module_refusals.h    the modules' refusals in the names a front end's user gave
//   module_runner.h      calls of the modules through the embedded host
//   fitting.h            training and classification with scaling around them
//   cross_validation.h   k-fold cross-validation of one setting
//   errors.h             the three kinds of failure
//
// The rest of lib/ (atomic files, progress lines, hints, plots, install
// locations) serves the command alone.
#pragma once

#include "cross_validation.h"
#include "csv.h"
#include "data_warnings.h"
#include "dataset.h"
#include "errors.h"
#include "feature_scaling.h"
#include "fitting.h"
#include "folds.h"
#include "model_file.h"
#include "module_refusals.h"
#include "module_runner.h"
#include "scores.h"
#include "search_grid.h"
#include "training_defaults.h"
