// Training and classification as every front end does them: the modules'
// calls through their seam (modules.h), with the min-max scaling of the
// features around them.
#pragma once

#include <vector>

#include "../data/dataset.h"
#include "../ensemble/ensemble.h"
#include "../model/model_file.h"
#include "modules.h"

namespace qir {

// The members' qir_train calls on `data` (one call for a plain model); with
// `scale` the features are first scaled to [0, 1] by their range in `data`,
// which the model keeps.
Model fit_model(Modules &runner, const Dataset &data, const TrainingParams &params,
                bool scale, double oflag, const VotingSettings &voting = {},
                const EnsembleOptions &options = {});

// Continues `earlier` on `data` (a further batch): the patterns are scaled
// by earlier's ranges, clipped as classification clips them, and each
// member goes on from its own nodes (continue_ensemble). Load `data` with
// earlier's class names as the known ones, so that a name keeps its label
// and a new name gets a label of its own. Throws InputError when the data
// have a different number of features, or class names where the model has
// numbers (or the reverse).
Model continue_model(Modules &runner, const Model &earlier, const Dataset &data,
                     const TrainingParams &params, double oflag,
                     const EnsembleOptions &options = {});

// One qir_perf call per member and their vote: one label per pattern, the
// patterns scaled first when the model scales. Throws InputError when the
// data have a different number of features than the model.
VoteResult vote_on(Modules &runner, const Model &model,
                   const std::vector<std::vector<double>> &patterns,
                   const ClassifyParams &params);
// Throws the InputError of vote_on when patterns of `features` features
// do not fit the model.
void check_feature_count(const Model &model, std::size_t features);
std::vector<double> apply_model(Modules &runner, const Model &model,
                                const std::vector<std::vector<double>> &patterns,
                                const ClassifyParams &params);

// A label that no class of `labels` carries (one below the smallest), for
// patterns that no node classifies.
double free_label(const std::vector<double> &labels);

}  // namespace qir
