// Members of a large training that each draw their own rows: the draw
// (size, no repeats, its stream, its order), the threshold below which
// nothing changes, and members trained on their draw with its labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>

#include "base/errors.h"
#include "base/prng.h"
#include "ensemble/ensemble.h"
#include "evaluation/parameter_search.h"
#include "model/training_defaults.h"
#include "modules/module_runner.h"

using namespace qir;

namespace {

VotingSettings drawing(int voters, std::uint64_t seed, double max_samples, bool bootstrap = false) {
  VotingSettings voting{voters, seed, true, 1, bootstrap};
  voting.max_samples = max_samples;
  return voting;
}

// The documented shuffle, written out: Fisher-Yates from the last place
// down on the member's stream, `steps` steps of it.
std::vector<std::size_t> fisher_yates(std::size_t n, std::uint64_t stream, std::size_t steps) {
  std::vector<std::size_t> order(n);
  for (std::size_t k = 0; k < n; ++k) order[k] = k;
  Xorshift64Star random(stream);
  for (std::size_t i = n; i > 1 && n - i < steps; --i) std::swap(order[i - 1], order[random.below(i)]);
  return order;
}

}  // namespace

TEST(RowDraws, EachMemberDrawsItsOwnRowsWithoutReplacement) {
  const std::size_t n = 500, drawn = 120;
  const VotingSettings voting = drawing(6, 9, drawn);
  EXPECT_EQ(member_rows(n, voting), drawn);
  std::set<std::vector<std::size_t>> draws;
  for (int member = 0; member < voting.voters; ++member) {
    const auto rows = presentation_order(n, voting, member);
    ASSERT_EQ(rows.size(), drawn);
    EXPECT_EQ(std::set<std::size_t>(rows.begin(), rows.end()).size(), drawn);  // no repeats
    EXPECT_LT(*std::max_element(rows.begin(), rows.end()), n);
    EXPECT_FALSE(std::is_sorted(rows.begin(), rows.end()));  // in a shuffled order
    EXPECT_EQ(rows, presentation_order(n, voting, member));  // from the seed alone
    // The last places of the shuffle's first steps on the member's stream.
    const auto full = fisher_yates(n, member_stream(9, member), drawn);
    EXPECT_EQ(rows, std::vector<std::size_t>(full.end() - drawn, full.end()));
    draws.insert(rows);
  }
  EXPECT_EQ(draws.size(), 6u);
  EXPECT_NE(presentation_order(n, voting, 0), presentation_order(n, drawing(6, 10, drawn), 0));
  EXPECT_NE(presentation_order(n, voting, 0), presentation_order(n, voting, 0, 1));  // a batch

  // With bootstrap: that many draws with replacement.
  const auto bagged = presentation_order(n, drawing(6, 9, drawn, true), 2);
  ASSERT_EQ(bagged.size(), drawn);
  EXPECT_LT(*std::max_element(bagged.begin(), bagged.end()), n);
  EXPECT_LT(std::set<std::size_t>(bagged.begin(), bagged.end()).size(), drawn);
}

TEST(RowDraws, DataAtOrBelowTheThresholdKeepTheWholeShuffle) {
  const std::size_t n = 300;
  for (const double max_samples : {0.0, 300.0, 301.0, 1e12}) {
    SCOPED_TRACE(max_samples);
    const VotingSettings voting = drawing(3, 4, max_samples);
    EXPECT_EQ(member_rows(n, voting), n);
    EXPECT_EQ(presentation_order(n, voting, 1), fisher_yates(n, member_stream(4, 1), n));
    EXPECT_EQ(presentation_order(n, drawing(3, 4, max_samples, true), 1).size(), n);
  }
  // Without shuffling there is no draw: every row, in the data's order.
  VotingSettings plain{1, 4, false};
  plain.max_samples = 10;
  EXPECT_EQ(member_rows(n, plain), n);
  EXPECT_EQ(presentation_order(n, plain, 0).size(), n);
  // The default leaves every data set up to its size untouched.
  const auto defaults = default_voting(1);
  EXPECT_EQ(member_rows(static_cast<std::size_t>(training_defaults.max_samples), defaults),
            static_cast<std::size_t>(training_defaults.max_samples));
  EXPECT_EQ(member_rows(static_cast<std::size_t>(training_defaults.max_samples) + 1, defaults),
            static_cast<std::size_t>(training_defaults.max_samples));
}

TEST(RowDraws, TheRowsAreAWholeNumberAtLeastZero) {
  for (const double bad : {-1.0, 2.5, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_THROW(check_voting(drawing(3, 1, bad)), UsageError) << bad;
  EXPECT_NO_THROW(check_voting(drawing(3, 1, 0)));
  EXPECT_NO_THROW(check_voting(drawing(3, 1, 1)));
}

TEST(RowDraws, MembersTrainOnTheirDrawWithItsLabels) {
  ModuleRunner runner(module_directory(std::nullopt));
  runner.set_console({[](std::string_view) {}, {}});
  // Two classes split at x = 0.5, in the data's order by class.
  std::vector<std::vector<double>> rows;
  std::vector<double> labels;
  for (int k = 0; k < 160; ++k) {
    const double x = (k % 80) / 80.0 * 0.45 + (k < 80 ? 0 : 0.55);
    rows.push_back({x, ((k * 37) % 41) / 41.0});
    labels.push_back(k < 80 ? 1 : 2);
  }
  const auto x = column_major(rows, 2);
  const TrainingParams params{1.5, 0.5, 0, 0.1, 1, 20, 0, 0};
  EnsembleOptions options;
  options.workers = 2;
  auto fit = [&](double max_samples) {
    return train_ensemble(runner, x.view(), labels, params, drawing(4, 3, max_samples), 0,
                          options);
  };
  const Model drawn = fit(50);
  for (int member = 0; member < 4; ++member) {
    const auto order = presentation_order(labels.size(), drawn.voting, member);
    std::vector<double> seen;
    for (std::size_t row : order) seen.push_back(labels[row]);
    const OwnedPatterns patterns = rows_of(x.view(), order);
    const Member alone = runner.train_member(patterns.view(), seen, params, 0, nullptr);
    EXPECT_EQ(drawn.members[member].templates, alone.templates) << member;
    EXPECT_EQ(drawn.members[member].labels, alone.labels) << member;
  }
  // Up to the data's size nothing changes, and the file keeps no trace of the draw.
  EXPECT_EQ(format_model(fit(0)), format_model(fit(160)));
  EXPECT_NE(format_model(fit(0)), format_model(drawn));
  EXPECT_EQ(format_model(drawn).find("max_samples"), std::string::npos);
}

TEST(RowDraws, EverySettingOfASearchDrawsAsTheDefaultsDo) {
  Dataset data;
  for (int k = 0; k < 30; ++k) {
    data.patterns.push_back({(k % 10) / 10.0, (k % 7) / 7.0});
    data.labels.push_back(1 + k % 2);
  }
  CvSettings settings;
  settings.folds = 3;
  settings.voting = drawing(5, 2, 12);
  std::size_t seen = 0;
  ModuleRunner runner(module_directory(std::nullopt));
  run_search(runner, data, settings, [](const std::string &) {},
             [&](std::vector<SearchCandidate> &candidates, const CvSettings &) {
               for (SearchCandidate &candidate : candidates) {
                 EXPECT_EQ(candidate.voting.max_samples, 12) << candidate.voting.voters;
                 candidate.result.folds.assign(3, {10, 5, 0, 1, 1, 0});
                 ++seen;
               }
             });
  EXPECT_GT(seen, 1u);
}
