// Continuing a model on further batches: every member from its own nodes in
// its own order for that batch, the scaling of the first fit (with
// clipping), classes that appear late, and the batch count in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>

#include "ensemble/ensemble.h"
#include "base/errors.h"
#include "model/feature_scaling.h"
#include "modules/fitting.h"
#include "modules/module_runner.h"
#include "qirhost/host.h"

using namespace qir;

namespace {

TrainingParams params() { return {1.5, 0.5, 0, 0.1, 1, 100, 0, 0}; }

// Classes `first`..`last` on a line in the two features' range [0, 10];
// `offset` moves the patterns so that batches differ.
Dataset bands(int first, int last, std::size_t per_class, double offset) {
  Dataset data;
  for (int label = first; label <= last; ++label)
    for (std::size_t k = 0; k < per_class; ++k) {
      const double step = static_cast<double>((k * 7 + 3) % per_class) / static_cast<double>(per_class);
      data.patterns.push_back({2.0 * (label - 1) + 1.6 * step + offset, 10.0 * step});
      data.labels.push_back(label);
    }
  return data;
}

Model quiet_fit(ModuleRunner &runner, const Dataset &data, const VotingSettings &voting) {
  runner.set_console({[](std::string_view) {}, {}});
  return fit_model(runner, data, params(), true, 0, voting);
}

Model quiet_continue(ModuleRunner &runner, const Model &earlier, const Dataset &data,
                     int workers = 0) {
  EnsembleOptions options;
  options.workers = workers;
  return continue_model(runner, earlier, data, params(), 0, options);
}

}  // namespace

TEST(Continuation, NoPatternsGiveEveryMemberItsNodesBack) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Model first = quiet_fit(runner, bands(1, 2, 20, 0), {4, 5, true});
  const Model same = quiet_continue(runner, first, Dataset{});
  ASSERT_EQ(same.members.size(), 4u);
  const auto &before = first.members, &after = same.members;
  for (std::size_t k = 0; k < before.size(); ++k) {
    EXPECT_EQ(after[k].templates, before[k].templates) << "member " << k + 1;
    EXPECT_EQ(after[k].labels, before[k].labels) << "member " << k + 1;
  }
  EXPECT_EQ(same.batches, 2u);
  EXPECT_EQ(same.feature_min, first.feature_min);
  EXPECT_EQ(same.voting.seed, 5u);
}

TEST(Continuation, EachMemberGoesOnFromItsOwnNodesInItsOrderForTheBatch) {
  ModuleRunner runner(module_directory(std::nullopt));
  const VotingSettings voting{3, 11, true};
  const Model first = quiet_fit(runner, bands(1, 2, 15, 0), voting);
  const Dataset batch = bands(1, 3, 15, 0.3);  // class 3 is new
  const Model one_worker = quiet_continue(runner, first, batch, 1);
  const Model three_workers = quiet_continue(runner, first, batch, 3);
  const auto &members = one_worker.members;
  ASSERT_EQ(members.size(), 3u);
  ASSERT_EQ(three_workers.members.size(), 3u);
  for (std::size_t k = 0; k < members.size(); ++k)
    EXPECT_EQ(three_workers.members[k].templates, members[k].templates);

  // Member 2 by hand: its own nodes, the batch scaled by the first fit's
  // range, in member 2's order for the model's second batch.
  const auto scaled = scale_patterns(batch.patterns, {first.feature_min, first.feature_max});
  const auto order = presentation_order(batch.labels.size(), voting, 1, 1);
  EXPECT_NE(order, presentation_order(batch.labels.size(), voting, 1, 0));
  Dataset reordered;
  for (std::size_t index : order) {
    reordered.patterns.push_back(scaled[index]);
    reordered.labels.push_back(batch.labels[index]);
  }
  const Member &own = first.members[1];
  const auto x = qirhost::make_rows(reordered.patterns);
  const auto y = qirhost::make_column(reordered.labels);
  const Model by_hand = runner.train(x.get(), y.get(), params(), 0, &own);
  EXPECT_EQ(members[1].templates, by_hand.members[0].templates);
  EXPECT_EQ(members[1].labels, by_hand.members[0].labels);
  EXPECT_GT(members[1].templates.size(), own.templates.size());
  EXPECT_NE(members[0].templates, members[1].templates);

  // The next batch draws other orders: the batch count is part of the seed.
  const Model third = quiet_continue(runner, one_worker, batch, 1);
  EXPECT_EQ(third.batches, 3u);
  const Model again = quiet_continue(runner, first, batch, 1);
  ASSERT_EQ(again.members.size(), members.size());
  for (std::size_t k = 0; k < members.size(); ++k)  // the same batch, the same members
    EXPECT_EQ(again.members[k].templates, members[k].templates);
}

TEST(Continuation, PatternsBeyondTheFirstRangeAreClippedAsClassificationClips) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Model first = quiet_fit(runner, bands(1, 2, 10, 0), {1, 1, false});
  ASSERT_TRUE(first.scales());
  Dataset far, edge;
  far.patterns = {{-50, 4}, {first.feature_max[0] + 7, 400}};
  edge.patterns = {{first.feature_min[0], 4}, {first.feature_max[0], first.feature_max[1]}};
  far.labels = edge.labels = {1, 2};
  const Model from_far = quiet_continue(runner, first, far);
  const Model from_edge = quiet_continue(runner, first, edge);
  EXPECT_EQ(from_far.members[0].templates, from_edge.members[0].templates);
  EXPECT_EQ(from_far.feature_min, first.feature_min);  // the range stays the first fit's
  EXPECT_EQ(from_far.feature_max, first.feature_max);
  for (const auto &row : from_far.members[0].templates)
    for (std::size_t k = 0; k < 2; ++k) {  // centres within the scaled cube
      EXPECT_GE(row[k], 0);
      EXPECT_LE(row[k], 1);
    }
}

TEST(Continuation, ALateClassIsLearnedAndEarlierClassesKept) {
  ModuleRunner runner(module_directory(std::nullopt));
  Dataset early = bands(1, 2, 12, 0);
  early.class_names = {{1, "ash"}, {2, "birch"}};
  const Model first = quiet_fit(runner, early, {5, 2, true});
  // A batch with one old class and a new one, labelled as a loader given
  // the model's names labels it.
  Dataset late = bands(2, 3, 12, 0);
  late.class_names = {{1, "ash"}, {2, "birch"}, {3, "cedar"}};
  const Model next = quiet_continue(runner, first, late);
  EXPECT_EQ(next.class_names, late.class_names);
  const auto &before = first.members, &after = next.members;
  for (std::size_t k = 0; k < after.size(); ++k) {
    const std::set<double> labels(after[k].labels.begin(), after[k].labels.end());
    EXPECT_EQ(labels, (std::set<double>{1, 2, 3})) << "member " << k + 1;
    // Untrimmed given nodes stay, in their places, with their labels.
    ASSERT_GE(after[k].labels.size(), before[k].labels.size());
    EXPECT_TRUE(std::equal(before[k].labels.begin(), before[k].labels.end(),
                           after[k].labels.begin()));
  }
  const auto x = column_major(
      scale_patterns(bands(1, 3, 12, 0).patterns, {first.feature_min, first.feature_max}),
      static_cast<std::size_t>(first.features));
  const ClassifyParams classify{1.5, 0.5, 0, 0.1, 0, -1, 0};
  const auto voted = classify_ensemble(runner, next, x.view(), classify).labels;
  const Dataset all = bands(1, 3, 12, 0);
  std::size_t right = 0;
  for (std::size_t k = 0; k < voted.size(); ++k) right += voted[k] == all.labels[k];
  EXPECT_GT(right, voted.size() * 9 / 10);  // class 1, absent from the batch, is not forgotten

  const Model back = parse_model(format_model(next), "next.model");
  EXPECT_EQ(back.batches, 2u);
  EXPECT_EQ(back.class_names, late.class_names);
}

TEST(Continuation, MismatchedDataAreRefused) {
  ModuleRunner runner(module_directory(std::nullopt));
  Dataset named = bands(1, 2, 5, 0);
  named.class_names = {{1, "ash"}, {2, "birch"}};
  const Model numeric_model = quiet_fit(runner, bands(1, 2, 5, 0), {1, 1, false});
  const Model named_model = quiet_fit(runner, named, {1, 1, false});
  Dataset wide = bands(1, 2, 5, 0);
  for (auto &row : wide.patterns) row.push_back(0);
  EXPECT_THROW(quiet_continue(runner, numeric_model, wide), InputError);
  EXPECT_THROW(quiet_continue(runner, numeric_model, named), InputError);
  Dataset numbers_under_names = bands(1, 3, 5, 0);  // read with the names as the known ones
  numbers_under_names.class_names = named.class_names;
  EXPECT_THROW(quiet_continue(runner, named_model, numbers_under_names), InputError);
}
