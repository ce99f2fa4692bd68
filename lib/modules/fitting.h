// Training and classification as every front end does them: the modules'
// calls through their seam (modules.h), with the scaling of the features
// around them (feature_scaling.h).
#pragma once

#include <vector>

#include "../data/dataset.h"
#include "../ensemble/ensemble.h"
#include "../model/model_file.h"
#include "modules.h"

namespace qir {

// The members' qir_train calls on `data` (one call for a plain model), the
// features first scaled as `scaling` fitted on `data` scales them, which
// the model keeps.
Model fit_model(Modules &runner, const Dataset &data, const TrainingParams &params,
                Scaling scaling, double oflag, const VotingSettings &voting = {},
                const EnsembleOptions &options = {});

// The same, releasing `data`'s rows once the members' scaled copy is made:
// what a command that trains once and is done needs (a large file's rows
// and the copy would otherwise be held side by side all through training).
Model fit_model(Modules &runner, Dataset &&data, const TrainingParams &params, Scaling scaling,
                double oflag, const VotingSettings &voting = {},
                const EnsembleOptions &options = {});

// Today's switch: true scales by min-max, false not at all.
inline Model fit_model(Modules &runner, const Dataset &data, const TrainingParams &params,
                       bool scale, double oflag, const VotingSettings &voting = {},
                       const EnsembleOptions &options = {}) {
  return fit_model(runner, data, params, scale ? Scaling::min_max : Scaling::none, oflag, voting,
                   options);
}

// Continues `earlier` on `data` (a further batch): the patterns are scaled
// by earlier's scaling, clipped as classification clips them, and each
// member goes on from its own nodes (continue_ensemble). Load `data` with
// earlier's class names as the known ones, so that a name keeps its label
// and a new name gets a label of its own. Throws InputError when the data
// have a different number of features, or class names where the model has
// numbers (or the reverse).
Model continue_model(Modules &runner, const Model &earlier, const Dataset &data,
                     const TrainingParams &params, double oflag,
                     const EnsembleOptions &options = {});

// The members' qir_perf calls (classify_in_blocks) and their vote: one
// label per pattern, the patterns scaled first when the model scales. Throws InputError when the
// data have a different number of features than the model.
VoteResult vote_on(Modules &runner, const Model &model,
                   const std::vector<std::vector<double>> &patterns,
                   const ClassifyParams &params, VoteNeeds needs = VoteNeeds::everything);
// vote_on of patterns given column-major (N x M), as a host holds them:
// one scaled copy, none when the model does not scale.
VoteResult vote_on(Modules &runner, const Model &model, PatternMatrix patterns,
                   const ClassifyParams &params, VoteNeeds needs = VoteNeeds::everything);
// Throws the InputError of vote_on when patterns of `features` features
// do not fit the model.
void check_feature_count(const Model &model, std::size_t features);
std::vector<double> apply_model(Modules &runner, const Model &model,
                                const std::vector<std::vector<double>> &patterns,
                                const ClassifyParams &params);  // the labels of vote_on

// A label that no class of `labels` carries (one below the smallest), for
// patterns that no node classifies.
double free_label(const std::vector<double> &labels);

}  // namespace qir
