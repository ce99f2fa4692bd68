// Votes that end once settled: the labels of the full vote, on random and
// adversarial tables of member votes, and each member asked only about the
// patterns whose winner the members still to vote could change.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ensemble/ensemble.h"
#include "ensemble/voting.h"

using namespace qir;

namespace {

constexpr double none = 0;  // a member's "unclassified", outside the classes

// Member k answers votes[k][id] for pattern id. A pattern's columns hold
// 10 id + c (column c), so a member checks it was handed its own columns.
class TableModules final : public Modules {
 public:
  TableModules(const Model &model, std::vector<std::vector<double>> votes)
      : model_(model), votes_(std::move(votes)), seen(votes_.size()) {}

  std::vector<double> classify_member(const Member &member, int features, PatternMatrix patterns,
                                      const ClassifyParams &) override {
    const auto k = static_cast<std::size_t>(&member - model_.members.data());
    EXPECT_EQ(patterns.columns, static_cast<std::size_t>(features));
    const double first_column = member.features.empty() ? 0.0 : member.features.front();
    std::vector<double> out;
    for (std::size_t r = 0; r < patterns.rows; ++r) {
      const double value = patterns.values[r];
      const auto id = static_cast<std::size_t>(value / 10);
      EXPECT_EQ(value - 10.0 * id, first_column) << "member " << k;
      seen[k].push_back(id);
      out.push_back(votes_[k][id]);
    }
    return out;
  }
  Member train_member(PatternMatrix, const std::vector<double> &, const TrainingParams &, double,
                      const Member *) override {
    throw ModuleError("not here");
  }
  void print(std::string_view) const override {}
  void warn(std::string_view) const override {}
  Modules &worker(std::size_t) override { return *this; }
  void set_console(Console console) override { console_ = std::move(console); }
  const Console &console() const override { return console_; }

 private:
  const Model &model_;
  std::vector<std::vector<double>> votes_;
  Console console_;

 public:
  std::vector<std::vector<std::size_t>> seen;  // per member, the patterns asked about
};

// `members` members over classes 1 … classes, every other one seeing only
// the second feature.
Model table_model(std::size_t members, int classes) {
  Model model;
  model.features = 2;
  model.members.clear();  // a plain model's one member
  for (std::size_t k = 0; k < members; ++k) {
    Member member;
    for (int c = 1; c <= classes; ++c) member.labels.push_back(c);
    if (k % 2 == 1) member.features = {1};
    model.members.push_back(member);
  }
  return model;
}

OwnedPatterns pattern_ids(std::size_t count) {
  OwnedPatterns x{std::vector<double>(2 * count), count, 2};
  for (std::size_t id = 0; id < count; ++id) {
    x.values[id] = 10.0 * id;
    x.values[count + id] = 10.0 * id + 1;
  }
  return x;
}

// The full vote on pattern `id` of the table.
double full_label(const std::vector<std::vector<double>> &votes, std::size_t id, int classes) {
  std::vector<std::vector<double>> one;
  for (const auto &member : votes) one.push_back({member[id]});
  std::vector<double> among;
  for (int c = 1; c <= classes; ++c) among.push_back(c);
  return vote(one, among, -1).labels[0];
}

// Whether every way the members after the first `known` could vote (any
// class or none) gives pattern `id` the same label: tried one by one.
bool settled_by_trial(std::vector<std::vector<double>> votes, std::size_t id, std::size_t known,
                      int classes) {
  const std::size_t left = votes.size() - known;
  std::size_t ways = 1;
  for (std::size_t k = 0; k < left; ++k) ways *= static_cast<std::size_t>(classes + 1);
  double first = 0;
  for (std::size_t way = 0; way < ways; ++way) {
    std::size_t digits = way;
    for (std::size_t k = known; k < votes.size(); ++k) {
      votes[k][id] = static_cast<double>(digits % static_cast<std::size_t>(classes + 1));
      digits /= static_cast<std::size_t>(classes + 1);
    }
    const double label = full_label(votes, id, classes);
    if (way == 0) first = label;
    if (label != first) return false;
  }
  return true;
}

struct Settled {
  VoteResult result;
  std::vector<std::vector<std::size_t>> seen;
};

Settled settle(const std::vector<std::vector<double>> &votes, int classes, std::size_t block) {
  const std::size_t count = votes.front().size();
  const Model model = table_model(votes.size(), classes);
  TableModules modules(model, votes);
  const OwnedPatterns x = pattern_ids(count);
  const ClassifyParams params{1, 1, 0, 0, 0, -1, 0};
  Settled run{classify_in_blocks(modules, model, x.view(), params, block, VoteNeeds::labels), {}};
  run.seen = modules.seen;
  return run;
}

// Labels and the patterns each member was asked about, against the full
// vote and trial of every outcome of the members left.
void expect_exact(const std::vector<std::vector<double>> &votes, int classes, std::size_t block,
                  bool trial) {
  const std::size_t count = votes.front().size();
  const Settled run = settle(votes, classes, block);
  ASSERT_EQ(run.result.labels.size(), count);
  for (std::size_t id = 0; id < count; ++id) {
    EXPECT_EQ(run.result.labels[id], full_label(votes, id, classes)) << "pattern " << id;
    bool any = false;
    for (const auto &member : votes) any = any || member[id] != none;
    EXPECT_EQ(run.result.votes[id] > 0, any) << "pattern " << id;
  }
  if (!trial) return;
  for (std::size_t k = 0; k < votes.size(); ++k) {
    std::vector<bool> asked(count, false);
    for (std::size_t id : run.seen[k]) asked[id] = true;
    for (std::size_t id = 0; id < count; ++id)
      EXPECT_EQ(asked[id], !settled_by_trial(votes, id, k, classes))
          << "member " << k << " of " << votes.size() << ", pattern " << id;
  }
}

std::vector<std::vector<double>> random_votes(std::size_t members, std::size_t count, int classes,
                                              std::mt19937 &draw) {
  // Mostly one favourite class, so that votes settle at every member.
  std::uniform_int_distribution<int> any(0, classes), coin(0, 2);
  std::vector<double> favourite(count);
  for (double &f : favourite) f = 1 + any(draw) % classes;
  std::vector<std::vector<double>> votes(members, std::vector<double>(count));
  for (auto &member : votes)
    for (std::size_t id = 0; id < count; ++id)
      member[id] = coin(draw) == 0 ? any(draw) : favourite[id];
  return votes;
}

}  // namespace

TEST(SettlingVote, SettledExactlyAtTheBound) {
  // Class 1 leads by the members left: a tie at the end still goes to it.
  EXPECT_TRUE(vote_settled(std::vector<int>{3, 1}.data(), 2, 2));
  EXPECT_FALSE(vote_settled(std::vector<int>{3, 1}.data(), 2, 3));
  // Class 2 leads by the members left: class 1 would win the tie.
  EXPECT_FALSE(vote_settled(std::vector<int>{1, 3}.data(), 2, 2));
  EXPECT_TRUE(vote_settled(std::vector<int>{1, 3}.data(), 2, 1));
  // A lone class is settled once it has a vote; without one the pattern may
  // stay unclassified.
  EXPECT_TRUE(vote_settled(std::vector<int>{1}.data(), 1, 14));
  EXPECT_FALSE(vote_settled(std::vector<int>{0}.data(), 1, 1));
  EXPECT_TRUE(vote_settled(std::vector<int>{0, 0}.data(), 2, 0));
}

TEST(SettlingVote, RandomVotesGiveTheFullVotesLabelsAskingOnlyWhatIsOpen) {
  std::mt19937 draw(11);
  for (std::size_t members : {1, 2, 3, 4, 5})
    for (int classes : {1, 2, 3})
      for (std::size_t block : {std::size_t{0}, std::size_t{7}}) {
        SCOPED_TRACE(std::to_string(members) + " members, " + std::to_string(classes) +
                     " classes, blocks of " + std::to_string(block));
        expect_exact(random_votes(members, 60, classes, draw), classes, block, true);
      }
  for (int classes : {2, 5, 26})
    expect_exact(random_votes(15, 500, classes, draw), classes, 64, false);
}

TEST(SettlingVote, AdversarialVotesOfFifteenMembers) {
  // Columns are patterns: 0 all of class 2 (settled after 8), 1 nobody
  // votes, 2 a 7-7 tie with one abstention (the lowest class), 3 ties until
  // the last member and goes to class 1, 4 classes 3 and 1 alternating with class 3 first (the
  // last member makes 8-7), 5 one vote for class 3 from the last member.
  std::vector<std::vector<double>> votes(15, std::vector<double>(6, none));
  for (std::size_t k = 0; k < 15; ++k) {
    votes[k][0] = 2;
    votes[k][2] = k == 0 ? none : k % 2 ? 3 : 2;
    votes[k][3] = k == 14 ? 3 : k % 2 ? 1 : 2;
    votes[k][4] = k % 2 ? 1 : 3;
  }
  votes[14][5] = 3;
  const Settled run = settle(votes, 3, 0);
  EXPECT_EQ(run.result.labels, (std::vector<double>{2, -1, 2, 1, 3, 3}));
  EXPECT_EQ(run.result.votes[1], 0);
  std::vector<std::size_t> asked(6, 0);
  for (const auto &member : run.seen)
    for (std::size_t id : member) ++asked[id];
  EXPECT_EQ(asked, (std::vector<std::size_t>{8, 15, 15, 15, 15, 15}));
  expect_exact(votes, 3, 4, false);
}

TEST(SettlingVote, EveryVoteSettledAfterTheMajority) {
  std::vector<std::vector<double>> votes(15, std::vector<double>(40));
  for (std::size_t id = 0; id < 40; ++id)
    for (std::size_t k = 0; k < 15; ++k) votes[k][id] = 1 + static_cast<double>(id % 3);
  const Settled run = settle(votes, 3, 16);
  for (std::size_t k = 0; k < 15; ++k)
    EXPECT_EQ(run.seen[k].size(), k < 8 ? 40u : 0u) << "member " << k;
}
