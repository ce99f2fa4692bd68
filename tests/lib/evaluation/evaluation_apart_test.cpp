// Cross-validation and the search run apart, as a cluster runs them: folds
// one at a time in any order, settings through another evaluator, with the
// results of the library's own runs.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <optional>
#include <set>

#include "base/errors.h"
#include "evaluation/cross_validation.h"
#include "evaluation/parameter_search.h"
#include "evaluation/search_grid.h"
#include "modules/module_runner.h"

using namespace qir;

namespace {

Dataset three_bands(std::size_t per_class) {
  Dataset data;
  for (std::size_t k = 0; k < 3 * per_class; ++k) {
    const double x = static_cast<double>((k * 37) % 101) / 101.0;
    const double y = static_cast<double>((k * 53) % 89) / 89.0;
    data.patterns.push_back({x, y});
    data.labels.push_back(1.0 + static_cast<double>(static_cast<int>(3 * x + 0.4 * y) % 3));
  }
  return data;
}

void expect_same(const CvResult &a, const CvResult &b) {
  ASSERT_EQ(a.folds.size(), b.folds.size());
  for (std::size_t k = 0; k < a.folds.size(); ++k) {
    EXPECT_EQ(a.folds[k].patterns, b.folds[k].patterns);
    EXPECT_EQ(a.folds[k].correct, b.folds[k].correct);
    EXPECT_EQ(a.folds[k].unknown, b.folds[k].unknown);
    EXPECT_EQ(a.folds[k].nodes, b.folds[k].nodes);
    EXPECT_EQ(a.folds[k].presentations, b.folds[k].presentations);
  }
  EXPECT_EQ(a.true_labels, b.true_labels);
  EXPECT_EQ(a.assigned_labels, b.assigned_labels);
  EXPECT_EQ(a.unknown_label, b.unknown_label);
}

}  // namespace

TEST(EvaluationApart, FoldsRunOneByOneCombineIntoTheCrossValidation) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Dataset data = three_bands(30);
  CvSettings settings;
  settings.folds = 4;
  settings.seed = 3;
  settings.voting = {3, 3, true};
  settings.default_D_per_fold = settings.default_presentations_per_fold = true;
  const TrainingParams params{0, 0.75, 0.3, 0.1, 1, 0, 1, 0};
  const CvResult whole = cross_validate(runner, data, params, settings, [](int) {});
  std::vector<FoldOutcome> apart(4);
  for (int fold : {2, 0, 3, 1}) apart[fold] = cross_validate_fold(runner, data, params, settings, fold);
  expect_same(combine_folds(data, apart), whole);
  EXPECT_THROW(cross_validate_fold(runner, data, params, settings, 4), UsageError);
  settings.folds = 1;
  EXPECT_THROW(cross_validate_fold(runner, data, params, settings, 0), UsageError);
}

TEST(EvaluationApart, ASearchWhoseSettingsRunElsewhereChoosesAsTheLocalOne) {
  ModuleRunner runner(module_directory(std::nullopt));
  ModuleRunner elsewhere(module_directory(std::nullopt));
  const Dataset data = three_bands(20);
  CvSettings settings;
  settings.folds = 3;
  settings.voting = {5, 1, true};
  std::size_t evaluated = 0;
  const SearchOutcome local = run_search(runner, data, settings, [](const std::string &) {});
  const SearchOutcome apart = run_search(
      runner, data, settings, [](const std::string &) {},
      [&](std::vector<SearchCandidate> &candidates, const CvSettings &shared) {
        for (auto &candidate : candidates) {
          CvSettings own = shared;
          own.voting = candidate.voting;
          candidate.result = cross_validate(elsewhere, data, candidate.params, own, [](int) {});
          ++evaluated;
        }
      });
  EXPECT_EQ(evaluated, local.screened.size() + local.finalists.size() + 1);
  ASSERT_EQ(apart.screened.size(), local.screened.size());
  ASSERT_EQ(apart.finalists.size(), local.finalists.size());
  for (std::size_t k = 0; k < local.screened.size(); ++k)
    expect_same(apart.screened[k].result, local.screened[k].result);
  for (std::size_t k = 0; k < local.finalists.size(); ++k) {
    expect_same(apart.finalists[k].result, local.finalists[k].result);
    EXPECT_EQ(apart.finalists[k].gain, local.finalists[k].gain);
  }
  expect_same(apart.defaults.result, local.defaults.result);
  EXPECT_EQ(apart.kept_defaults, local.kept_defaults);
  EXPECT_EQ(apart.chosen.params.D, local.chosen.params.D);
  EXPECT_EQ(apart.chosen.voting.voters, local.chosen.voting.voters);
}

// The search's D reaches past both ends where the best settings sat: from a
// quarter to nearly three times sqrt(M), in steps of sqrt(2).
TEST(SearchGrid, DSpansAQuarterToNearlyThreeTimesTheRootOfM) {
  const std::vector<TrainingParams> grid = search_grid(16);
  std::set<double> D;
  for (const TrainingParams &p : grid) D.insert(p.D);
  ASSERT_EQ(D.size(), 8u);
  EXPECT_DOUBLE_EQ(*D.begin(), 1.0);   // 0.25 x sqrt(16)
  EXPECT_NEAR(*D.rbegin(), 11.3137, 1e-4);  // 2.83 x sqrt(16)
  for (auto at = std::next(D.begin()); at != D.end(); ++at)
    EXPECT_NEAR(*at / *std::prev(at), std::sqrt(2.0), 1e-12);
  EXPECT_EQ(grid.size(), 8u * 2 * 3 * 2 * 2);
  EXPECT_NE(search_grid_text().find("0.25, 0.354, 0.5, 0.707, 1, 1.41, 2, 2.83 times sqrt(M)"),
            std::string::npos);
}
