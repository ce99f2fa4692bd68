// The library's predict: the vote among a front end's classes, and the
// best-fitting nodes' vote for patterns that no member classifies.
#include "ensemble/prediction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <optional>

#include "ensemble/ensemble.h"
#include "model/feature_scaling.h"
#include "modules/fitting.h"
#include "modules/module_runner.h"

using namespace qir;

namespace {

constexpr double unknown = -1;

// Two classes side by side in the unit square (class 2 to the right), and
// an ensemble of three members at a vigilance that leaves far patterns
// unclassified.
struct Setting {
  ModuleRunner runner{module_directory(std::nullopt)};
  Model model;
  ClassifyParams params;
  Setting() {
    runner.set_console({[](std::string_view) {}, {}});
    std::vector<std::vector<double>> rows;
    std::vector<double> labels;
    for (int k = 0; k < 40; ++k) {
      const double x = (k % 20) / 40.0 + (k < 20 ? 0 : 0.5), y = (k * 7 % 20) / 20.0;
      rows.push_back({x, y});
      labels.push_back(k < 20 ? 1 : 2);
    }
    const OwnedPatterns patterns = column_major(rows, 2);
    const TrainingParams training{0.5, 0.75, 0.6, 0.1, 1, 100, 0, 0};
    model = train_ensemble(runner, patterns.view(), labels, training, {3, 1, true}, 0, EnsembleOptions{1, {}});
    params = {training.D, training.ratio, training.vigilance, training.alpha, 0, unknown, 0};
  }
  VoteResult predict(const std::vector<std::vector<double>> &rows, const PredictOptions &options) {
    return predict_ensemble(runner, model, column_major(rows, 2).view(), params, options);
  }
};

const std::vector<std::vector<double>> patterns{
    {0.1, 0.5}, {0.9, 0.5}, {3, 0.5}, {-3, 0.5}, {0.5, 40}, {1e6, -1e6}};

}  // namespace

TEST(Prediction, BestFitAnswersOnlyWhereNoMemberVoted) {
  Setting s;
  const VoteResult plain = s.predict(patterns, {});
  EXPECT_EQ(plain.labels[0], 1);
  EXPECT_EQ(plain.labels[1], 2);
  for (std::size_t r = 2; r < patterns.size(); ++r) {
    EXPECT_EQ(plain.votes[r], 0) << r;
    EXPECT_EQ(plain.labels[r], unknown) << r;
  }
  const VoteResult best = s.predict(patterns, {true, {}});
  EXPECT_EQ(best.votes, plain.votes);
  EXPECT_EQ(best.labels[0], 1);
  EXPECT_EQ(best.labels[1], 2);
  // Far to the right the nearest nodes are class 2's, far to the left class 1's.
  EXPECT_EQ(best.labels[2], 2);
  EXPECT_EQ(best.labels[3], 1);
  for (std::size_t r = 0; r < patterns.size(); ++r) {
    EXPECT_TRUE(best.labels[r] == 1 || best.labels[r] == 2) << r;
    EXPECT_DOUBLE_EQ(best.shares[2 * r] + best.shares[2 * r + 1], 1) << r;
  }
  // A pattern's answer does not depend on the patterns beside it.
  for (std::size_t r = 2; r < patterns.size(); ++r)
    EXPECT_EQ(s.predict({patterns[r]}, {true, {}}).labels[0], best.labels[r]) << r;
}

TEST(Prediction, TheVoteIsAmongTheCallersClasses) {
  Setting s;
  const VoteResult own = s.predict(patterns, {true, {}});
  const VoteResult wider = s.predict(patterns, {true, {0, 1, 2, 3}});
  ASSERT_EQ(wider.classes, (std::vector<double>{0, 1, 2, 3}));
  EXPECT_EQ(wider.labels, own.labels);
  for (std::size_t r = 0; r < patterns.size(); ++r) {
    EXPECT_EQ(wider.shares[4 * r], 0);
    EXPECT_EQ(wider.shares[4 * r + 1], own.shares[2 * r]);
    EXPECT_EQ(wider.shares[4 * r + 2], own.shares[2 * r + 1]);
    EXPECT_EQ(wider.shares[4 * r + 3], 0);
  }
}

// Silent classification goes a block of rows at a time; it must give what
// one call per member gives, whatever the block size and wherever the
// blocks end (a last block of one row, a block of one row each), and
// printing calls must stay one per member.
TEST(Prediction, SilentBlocksGiveTheVoteOfOneCallPerMember) {
  Setting s;
  std::vector<std::vector<double>> rows;
  for (int k = 0; k < 57; ++k) rows.push_back({(k * 13 % 57) / 40.0 - 0.2, (k * 7 % 19) / 15.0});
  rows.push_back({1e6, -1e6});  // no member classifies it
  const OwnedPatterns matrix = column_major(rows, 2);
  const VoteResult whole = classify_ensemble(s.runner, s.model, matrix.view(), s.params);
  int unknowns = 0;
  for (int votes : whole.votes) unknowns += votes == 0;
  ASSERT_GT(unknowns, 0);
  ASSERT_LT(unknowns, static_cast<int>(rows.size()));
  for (std::size_t block : {1, 8, 19, 57, 58, 1000}) {
    const VoteResult blocks = classify_in_blocks(s.runner, s.model, matrix.view(), s.params, block);
    EXPECT_EQ(blocks.labels, whole.labels) << block;
    EXPECT_EQ(blocks.shares, whole.shares) << block;
    EXPECT_EQ(blocks.votes, whole.votes) << block;
    EXPECT_EQ(blocks.classes, whole.classes) << block;
    // The labels alone: the same labels, and no votes exactly where none were cast.
    const VoteResult settled = classify_in_blocks(s.runner, s.model, matrix.view(), s.params,
                                                  block, VoteNeeds::labels);
    EXPECT_EQ(settled.labels, whole.labels) << block;
    EXPECT_TRUE(settled.shares.empty()) << block;
    for (std::size_t r = 0; r < rows.size(); ++r)
      EXPECT_EQ(settled.votes[r] == 0, whole.votes[r] == 0) << block << " row " << r;
  }
  PredictOptions best_labels{true, {0, 1, 2}, VoteNeeds::labels};
  EXPECT_EQ(predict_ensemble(s.runner, s.model, matrix.view(), s.params, best_labels).labels,
            predict_ensemble(s.runner, s.model, matrix.view(), s.params, {true, {0, 1, 2}}).labels);
  // At oflag 1 the first member's summary covers every pattern: one call.
  std::string printed;
  s.runner.set_console({[&](std::string_view text) { printed += text; }, {}});
  ClassifyParams talking = s.params;
  talking.oflag = 1;
  const VoteResult told = classify_in_blocks(s.runner, s.model, matrix.view(), talking, 8);
  EXPECT_EQ(told.labels, whole.labels);
  std::size_t lines = 0;
  for (std::size_t at = printed.find("FLOPs"); at != std::string::npos; at = printed.find("FLOPs", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << printed;
  const VoteResult empty = classify_in_blocks(s.runner, s.model, column_major({}, 2).view(), s.params, 8);
  EXPECT_TRUE(empty.labels.empty());
}

// Patterns as a host holds them (column-major) are scaled in one copy and
// vote as the same rows do; a value that is not finite is named by its
// place in row order, as with rows.
TEST(Prediction, ColumnMajorPatternsVoteAsTheirRows) {
  Setting s;
  s.model.feature_min = {-1, 0};
  s.model.feature_max = {1, 2};
  std::vector<std::vector<double>> rows = patterns;
  for (int k = 0; k < 30; ++k) rows.push_back({(k % 7) / 3.5 - 1, (k % 5) / 2.0});
  const OwnedPatterns matrix = column_major(rows, 2);
  for (VoteNeeds needs : {VoteNeeds::everything, VoteNeeds::labels}) {
    const VoteResult given = vote_on(s.runner, s.model, matrix.view(), s.params, needs);
    const VoteResult expected = vote_on(s.runner, s.model, rows, s.params, needs);
    EXPECT_EQ(given.labels, expected.labels);
    EXPECT_EQ(given.shares, expected.shares);
    EXPECT_EQ(given.votes, expected.votes);
  }
  rows[2][1] = INFINITY;
  rows[3][0] = NAN;
  const OwnedPatterns faulty = column_major(rows, 2);
  try {
    vote_on(s.runner, s.model, faulty.view(), s.params);
    ADD_FAILURE() << "no refusal";
  } catch (const NonFiniteValue &fault) {
    EXPECT_EQ(fault.pattern, 3u);
    EXPECT_EQ(fault.feature, 2u);
  }
  // No rows pass through as no labels (as rows, they would have no columns).
  const double none[1] = {0};
  EXPECT_TRUE(vote_on(s.runner, s.model, PatternMatrix{none, 0, 2}, s.params).labels.empty());
  EXPECT_THROW(vote_on(s.runner, s.model, PatternMatrix{none, 0, 3}, s.params), InputError);
}
