#include "parameter_search.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "../data/data_warnings.h"
#include "../ensemble/presentation_order.h"
#include "search_grid.h"
#include "../model/training_defaults.h"

namespace qir {
namespace {

void set_gain(SearchCandidate &a, const SearchCandidate &b) {
  const FoldGain gain = fold_gain(a.result, b.result);
  a.gain = gain.mean;
  a.gain_error = gain.error;
}

// Cross-validates every candidate, several at a time, each worker thread
// through its own private copy of the modules (one at a time through an
// interpreter).
void cross_validate_all(Modules &runner, const Dataset &data, const CvSettings &settings,
                        std::vector<SearchCandidate> &candidates,
                        const std::function<void(std::size_t)> &on_done) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr failure;
  std::mutex lock;
  auto work = [&](Modules &worker) {
    for (std::size_t k; !failed && (k = next.fetch_add(1)) < candidates.size();) {
      try {
        CvSettings own = settings;
        own.voting = candidates[k].voting;
        own.workers = 1;
        candidates[k].result = cross_validate(worker, data, candidates[k].params, own, [](int) {});
        const std::lock_guard<std::mutex> one_at_a_time(lock);
        on_done(k);
      } catch (...) {
        const std::lock_guard<std::mutex> one_at_a_time(lock);
        if (!failure) failure = std::current_exception();
        failed = true;
      }
    }
  };
  const std::size_t workers =
      runner.interpreter()
          ? 1
          : std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, candidates.size());
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < workers; ++k) {
    try {
      threads.emplace_back(work, std::ref(runner.worker(k)));
    } catch (const std::system_error &) {
      break;
    }
  }
  work(runner);
  for (auto &thread : threads) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void rank(std::vector<SearchCandidate> &candidates) {
  std::vector<SettingScore> scores;
  for (const auto &c : candidates)
    scores.push_back({c.result.accuracy_percent(), c.result.unknown_percent(), c.result.nodes()});
  std::vector<SearchCandidate> ranked;
  for (std::size_t k : rank_settings(scores)) ranked.push_back(std::move(candidates[k]));
  candidates = std::move(ranked);
}

SearchCandidate default_candidate(std::size_t varying, const VotingSettings &voting) {
  SearchCandidate candidate;
  candidate.params = default_params(default_D(varying), training_defaults.max_presentations);
  candidate.voting = voting;
  return candidate;
}

namespace {

// Cross-validates ensembles one after the other (their members train side
// by side), or through `evaluate` all at once; `name` labels the steps.
void evaluate_ensembles(Modules &runner, const Dataset &data, const CvSettings &settings,
                        std::vector<SearchCandidate> &candidates,
                        const std::function<void(const std::string &)> &on_step,
                        const CandidateEvaluator &evaluate, const std::string &name) {
  if (evaluate) {
    on_step(name + " " + std::to_string(candidates.size()));
    evaluate(candidates, settings);
    return;
  }
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    on_step(name + " " + std::to_string(k + 1) + "/" + std::to_string(candidates.size()));
    CvSettings own = settings;
    own.voting = candidates[k].voting;
    candidates[k].result = cross_validate(runner, data, candidates[k].params, own, [](int) {});
  }
}

// The defaults under each other scaling, on the defaults' folds; a scaling
// replaces the defaults' only when it beats them clearly, so that the grid
// is screened under it. The one the defaults' own would resolve to on the
// data is left out: on nearly every fold it is the defaults again.
Scaling scaling_stage(Modules &runner, const Dataset &data, const CvSettings &as_defaults,
                      SearchOutcome &outcome,
                      const std::function<void(const std::string &)> &on_step,
                      const CandidateEvaluator &evaluate) {
  outcome.scalings.push_back(outcome.defaults);
  const Scaling resolved = resolved_scaling(as_defaults.scaling, data.patterns);
  for (Scaling scaling : search_scalings()) {
    if (scaling == as_defaults.scaling || scaling == resolved) continue;
    std::vector<SearchCandidate> scaled{outcome.defaults};
    scaled.front().scaling = scaling;
    CvSettings own = as_defaults;
    own.scaling = scaling;
    evaluate_ensembles(runner, data, own, scaled, on_step, evaluate, "scaling");
    set_gain(scaled.front(), outcome.defaults);
    outcome.scalings.push_back(std::move(scaled.front()));
  }
  rank(outcome.scalings);
  for (const SearchCandidate &candidate : outcome.scalings)
    if (candidate.scaling == as_defaults.scaling ||
        clearly_better({candidate.gain, candidate.gain_error}))
      return candidate.scaling;
  return as_defaults.scaling;
}

}  // namespace

SearchOutcome run_search(Modules &runner, const Dataset &data, const CvSettings &settings,
                         const std::function<void(const std::string &)> &on_step,
                         const CandidateEvaluator &evaluate, bool choose_scaling) {
  const auto start = std::chrono::steady_clock::now();
  SearchOutcome outcome;
  const std::size_t varying = varying_features(data.patterns);
  // Every setting trains as `qir train` would train it: the most list
  // presentations are the default for each training fold and its voters.
  CvSettings per_fold = settings;
  per_fold.default_presentations_per_fold = true;
  CvSettings as_defaults = per_fold;  // each training fold's own D, as `qir cv` takes it
  as_defaults.default_D_per_fold = true;

  std::vector<SearchCandidate> defaults{default_candidate(varying, settings.voting)};
  defaults.front().scaling = settings.scaling;
  evaluate_ensembles(runner, data, as_defaults, defaults, on_step, evaluate, "the defaults");
  outcome.defaults = std::move(defaults.front());
  const Scaling scaling = choose_scaling ? scaling_stage(runner, data, as_defaults, outcome,
                                                         on_step, evaluate)
                                         : settings.scaling;
  per_fold.scaling = scaling;

  // Every candidate's members draw the rows the defaults' members draw,
  // and keep the defaults' screen of the features (each training fold's).
  VotingSettings screening{1, settings.voting.seed, true};
  screening.max_samples = settings.voting.max_samples;
  screening.screen = settings.voting.screen;
  for (const TrainingParams &params : search_grid(varying))
    outcome.screened.push_back({params, screening, scaling, {}, 0, 0});
  std::size_t done = 0;
  if (evaluate) {
    on_step("screening " + std::to_string(outcome.screened.size()));
    evaluate(outcome.screened, per_fold);
  } else {
    cross_validate_all(runner, data, per_fold, outcome.screened, [&](std::size_t) {
      on_step("screening " + std::to_string(++done) + "/" +
              std::to_string(outcome.screened.size()));
    });
  }
  rank(outcome.screened);

  const std::size_t finalists = std::min(search_finalists, outcome.screened.size());
  for (std::size_t k = 0; k < finalists; ++k)
    for (int voters : search_voters()) {
      SearchCandidate candidate = outcome.screened[k];
      candidate.voting = screening;
      candidate.voting.voters = voters;
      outcome.finalists.push_back(candidate);
    }
  evaluate_ensembles(runner, data, per_fold, outcome.finalists, on_step, evaluate, "finalist");
  for (SearchCandidate &candidate : outcome.finalists) set_gain(candidate, outcome.defaults);
  rank(outcome.finalists);

  // The best finalist, or the defaults under the chosen scaling, if it
  // clearly beats the defaults, the better by the search's ranking.
  std::vector<SearchCandidate> rivals;
  if (!outcome.finalists.empty()) rivals.push_back(outcome.finalists.front());
  for (const SearchCandidate &candidate : outcome.scalings)
    if (candidate.scaling == scaling && scaling != settings.scaling) rivals.push_back(candidate);
  const std::size_t finalist_rivals = outcome.finalists.empty() ? 0 : 1;
  std::vector<SettingScore> scores;
  for (const auto &c : rivals)
    scores.push_back({c.result.accuracy_percent(), c.result.unknown_percent(), c.result.nodes()});
  outcome.chosen = outcome.defaults;
  for (std::size_t k : rank_settings(scores))
    if (clearly_better({rivals[k].gain, rivals[k].gain_error})) {
      outcome.chosen = rivals[k];
      outcome.kept_defaults = false;
      outcome.chose_scaled_defaults = k >= finalist_rivals;
      break;
    }
  outcome.chosen.params.max_presentations =
      default_max_presentations(member_rows(data.patterns.size(), outcome.chosen.voting),
                                outcome.chosen.voting.voters);
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return outcome;
}

}  // namespace qir
