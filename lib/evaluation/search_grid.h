// The settings that `qir search` tries. D is given relative to sqrt(M), M the
// features that vary: the diagonal of the unit cube that the scaled patterns
// span, so one grid suits
// data of any width. The node settings are screened with one shuffled
// member each; the best go on to be tried with several numbers of voters.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "../model/model_file.h"
#include "cross_validation.h"

namespace qir {

// Every combination of the grid's node settings, the other parameters at
// their defaults, for data of which `varying` features vary (data_warnings.h);
// in a fixed order.
std::vector<TrainingParams> search_grid(std::size_t varying);

// The numbers of voters that the best node settings are tried with.
const std::vector<int> &search_voters();

// How many of the screened settings go on to the ensembles (one keeps a
// search of digits under a minute on two cores).
constexpr std::size_t search_finalists = 1;

// The scalings a search that chooses the scaling tries at the defaults
// (feature_scaling.h), min-max first: rank stands to gain where outliers
// squash a feature's min-max range. Standardising is left out: it never
// beat both others but by acting as another D, which the grid tries, and
// a lucky inner split chose it at a loss.
const std::vector<Scaling> &search_scalings();

// The grid's values, for the help text.
std::string search_grid_text();

// How one setting fared in cross-validation (mean percentages and nodes).
struct SettingScore {
  double accuracy = 0;
  double unknown = 0;
  double nodes = 0;
};

// The settings best first: higher accuracy, then fewer unclassified
// patterns, then fewer nodes; equal scores keep their grid order.
std::vector<std::size_t> rank_settings(const std::vector<SettingScore> &scores);

// A setting's gain over the defaults on the same folds: the mean of the
// per-fold accuracy differences (points) and its standard error. Each
// difference is taken in patterns before it becomes points, so folds whose
// gains cancel give a gain of exactly 0, not a rounding residue of either sign.
struct FoldGain {
  double mean = 0;
  double error = 0;
};
FoldGain fold_gain(const CvResult &result, const CvResult &defaults);

// The search's guard: a setting replaces the defaults only when it beats
// them by more than the standard error of its gain.
bool clearly_better(const FoldGain &gain);

}  // namespace qir
