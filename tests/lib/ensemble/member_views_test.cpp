// Members that see their own views of the data: the seeds each member
// draws from, bootstrap draws, random feature subsets, and models whose
// members keep their features in the model file and use them to classify.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <cmath>
#include <set>
#include <sstream>

#include "base/errors.h"
#include "ensemble/ensemble.h"
#include "ensemble/prediction.h"
#include "evaluation/file_classification.h"
#include "modules/module_runner.h"
#include "qirhost/host.h"
#include "base/number_text.h"
#include "data/csv.h"
#include "platform/atomic_file.h"
#include "../temp_dir.h"

using namespace qir;

namespace {

// Six features: the class shows in features 2 and 5 (0-based 1 and 4), the
// rest are fixed noise.
struct Data {
  std::vector<std::vector<double>> rows;
  std::vector<double> labels;
};

Data six_features(std::size_t per_class) {
  Data data;
  for (int label = 1; label <= 2; ++label)
    for (std::size_t k = 0; k < per_class; ++k) {
      std::vector<double> row(6);
      for (std::size_t j = 0; j < 6; ++j)
        row[j] = static_cast<double>((k * (7 + 4 * j) + 3 * j) % 17) / 17.0;
      row[1] = 0.1 + 0.5 * (label - 1) + 0.3 * row[1];
      row[4] = 0.6 - 0.5 * (label - 1) + 0.3 * row[4];
      data.rows.push_back(row);
      data.labels.push_back(label);
    }
  return data;
}

TrainingParams params() { return {2.45, 0.5, 0, 0.1, 1, 20, 0, 0}; }

Model train(ModuleRunner &runner, const Data &data, const VotingSettings &voting) {
  runner.set_console({[](std::string_view) {}, {}});
  const auto x = column_major(data.rows, data.rows.front().size());
  EnsembleOptions options;
  options.workers = 2;
  return train_ensemble(runner, x.view(), data.labels, params(), voting, 0, options);
}

}  // namespace

TEST(MemberViews, MemberStreamsDoNotSlideIntoTheNextSeed) {
  // Member k of seed s and member k+1 of seed s-1 once drew one order.
  for (std::uint64_t seed = 1; seed < 40; ++seed)
    for (int member = 0; member < 20; ++member) {
      EXPECT_NE(member_stream(seed, member), member_stream(seed - 1, member + 1));
      EXPECT_NE(presentation_order(30, {21, seed, true}, member),
                presentation_order(30, {21, seed - 1, true}, member + 1));
    }
  std::set<std::uint64_t> streams;
  for (std::uint64_t seed = 0; seed < 50; ++seed)
    for (int member = 0; member < 50; ++member) streams.insert(member_stream(seed, member));
  EXPECT_EQ(streams.size(), 2500u);
}

TEST(MemberViews, BootstrapDrawsWithReplacementFixedBySeedMemberAndBatch) {
  const VotingSettings bootstrap{5, 3, true, 1, true};
  const auto drawn = presentation_order(200, bootstrap, 1);
  ASSERT_EQ(drawn.size(), 200u);
  EXPECT_TRUE(std::all_of(drawn.begin(), drawn.end(), [](std::size_t k) { return k < 200; }));
  const std::set<std::size_t> distinct(drawn.begin(), drawn.end());
  // About 1 - 1/e of the patterns: a draw with replacement, not a shuffle.
  EXPECT_GT(distinct.size(), 100u);
  EXPECT_LT(distinct.size(), 150u);
  EXPECT_EQ(drawn, presentation_order(200, bootstrap, 1));
  EXPECT_NE(drawn, presentation_order(200, bootstrap, 2));
  EXPECT_NE(drawn, presentation_order(200, bootstrap, 1, 1));
  EXPECT_TRUE(presentation_order(0, bootstrap, 0).empty());
}

TEST(MemberViews, FeatureSubsetsAreDrawnPerMemberAtTheirShare) {
  EXPECT_EQ(member_feature_count(10, 1), 10u);
  EXPECT_EQ(member_feature_count(10, 0.5), 5u);
  EXPECT_EQ(member_feature_count(10, 0.31), 4u);  // rounded up
  EXPECT_EQ(member_feature_count(10, 0.01), 1u);  // at least one
  EXPECT_EQ(member_feature_count(3, 0.999), 3u);

  const VotingSettings half{8, 5, true, 0.5, false};
  EXPECT_TRUE(member_features(10, {8, 5, true}, 0).empty());  // all of them
  std::set<std::vector<std::size_t>> subsets;
  for (int member = 0; member < 8; ++member) {
    const auto features = member_features(10, half, member);
    ASSERT_EQ(features.size(), 5u);
    EXPECT_TRUE(std::is_sorted(features.begin(), features.end()));
    EXPECT_EQ(std::set<std::size_t>(features.begin(), features.end()).size(), 5u);
    EXPECT_LT(features.back(), 10u);
    EXPECT_EQ(features, member_features(10, half, member));
    subsets.insert(features);
  }
  EXPECT_GT(subsets.size(), 5u);
  // The subset does not follow the order: a member's order is unchanged by it.
  EXPECT_EQ(presentation_order(30, half, 2), presentation_order(30, {8, 5, true}, 2));
}

TEST(MemberViews, ViewsNeedShufflingAndAShareInRange) {
  EXPECT_THROW(check_voting({1, 1, false, 0.5, false}), UsageError);
  EXPECT_THROW(check_voting({1, 1, false, 1, true}), UsageError);
  EXPECT_THROW(check_voting({3, 1, true, 0, false}), UsageError);
  EXPECT_THROW(check_voting({3, 1, true, 1.5, false}), UsageError);
  EXPECT_NO_THROW(check_voting({3, 1, true, 0.25, true}));
}

TEST(MemberViews, MembersTrainAndClassifyOnTheirOwnFeatures) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Data data = six_features(40);
  const VotingSettings voting{6, 11, true, 0.5, true};
  const Model model = train(runner, data, voting);
  ASSERT_EQ(model.members.size(), 6u);
  for (std::size_t k = 0; k < model.members.size(); ++k) {
    const Member &member = model.members[k];
    EXPECT_EQ(member.features, member_features(6, voting, static_cast<int>(k)));
    ASSERT_EQ(member.features.size(), 3u);
    for (const auto &row : member.templates) EXPECT_EQ(row.size(), 7u);
  }

  // Member 2 is one training call on its draw of the rows and its columns,
  // with D scaled to the diagonal of the space it sees.
  const auto order = presentation_order(data.labels.size(), voting, 1);
  Dataset seen;
  for (std::size_t index : order) {
    std::vector<double> row;
    for (std::size_t feature : model.members[1].features) row.push_back(data.rows[index][feature]);
    seen.patterns.push_back(row);
    seen.labels.push_back(data.labels[index]);
  }
  TrainingParams own = params();
  own.D = params().D * std::sqrt(0.5);
  EXPECT_EQ(member_D(params().D, 3, 6), own.D);
  const Model second = runner.train(seen, own, 0);
  EXPECT_EQ(second.members[0].templates, model.members[1].templates);

  // Each member classifies its own columns: the vote of the ensemble is
  // the vote of the members' labels on their columns.
  const auto x = column_major(data.rows, 6);
  ClassifyParams classify{params().D, 0.5, 0, 0.1, 0, -1, 0};
  const VoteResult voted = classify_ensemble(runner, model, x.view(), classify);
  std::vector<std::vector<double>> by_hand;
  for (const Member &member : model.members) {
    const OwnedPatterns columns = columns_of(x.view(), member.features);
    ClassifyParams own_classify = classify;
    own_classify.D = member_D(classify.D, member.features.size(), 6);
    by_hand.push_back(runner.classify_member(member, 3, columns.view(), own_classify));
  }
  EXPECT_EQ(voted.labels, vote(by_hand, {1, 2}, -1).labels);
  std::size_t right = 0;
  for (std::size_t r = 0; r < data.labels.size(); ++r) right += voted.labels[r] == data.labels[r];
  EXPECT_GT(right, data.labels.size() * 9 / 10);
  // Best-fit answers come from the same columns.
  const auto fits = best_fit_labels(runner, model, x.view(), classify, 1);
  ASSERT_EQ(fits.size(), 6u);
  EXPECT_EQ(fits[0].size(), data.labels.size());

  // A further batch keeps each member's features.
  const Model continued = continue_ensemble(runner, model, x.view(), data.labels, params(), 0, {});
  for (std::size_t k = 0; k < model.members.size(); ++k)
    EXPECT_EQ(continued.members[k].features, model.members[k].features);
}

TEST(MemberViews, ModelFilesKeepEachMembersFeatures) {
  TempDir dir;
  Model model;
  model.features = 3;
  model.params = {1, 0.5, 0, 0.1, 1, 100, 0, 0};
  model.voting = {2, 9, true, 0.5, true};
  model.members = {{{{0.25, 0.5, 1, 0, 0.1}}, {1}, 2, {0, 2}},
                   {{{0.5, 1, 0.25}, {0.75, 0, 0}}, {2, 1}, 3, {1}}};
  save_model(dir.path("v.model"), model);
  const std::string text = format_model(model);
  EXPECT_NE(text.find("% format 4\n"), std::string::npos);
  EXPECT_NE(text.find("% max_features 0.5\n% bootstrap 1\n"), std::string::npos);
  EXPECT_NE(text.find("% member 1 nodes 1 list_presentations 2\n% member_features 1 3\n"),
            std::string::npos);
  EXPECT_NE(text.find("% member 2 nodes 2 list_presentations 3\n% member_features 2\n"),
            std::string::npos);
  const Model back = load_model(dir.path("v.model"));
  EXPECT_EQ(format_model(back), text);
  EXPECT_EQ(back.members[0].features, (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(back.members[1].features, (std::vector<std::size_t>{1}));
  EXPECT_EQ(back.voting.max_features, 0.5);
  EXPECT_TRUE(back.voting.bootstrap);

  const auto refused = [&](const std::string &from, const std::string &to) {
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    try {
      parse_model(changed, "v.model");
    } catch (const InputError &error) {
      return std::string(error.what());
    }
    return std::string("(accepted)");
  };
  EXPECT_NE(refused("% format 4", "% format 3").find("needs model file format 4"),
            std::string::npos);
  EXPECT_NE(refused("% member_features 1 3", "% member_features 3 1").find("ascending"),
            std::string::npos);
  EXPECT_NE(refused("% member_features 1 3", "% member_features 1 4").find("from 1 to 3"),
            std::string::npos);
  EXPECT_NE(refused("% member_features 1 3", "% member_features 1 2 3").find("a node row has 8"),
            std::string::npos);
  EXPECT_NE(refused("% member_features 2\n", "").find("a node row has 8"), std::string::npos);
  EXPECT_NE(refused("% max_features 0.5", "% max_features 0").find("(0, 1]"),
            std::string::npos);
  EXPECT_NE(refused("% bootstrap 1", "% bootstrap 2").find("0 or 1"), std::string::npos);

  // A file written before members had views: every member sees every feature.
  Model plain = model;
  plain.voting = {2, 9, true};
  plain.members = {{{{0.25, 0.5, 1, 0, 0, 0, 0.1}}, {1}, 2},
                   {{{0.5, 1, 0.25, 0, 0, 0, 0}}, {2}, 3}};
  const std::string older = format_model(plain);
  EXPECT_NE(older.find("% format 3\n"), std::string::npos);
  EXPECT_EQ(older.find("max_features"), std::string::npos);
  const Model read = parse_model(older, "old.model");
  EXPECT_TRUE(read.members[0].features.empty());
  EXPECT_EQ(read.voting.max_features, 1);
  EXPECT_FALSE(read.voting.bootstrap);
}

TEST(MemberViews, FileClassificationMatchesTheVote) {
  TempDir dir;
  ModuleRunner runner(module_directory(std::nullopt));
  const Data data = six_features(30);
  const Model model = train(runner, data, {5, 2, true, 0.5, false});
  std::string csv;
  for (std::size_t r = 0; r < data.rows.size(); ++r) {
    for (double value : data.rows[r]) csv += format_number(value) + ",";
    csv += format_number(data.labels[r]) + "\n";
  }
  write_file_atomically(dir.path("d.csv"), csv);
  const auto x = column_major(data.rows, 6);
  ClassifyParams classify{params().D, 0.5, 0, 0.1, 0, -1, 0};
  const VoteResult voted = classify_ensemble(runner, model, x.view(), classify);
  std::string expected;
  for (double label : voted.labels) expected += format_number(label) + "\n";
  for (std::size_t block : {std::size_t{7}, std::size_t{0}}) {
    FileClassification job;
    job.data = dir.path("d.csv");
    job.block_rows = block;
    job.labels_path = dir.path("labels.csv");
    job.written_unknown = -1;
    std::ostringstream warnings;
    classify_file(runner, model, classify, job, warnings);
    EXPECT_EQ(read_text_file(dir.path("labels.csv")), expected) << block;
  }
}

// Weighted votes: a heavier member outvotes lighter ones, and the shares
// are the weights' shares; unit weights vote as counts do.
TEST(WeightedVotes, WeightsDecideTheWinnerAndTheShares) {
  const std::vector<std::vector<double>> labels{{1, 1, -1}, {2, 2, 2}, {2, 1, 2}};
  const VoteResult counted = vote(labels, {1, 2}, -1);
  EXPECT_EQ(counted.labels, (std::vector<double>{2, 1, 2}));
  EXPECT_EQ(vote(labels, {1, 2}, -1, {1, 1, 1}).shares, counted.shares);
  const VoteResult weighted = vote(labels, {1, 2}, -1, {0.9, 0.3, 0.5});
  EXPECT_EQ(weighted.labels, (std::vector<double>{1, 1, 2}));  // 0.9 against 0.8
  EXPECT_EQ(weighted.shares[0], 0.9 / (0.9 + 0.3 + 0.5));
  EXPECT_EQ(weighted.shares[2 * 2 + 1], 1);  // member 1 left pattern 3 unclassified
  EXPECT_EQ(weighted.votes, (std::vector<int>{3, 3, 2}));
}

// Each member's weight is its accuracy on the rows its draw left out, as
// its own classification of them gives it; the file keeps the weights, and
// classification, the file's included, votes by them.
TEST(WeightedVotes, MembersWeighByTheirOutOfBagAccuracy) {
  TempDir dir;
  ModuleRunner runner(module_directory(std::nullopt));
  const Data data = six_features(30);
  const VotingSettings voting{5, 4, true, 1, true, true};
  const Model model = train(runner, data, voting);
  const auto x = column_major(data.rows, 6);
  for (std::size_t k = 0; k < model.members.size(); ++k) {
    const auto order = presentation_order(data.labels.size(), voting, static_cast<int>(k));
    std::vector<std::size_t> left;
    for (std::size_t r = 0; r < data.labels.size(); ++r)
      if (std::find(order.begin(), order.end(), r) == order.end()) left.push_back(r);
    ASSERT_FALSE(left.empty());
    const OwnedPatterns rows = rows_of(x.view(), left);
    const auto given = runner.classify_member(model.members[k], 6, rows.view(),
                                              {params().D, 0.5, 0, 0.1, 0, 0, 0});
    double right = 0;
    for (std::size_t j = 0; j < left.size(); ++j) right += given[j] == data.labels[left[j]];
    EXPECT_EQ(model.members[k].weight, (right + 1) / (static_cast<double>(left.size()) + 2));
  }
  EXPECT_EQ(vote_weights(model).size(), 5u);

  const Model back = parse_model(format_model(model), "m.model");
  EXPECT_NE(format_model(model).find("% format 5\n"), std::string::npos);
  EXPECT_EQ(vote_weights(back), vote_weights(model));
  ClassifyParams classify{params().D, 0.5, 0, 0.1, 0, -1, 0};
  const VoteResult voted = classify_ensemble(runner, back, x.view(), classify);
  std::vector<std::vector<double>> by_hand;
  for (const Member &member : back.members)
    by_hand.push_back(runner.classify_member(member, 6, x.view(), classify));
  EXPECT_EQ(voted.shares, vote(by_hand, {1, 2}, -1, vote_weights(model)).shares);

  // Weights without bootstrap, or beyond (0, 1], are refused.
  EXPECT_THROW(check_voting({5, 4, true, 1, false, true}), UsageError);
  Model wrong = back;
  wrong.members[1].weight = 0;
  EXPECT_THROW(format_model(wrong), InputError);
  wrong.voting.oob_weights = false;
  wrong.members[1].weight = 0.5;
  EXPECT_THROW(format_model(wrong), InputError);
}
