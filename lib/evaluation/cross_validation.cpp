#include "cross_validation.h"

#include <chrono>

#include "../data/data_warnings.h"
#include "../base/errors.h"
#include "../modules/fitting.h"
#include "folds.h"
#include "../model/training_defaults.h"

namespace qir {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void split(const Dataset &data, const std::vector<int> &fold, int test, Dataset &train,
           Dataset &held_out) {
  for (std::size_t k = 0; k < fold.size(); ++k) {
    Dataset &part = fold[k] == test ? held_out : train;
    part.patterns.push_back(data.patterns[k]);
    part.labels.push_back(data.labels[k]);
  }
}

FoldResult run_fold(ModuleRunner &runner, const Dataset &train, const Dataset &test,
                    const TrainingParams &p, const CvSettings &settings, double unknown,
                    CvResult &pooled) {
  FoldResult result;
  const auto start = Clock::now();
  EnsembleOptions options;
  options.workers = settings.workers;
  const Model model = fit_model(runner, train, p, settings.scale, 0, settings.voting, options);
  result.train_seconds = seconds_since(start);
  const ClassifyParams classify{p.D, p.ratio, p.vigilance, p.alpha, p.ct, unknown, 0};
  const auto classified = Clock::now();
  const std::vector<double> assigned = apply_model(runner, model, test.patterns, classify);
  result.classify_seconds = seconds_since(classified);
  result.patterns = test.labels.size();
  result.nodes = model.total_nodes();
  for (const Member &member : model.members) result.presentations += member.list_presentations;
  result.presentations /= static_cast<double>(model.members.size());
  for (std::size_t k = 0; k < assigned.size(); ++k) {
    result.unknown += assigned[k] == unknown ? 1 : 0;
    result.correct += assigned[k] == test.labels[k] ? 1 : 0;
  }
  pooled.true_labels.insert(pooled.true_labels.end(), test.labels.begin(), test.labels.end());
  pooled.assigned_labels.insert(pooled.assigned_labels.end(), assigned.begin(), assigned.end());
  return result;
}

template <typename Field>
double mean(const std::vector<FoldResult> &folds, Field field) {
  double sum = 0;
  for (const auto &fold : folds) sum += field(fold);
  return folds.empty() ? 0 : sum / static_cast<double>(folds.size());
}

}  // namespace

double CvResult::accuracy_percent() const {
  return mean(folds, [](const FoldResult &f) { return f.accuracy_percent(); });
}
double CvResult::unknown_percent() const {
  return mean(folds, [](const FoldResult &f) { return f.unknown_percent(); });
}
double CvResult::nodes() const {
  return mean(folds, [](const FoldResult &f) { return static_cast<double>(f.nodes); });
}
double CvResult::seconds() const {
  return mean(folds, [](const FoldResult &f) { return f.train_seconds + f.classify_seconds; }) *
         static_cast<double>(folds.size());
}

CvResult cross_validate(ModuleRunner &runner, const Dataset &data, const TrainingParams &params,
                        const CvSettings &settings, const std::function<void(int)> &on_fold) {
  const std::size_t count = data.patterns.size();
  if (settings.folds < 2 || static_cast<std::size_t>(settings.folds) > count)
    throw UsageError("--folds must lie between 2 and the number of patterns (" +
                     std::to_string(count) + ")");
  const std::vector<int> fold = stratified_folds(data.labels, settings.folds, settings.seed);
  const double unknown = free_label(data.labels);
  CvResult result;
  result.unknown_label = unknown;
  for (int test = 0; test < settings.folds; ++test) {
    on_fold(test);
    Dataset train, held_out;
    split(data, fold, test, train, held_out);
    TrainingParams fold_params = params;
    if (settings.default_D_per_fold) fold_params.D = default_D(varying_features(train.patterns));
    if (settings.default_presentations_per_fold)
      fold_params.max_presentations =
          default_max_presentations(train.patterns.size(), settings.voting.voters);
    result.folds.push_back(run_fold(runner, train, held_out, fold_params, settings, unknown, result));
  }
  return result;
}

}  // namespace qir
