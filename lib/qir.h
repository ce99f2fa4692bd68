// The library's one public header: every front end (the qir command, the
// Python package, the toolbox's gateway) includes this and nothing else of
// lib/. The rooms, lowest first; a room includes only rooms above it:
//
//   base/        failures, number text, the seeded generator
//   platform/    atomic files, temporary files, install locations, progress
//   data/        data files, their labels, warnings about them, generators
//   model/       the model file, scaling, the default training arguments
//   modules/     the modules' calls through the embedded host, refusals
//   ensemble/    members' orders, the vote, stream batches, the ensemble
//   evaluation/  folds, scores, hints, cross-validation, the search
//   render/      pictures of models and runs
#pragma once

#include "base/errors.h"
#include "base/number_text.h"
#include "base/prng.h"
#include "platform/atomic_file.h"
#include "platform/install_location.h"
#include "platform/progress.h"
#include "platform/temp_file_cleanup.h"
#include "data/circle_data.h"
#include "data/csv.h"
#include "data/data_warnings.h"
#include "data/dataset.h"
#include "model/feature_scaling.h"
#include "model/model_file.h"
#include "model/parameters.h"
#include "model/training_defaults.h"
#include "modules/fitting.h"
#include "modules/module_refusals.h"
#include "modules/module_runner.h"
#include "modules/modules.h"
#include "ensemble/continuation.h"
#include "ensemble/ensemble.h"
#include "ensemble/feature_screen.h"
#include "ensemble/prediction.h"
#include "ensemble/presentation_order.h"
#include "ensemble/stream_plan.h"
#include "ensemble/voting.h"
#include "evaluation/cross_validation.h"
#include "evaluation/file_classification.h"
#include "evaluation/folds.h"
#include "evaluation/hints.h"
#include "evaluation/parameter_search.h"
#include "evaluation/scores.h"
#include "evaluation/search_grid.h"
#include "render/class_colours.h"
#include "render/line_chart.h"
#include "render/model_pictures.h"
#include "render/node_projection.h"
#include "render/picture_view.h"
#include "render/score_pictures.h"
#include "render/svg_plot.h"
#include "render/svg_text.h"
