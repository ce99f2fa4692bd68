// k-fold cross-validation of one training setting: train on all folds but
// one, classify that one, for each fold in turn.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "../data/dataset.h"
#include "../ensemble/ensemble.h"
#include "../model/model_file.h"
#include "../modules/modules.h"

namespace qir {

struct FoldResult {
  std::size_t patterns = 0;  // in the test fold
  std::size_t correct = 0;
  std::size_t unknown = 0;  // left unclassified; they count as wrong
  std::size_t nodes = 0;
  double presentations = 0;
  double train_seconds = 0;
  double classify_seconds = 0;
  double accuracy_percent() const { return patterns == 0 ? 0 : 100.0 * correct / patterns; }
  double unknown_percent() const { return patterns == 0 ? 0 : 100.0 * unknown / patterns; }
};

struct CvResult {
  std::vector<FoldResult> folds;
  // Every pattern's true and assigned label, fold after fold, and the label
  // of the unclassified: the confusion over all folds.
  std::vector<double> true_labels, assigned_labels;
  double unknown_label = 0;
  // Means over the folds.
  double accuracy_percent() const;
  double unknown_percent() const;
  double nodes() const;
  double seconds() const;  // training and classification, summed over folds
};

struct CvSettings {
  int folds = 5;
  std::uint64_t seed = 1;  // of the folds
  Scaling scaling = Scaling::min_max;  // automatic: resolved on each training fold
  VotingSettings voting;  // one plain member unless set
  int workers = 0;        // members trained at once (ensemble.h)
  // D and the most list presentations are the defaults for each training
  // fold's own data (training_defaults.h), as a fit on that fold would take
  // them; the given values are then unused.
  bool default_D_per_fold = false;
  bool default_presentations_per_fold = false;
};

// One fold's result and its held-out patterns' true and assigned labels.
struct FoldOutcome {
  FoldResult result;
  std::vector<double> true_labels, assigned_labels;
};

// Fold `test` (0-based) of cross_validate alone, so that folds can run
// apart (in other processes, say); combine_folds puts their outcomes, in
// fold order, together into cross_validate's result.
FoldOutcome cross_validate_fold(Modules &runner, const Dataset &data,
                                const TrainingParams &params, const CvSettings &settings,
                                int test);
CvResult combine_folds(const Dataset &data, std::vector<FoldOutcome> outcomes);

// The scaling every training fold resolves settings.scaling to, or
// automatic when the folds resolve it differently.
Scaling fold_scaling(const Dataset &data, const CvSettings &settings);

// `on_fold(k)` is called before fold k (0-based) is trained. The modules run
// silently. Throws UsageError when the number of folds is below 2 or above
// the number of patterns.
CvResult cross_validate(Modules &runner, const Dataset &data, const TrainingParams &params,
                        const CvSettings &settings, const std::function<void(int)> &on_fold);

}  // namespace qir
