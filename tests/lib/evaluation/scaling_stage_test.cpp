// The search's scaling stage: the defaults under each scaling on the same
// folds, a scaling kept only when it clearly beats the defaults' own, and
// the grid screened under the one kept.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>

#include "evaluation/cross_validation.h"
#include "evaluation/parameter_search.h"
#include "modules/module_runner.h"

using namespace qir;

namespace {

// Two classes split by the sum of two features, beside two that carry
// nothing. With `outliers`, one pattern in ten has one of the two ten
// thousand times larger or smaller: their min-max ranges then squash every
// other pattern into a sliver, and the idle features decide the distances.
Dataset split_by_sum(std::size_t patterns, bool outliers) {
  Dataset data;
  std::uint64_t state = 7;
  auto uniform = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  for (std::size_t k = 0; k < patterns; ++k) {
    const double x = uniform(), y = uniform();
    const double far = outliers && k % 10 == 9 ? (k % 20 == 9 ? 1e4 : -1e4) : 1;
    const double idle = uniform(), other = uniform();
    data.patterns.push_back(k % 3 == 0 ? std::vector<double>{x * far, y, idle, other}
                                       : std::vector<double>{x, y * far, idle, other});
    data.labels.push_back(x + y > 1 ? 2 : 1);
  }
  return data;
}

CvSettings search_settings() {
  CvSettings settings;
  settings.folds = 3;
  settings.voting = {5, 1, true};
  return settings;
}

void expect_guarded(const SearchOutcome &outcome) {
  if (outcome.kept_defaults) {
    EXPECT_EQ(outcome.chosen.scaling, outcome.defaults.scaling);
    EXPECT_EQ(outcome.chosen.result.accuracy_percent(), outcome.defaults.result.accuracy_percent());
    return;
  }
  EXPECT_GT(outcome.chosen.gain, 0);
  EXPECT_GT(outcome.chosen.gain, outcome.chosen.gain_error);
}

}  // namespace

TEST(ScalingStage, ChoosesRankWhereOutliersSquashMinMaxAndScreensUnderIt) {
  ModuleRunner runner(module_directory(std::nullopt));
  const SearchOutcome outcome = run_search(runner, split_by_sum(150, true), search_settings(),
                                           [](const std::string &) {}, {}, true);
  ASSERT_EQ(outcome.scalings.size(), 2u);
  std::set<Scaling> tried;
  for (const SearchCandidate &c : outcome.scalings) tried.insert(c.scaling);
  EXPECT_EQ(tried, (std::set<Scaling>{Scaling::min_max, Scaling::rank}));
  EXPECT_EQ(outcome.defaults.scaling, Scaling::min_max);
  EXPECT_EQ(outcome.scalings.front().scaling, Scaling::rank);
  EXPECT_EQ(outcome.chosen.scaling, Scaling::rank);
  EXPECT_FALSE(outcome.kept_defaults);
  for (const SearchCandidate &c : outcome.screened) EXPECT_EQ(c.scaling, Scaling::rank);
  for (const SearchCandidate &c : outcome.finalists) EXPECT_EQ(c.scaling, Scaling::rank);
  // Rank scaling is what rescues this data: well above min-max's defaults.
  EXPECT_GT(outcome.scalings.front().result.accuracy_percent(),
            outcome.defaults.result.accuracy_percent() + 10);
  expect_guarded(outcome);
}

TEST(ScalingStage, KeepsMinMaxWhereItSuitsAndTriesOnlyAGivenScaling) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Dataset data = split_by_sum(150, false);
  const SearchOutcome chosen =
      run_search(runner, data, search_settings(), [](const std::string &) {}, {}, true);
  ASSERT_EQ(chosen.scalings.size(), 2u);
  for (const SearchCandidate &c : chosen.screened) EXPECT_EQ(c.scaling, Scaling::min_max);
  EXPECT_EQ(chosen.chosen.scaling, Scaling::min_max);
  expect_guarded(chosen);

  // The same search without the stage screens the same settings alike.
  const SearchOutcome fixed = run_search(runner, data, search_settings(), [](const std::string &) {});
  EXPECT_TRUE(fixed.scalings.empty());
  ASSERT_EQ(fixed.screened.size(), chosen.screened.size());
  for (std::size_t k = 0; k < fixed.screened.size(); ++k)
    EXPECT_EQ(fixed.screened[k].result.accuracy_percent(),
              chosen.screened[k].result.accuracy_percent());

  // A scaling given is the only one tried, even where another would win.
  CvSettings given = search_settings();
  given.scaling = Scaling::standard;
  const SearchOutcome standard = run_search(runner, split_by_sum(150, true), given,
                                            [](const std::string &) {});
  EXPECT_TRUE(standard.scalings.empty());
  EXPECT_EQ(standard.chosen.scaling, Scaling::standard);
  for (const SearchCandidate &c : standard.screened) EXPECT_EQ(c.scaling, Scaling::standard);
  expect_guarded(standard);
}

// An evaluator elsewhere is given each scaling's candidates apart, with the
// scaling in their settings, and the search chooses as the local one.
TEST(ScalingStage, ASearchRunElsewhereGetsEachScalingAndChoosesAlike) {
  ModuleRunner runner(module_directory(std::nullopt));
  ModuleRunner elsewhere(module_directory(std::nullopt));
  const Dataset data = split_by_sum(90, true);
  std::multiset<Scaling> scalings_seen;
  const SearchOutcome local =
      run_search(runner, data, search_settings(), [](const std::string &) {}, {}, true);
  const SearchOutcome apart = run_search(
      runner, data, search_settings(), [](const std::string &) {},
      [&](std::vector<SearchCandidate> &candidates, const CvSettings &shared) {
        for (auto &candidate : candidates) {
          EXPECT_EQ(candidate.scaling, shared.scaling);
          scalings_seen.insert(shared.scaling);
          CvSettings own = shared;
          own.voting = candidate.voting;
          candidate.result = cross_validate(elsewhere, data, candidate.params, own, [](int) {});
        }
      },
      true);
  EXPECT_EQ(scalings_seen.count(Scaling::standard) + scalings_seen.count(Scaling::rank) +
                scalings_seen.count(Scaling::min_max),
            local.screened.size() + local.finalists.size() + 2);
  EXPECT_EQ(apart.chosen.scaling, local.chosen.scaling);
  EXPECT_EQ(apart.chosen.params.D, local.chosen.params.D);
  EXPECT_EQ(apart.chosen.voting.voters, local.chosen.voting.voters);
  EXPECT_EQ(apart.kept_defaults, local.kept_defaults);
  EXPECT_EQ(apart.chose_scaled_defaults, local.chose_scaled_defaults);
}

// Under the automatic default the stage tries only the scaling the rule
// did not pick on the data: the one it picks would repeat the defaults.
TEST(ScalingStage, UnderAutoTriesOnlyTheScalingTheRuleLeftOut) {
  ModuleRunner runner(module_directory(std::nullopt));
  CvSettings automatic = search_settings();
  automatic.scaling = Scaling::automatic;
  for (bool outliers : {true, false}) {
    SCOPED_TRACE(outliers ? "outliers" : "clean");
    const Dataset data = split_by_sum(150, outliers);
    const SearchOutcome outcome =
        run_search(runner, data, automatic, [](const std::string &) {}, {}, true);
    ASSERT_EQ(outcome.scalings.size(), 2u);
    std::set<Scaling> tried;
    for (const SearchCandidate &c : outcome.scalings) tried.insert(c.scaling);
    const Scaling other = outliers ? Scaling::min_max : Scaling::rank;
    EXPECT_EQ(tried, (std::set<Scaling>{Scaling::automatic, other}));
    EXPECT_EQ(outcome.defaults.scaling, Scaling::automatic);
    expect_guarded(outcome);
    // Every training fold resolves the rule as the whole data do here.
    EXPECT_EQ(fold_scaling(data, automatic), outliers ? Scaling::rank : Scaling::min_max);
  }
  // One far value: the folds that train on it take rank, the one that
  // holds it out min-max, and cv says the folds differ.
  Dataset one_far = split_by_sum(150, false);
  one_far.patterns[4][0] = 1e4;
  EXPECT_EQ(fold_scaling(one_far, automatic), Scaling::automatic);
}
