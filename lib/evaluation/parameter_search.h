// The search for a training setting that suits the data better than the
// defaults, by cross-validation inside the given data only. Unless the
// scaling is given, it first tries the defaults under each scaling of
// search_scalings() and keeps min-max unless rank beats it clearly; it
// then screens the node settings of the grid (search_grid.h) under that
// scaling with one shuffled member each, tries the best few with several
// numbers of voters, and keeps the defaults unless the best of those (or
// the defaults under the chosen scaling) beats them by more than the
// standard error of its per-fold gain (the same folds for all), so a
// search never trades a sound default for a lucky split.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cross_validation.h"
#include "../data/dataset.h"
#include "../model/model_file.h"
#include "../modules/modules.h"

namespace qir {

struct SearchCandidate {
  TrainingParams params;
  VotingSettings voting;
  Scaling scaling = Scaling::min_max;
  CvResult result;
  double gain = 0;        // mean per-fold accuracy gain over the defaults, in points
  double gain_error = 0;  // its standard error over the folds
};

struct SearchOutcome {
  // The defaults under each scaling tried, best first; empty when the
  // scaling was given. Their gain is over the defaults.
  std::vector<SearchCandidate> scalings;
  std::vector<SearchCandidate> screened;   // one shuffled member each, best first
  std::vector<SearchCandidate> finalists;  // ensembles of the best settings, best first
  SearchCandidate defaults;
  // The defaults unless a finalist or the defaults under another scaling
  // clearly beat them; its most list presentations are the default for all
  // the data.
  SearchCandidate chosen;
  bool kept_defaults = true;
  bool chose_scaled_defaults = false;  // the defaults' setting under another scaling
  double seconds = 0;
};

// The defaults' setting for data of which `varying` features vary, with
// `voting`.
SearchCandidate default_candidate(std::size_t varying, const VotingSettings &voting);

// Cross-validates each candidate with its own voting under `settings`,
// setting its `result`: run_search does it through `runner`, several
// candidates at a time, unless given another way (a cluster's workers, say).
using CandidateEvaluator =
    std::function<void(std::vector<SearchCandidate> &, const CvSettings &)>;

// `on_step` receives a short description of the work in hand ("screening
// 12/96", ...), one call at a time. `settings.voting` gives the seed and
// the defaults' voters; `settings.scaling` the defaults' scaling, the only
// one tried unless `choose_scaling`. An evaluator is given each scaling's
// candidates apart, with that scaling in its settings.
SearchOutcome run_search(Modules &runner, const Dataset &data, const CvSettings &settings,
                         const std::function<void(const std::string &)> &on_step,
                         const CandidateEvaluator &evaluate = {},
                         bool choose_scaling = false);

// Best first, by the search's one ranking rule (rank_settings).
void rank(std::vector<SearchCandidate> &candidates);

}  // namespace qir
