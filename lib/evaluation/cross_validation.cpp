#include "cross_validation.h"

#include <chrono>
#include <optional>

#include "../data/data_warnings.h"
#include "../base/errors.h"
#include "../model/feature_scaling.h"
#include "../ensemble/presentation_order.h"
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

FoldOutcome run_fold(Modules &runner, const Dataset &train, const Dataset &test,
                     const TrainingParams &p, const CvSettings &settings, double unknown) {
  FoldOutcome outcome;
  FoldResult &result = outcome.result;
  const auto start = Clock::now();
  EnsembleOptions options;
  options.workers = settings.workers;
  const Model model = fit_model(runner, train, p, settings.scaling, 0, settings.voting, options);
  result.train_seconds = seconds_since(start);
  const ClassifyParams classify{p.D, p.ratio, p.vigilance, p.alpha, p.ct, unknown, 0};
  const auto classified = Clock::now();
  outcome.assigned_labels = apply_model(runner, model, test.patterns, classify);
  result.classify_seconds = seconds_since(classified);
  result.patterns = test.labels.size();
  result.nodes = model.total_nodes();
  for (const Member &member : model.members) result.presentations += member.list_presentations;
  result.presentations /= static_cast<double>(model.members.size());
  const auto &assigned = outcome.assigned_labels;
  for (std::size_t k = 0; k < assigned.size(); ++k) {
    result.unknown += assigned[k] == unknown ? 1 : 0;
    result.correct += assigned[k] == test.labels[k] ? 1 : 0;
  }
  outcome.true_labels = test.labels;
  return outcome;
}

void check_folds(const CvSettings &settings, std::size_t count) {
  if (settings.folds < 2 || static_cast<std::size_t>(settings.folds) > count)
    throw UsageError("--folds must lie between 2 and the number of patterns (" +
                     std::to_string(count) + ")");
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

FoldOutcome cross_validate_fold(Modules &runner, const Dataset &data,
                                const TrainingParams &params, const CvSettings &settings,
                                int test) {
  check_folds(settings, data.patterns.size());
  if (test < 0 || test >= settings.folds)
    throw UsageError("fold " + std::to_string(test + 1) + " of " +
                     std::to_string(settings.folds));
  const std::vector<int> fold = stratified_folds(data.labels, settings.folds, settings.seed);
  Dataset train, held_out;
  split(data, fold, test, train, held_out);
  TrainingParams fold_params = params;
  if (settings.default_D_per_fold) fold_params.D = default_D(varying_features(train.patterns));
  if (settings.default_presentations_per_fold)
    fold_params.max_presentations =
        default_max_presentations(member_rows(train.patterns.size(), settings.voting),
                                  settings.voting.voters);
  return run_fold(runner, train, held_out, fold_params, settings, free_label(data.labels));
}

Scaling fold_scaling(const Dataset &data, const CvSettings &settings) {
  if (settings.scaling != Scaling::automatic || data.patterns.empty())
    return resolved_scaling(settings.scaling, data.patterns);
  check_folds(settings, data.patterns.size());
  const std::vector<int> fold = stratified_folds(data.labels, settings.folds, settings.seed);
  std::optional<Scaling> common;
  for (int test = 0; test < settings.folds; ++test) {
    Dataset train, held_out;
    split(data, fold, test, train, held_out);
    const Scaling scaling = resolved_scaling(settings.scaling, train.patterns);
    if (common && *common != scaling) return Scaling::automatic;
    common = scaling;
  }
  return *common;
}

CvResult combine_folds(const Dataset &data, std::vector<FoldOutcome> outcomes) {
  CvResult result;
  result.unknown_label = free_label(data.labels);
  for (auto &outcome : outcomes) {
    result.folds.push_back(outcome.result);
    result.true_labels.insert(result.true_labels.end(), outcome.true_labels.begin(),
                              outcome.true_labels.end());
    result.assigned_labels.insert(result.assigned_labels.end(), outcome.assigned_labels.begin(),
                                  outcome.assigned_labels.end());
  }
  return result;
}

CvResult cross_validate(Modules &runner, const Dataset &data, const TrainingParams &params,
                        const CvSettings &settings, const std::function<void(int)> &on_fold) {
  check_folds(settings, data.patterns.size());
  std::vector<FoldOutcome> outcomes;
  for (int test = 0; test < settings.folds; ++test) {
    on_fold(test);
    outcomes.push_back(cross_validate_fold(runner, data, params, settings, test));
  }
  return combine_folds(data, std::move(outcomes));
}

}  // namespace qir
