// Ensembles: the members' orders, the vote and its tie rule, training with
// the real module files (the same members for any number of workers), and
// ensemble model files.
#include "ensemble/ensemble.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>

#include "base/errors.h"
#include "base/prng.h"
#include "modules/module_runner.h"
#include "qirhost/host.h"
#include "../temp_dir.h"

using namespace qir;

namespace {

constexpr double unknown = -1;

// Two noisy classes on a line, sorted by class as many data files are.
struct Data {
  std::vector<std::vector<double>> rows;
  std::vector<double> labels;
};

Data sorted_classes(std::size_t per_class) {
  Data data;
  for (int label = 1; label <= 2; ++label)
    for (std::size_t k = 0; k < per_class; ++k) {
      const double x = (label - 1) * 0.4 + 0.6 * static_cast<double>((k * 37) % per_class) /
                                               static_cast<double>(per_class);
      data.rows.push_back({x, static_cast<double>((k * 11) % 7) / 7.0});
      data.labels.push_back(label);
    }
  return data;
}

TrainingParams params() { return {1.5, 0.5, 0, 0.1, 1, 100, 0, 0}; }

bool same_members(const Model &a, const Model &b) {
  if (a.members.size() != b.members.size()) return false;
  for (std::size_t k = 0; k < a.members.size(); ++k)
    if (a.members[k].templates != b.members[k].templates ||
        a.members[k].labels != b.members[k].labels)
      return false;
  return true;
}

struct Trained {
  Model model;
  std::string console;
};

Trained train(ModuleRunner &runner, const Data &data, const VotingSettings &voting, int workers,
              double oflag = 0, EnsembleOptions options = {}) {
  std::string console;
  runner.set_console({[&](std::string_view text) { console.append(text); }, {}});
  const auto x = column_major(data.rows, data.rows.front().size());
  options.workers = workers;
  Model model = train_ensemble(runner, x.view(), data.labels, params(), voting, oflag, options);
  return {std::move(model), console};
}

}  // namespace

TEST(EnsembleOrder, ShuffledOrdersArePermutationsFixedBySeedAndMember) {
  const VotingSettings plain{1, 1, false}, shuffled{5, 1, true}, reseeded{5, 2, true};
  std::vector<std::size_t> identity(50);
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(presentation_order(50, plain, 0), identity);

  const auto first = presentation_order(50, shuffled, 0);
  auto sorted = first;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, identity);
  EXPECT_NE(first, identity);
  EXPECT_EQ(first, presentation_order(50, shuffled, 0));
  EXPECT_NE(first, presentation_order(50, shuffled, 1));
  EXPECT_NE(first, presentation_order(50, reseeded, 0));
  EXPECT_TRUE(presentation_order(0, shuffled, 3).empty());
  EXPECT_EQ(presentation_order(1, shuffled, 3), std::vector<std::size_t>{0});
}

TEST(EnsembleOrder, SettingsThatCannotVoteAreRefused) {
  EXPECT_THROW(check_voting({0, 1, true}), UsageError);
  EXPECT_THROW(check_voting({3, 1, false}), UsageError);
  EXPECT_NO_THROW(check_voting({1, 1, false}));
  EXPECT_NO_THROW(check_voting({3, 1, true}));
}

TEST(EnsembleVote, MajorityTiesAndUnclassifiedPatterns) {
  // Patterns: clear majority; two-two tie; one voter, others unknown; no voter;
  // a label outside the classes, which casts no vote.
  const std::vector<std::vector<double>> members{{2, 1, unknown, unknown, 9},
                                                 {2, 3, unknown, unknown, 3},
                                                 {1, 3, 3, unknown, 9},
                                                 {2, 1, unknown, unknown, 9}};
  const VoteResult result = vote(members, {1, 2, 3}, unknown);
  EXPECT_EQ(result.labels, (std::vector<double>{2, 1, 3, unknown, 3}));
  EXPECT_EQ(result.votes, (std::vector<int>{4, 4, 1, 0, 1}));
  const std::vector<double> expected_shares{0.25, 0.75, 0,    // majority
                                            0.5,  0,    0.5,  // tie: the lower class
                                            0,    0,    1,    // the one voter decides
                                            0,    0,    0,    // nobody voted
                                            0,    0,    1};
  EXPECT_EQ(result.shares, expected_shares);
  for (std::size_t p = 0; p < result.labels.size(); ++p) {  // the winner has the largest share
    if (result.votes[p] == 0) continue;
    const auto row = result.shares.begin() + static_cast<long>(3 * p);
    EXPECT_EQ(result.classes[static_cast<std::size_t>(std::max_element(row, row + 3) - row)],
              result.labels[p]);
  }
}

TEST(EnsembleVote, OneMemberPassesItsLabelsThrough) {
  const VoteResult result = vote({{4, unknown, 7}}, {4, 7}, unknown);
  EXPECT_EQ(result.labels, (std::vector<double>{4, unknown, 7}));
  EXPECT_TRUE(vote({}, {1, 2}, unknown).labels.empty());
}

TEST(EnsembleTraining, PlainSingleMemberIsOneTrainingCall) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Data data = sorted_classes(40);
  const Trained ensemble = train(runner, data, {1, 1, false}, 1, 1);
  Dataset plain;
  plain.patterns = data.rows;
  plain.labels = data.labels;
  std::string console;
  runner.set_console({[&](std::string_view text) { console.append(text); }, {}});
  const Model direct = runner.train(plain, params(), 1);
  EXPECT_TRUE(same_members(ensemble.model, direct));
  EXPECT_EQ(ensemble.model.members[0].list_presentations, direct.members[0].list_presentations);
  EXPECT_NE(ensemble.console.find("QIR training converged"), std::string::npos);
  // The operation totals grow with every call into a loaded module, so
  // compare the summaries up to their last line.
  const auto summary = [](const std::string &text) { return text.substr(0, text.rfind("FLOPs")); };
  EXPECT_EQ(summary(ensemble.console).substr(0, summary(ensemble.console).rfind('\n')),
            summary(console).substr(0, summary(console).rfind('\n')));
}

TEST(EnsembleTraining, MembersLearnTheirOwnOrdersWhateverTheWorkers) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Data data = sorted_classes(40);
  const VotingSettings voting{4, 7, true};
  const Trained one = train(runner, data, voting, 1);
  const Trained two = train(runner, data, voting, 2);
  const Trained four = train(runner, data, voting, 4);
  ASSERT_EQ(one.model.members.size(), 4u);
  EXPECT_TRUE(same_members(one.model, two.model));
  EXPECT_TRUE(same_members(one.model, four.model));

  // Member 3 is one training call on the data in member 3's order.
  const auto order = presentation_order(data.labels.size(), voting, 2);
  Dataset reordered;
  for (std::size_t index : order) {
    reordered.patterns.push_back(data.rows[index]);
    reordered.labels.push_back(data.labels[index]);
  }
  const Model third = runner.train(reordered, params(), 0);
  EXPECT_EQ(one.model.members[2].templates, third.members[0].templates);
  EXPECT_EQ(one.model.members[2].labels, third.members[0].labels);
  EXPECT_NE(one.model.members[0].templates, third.members[0].templates);
}

TEST(EnsembleTraining, MembersTrainedApartAssembleIntoTheEnsemblesModel) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Data data = sorted_classes(40);
  const VotingSettings voting{3, 5, true};
  const Model whole = train(runner, data, voting, 1).model;
  runner.set_console({[](std::string_view) {}, {}});  // train's console has gone
  const OwnedPatterns x = column_major(data.rows, data.rows.front().size());
  const std::vector<double> &y = data.labels;
  std::vector<Member> members;
  for (int k = voting.voters - 1; k >= 0; --k)  // any order, any process
    members.insert(members.begin(),
                   train_ensemble_member(runner, x.view(), y, params(), voting, k));
  const Model assembled =
      assemble_ensemble(members, whole.features, params(), voting, whole.batches);
  EXPECT_EQ(format_model(assembled), format_model(whole));

  // Going on from each member's own nodes on the next batch is continue_ensemble's member.
  const Model continued = continue_ensemble(runner, whole, x.view(), y, params(), 0, {});
  std::vector<Member> next;
  for (int k = 0; k < voting.voters; ++k)
    next.push_back(train_ensemble_member(runner, x.view(), y, params(), voting, k,
                                         &whole.members[static_cast<std::size_t>(k)],
                                         whole.batches));
  EXPECT_EQ(format_model(assemble_ensemble(next, whole.features, params(), voting, 2)),
            format_model(continued));
  EXPECT_THROW(train_ensemble_member(runner, x.view(), y, params(), voting, 3), UsageError);
  EXPECT_THROW(assemble_ensemble(next, whole.features, params(), {4, 5, true}, 2), UsageError);
}

TEST(EnsembleTraining, MembersTrainedApartChooseAmongTheFeaturesFoundOnceForAll) {
  ModuleRunner runner(module_directory(std::nullopt));
  runner.set_console({[](std::string_view) {}, {}});
  // A circle in features 0 and 1, six idle features beside it.
  Data data;
  Xorshift64Star random(11);
  const auto uniform = [&] { return static_cast<double>(random.next() >> 11) / 9007199254740992.0; };
  for (int r = 0; r < 240; ++r) {
    std::vector<double> row(8);
    for (double &value : row) value = uniform();
    const double dx = row[0] - 0.5, dy = row[1] - 0.5;
    data.rows.push_back(row);
    data.labels.push_back(dx * dx + dy * dy < 0.16 ? 2 : 1);
  }
  const OwnedPatterns x = column_major(data.rows, 8);
  const std::vector<double> &y = data.labels;
  VotingSettings voting{3, 4, true};
  voting.screen = true;
  const std::vector<std::size_t> found = ensemble_features(x.view(), y, voting);
  ASSERT_EQ(found, (std::vector<std::size_t>{0, 1}));  // the idle ones are dropped
  EXPECT_TRUE(ensemble_features(x.view(), y, {3, 4, true}).empty());

  // Found once and given to every member, or found by each: the same
  // members, and the model train_ensemble makes.
  const Model whole = train_ensemble(runner, x.view(), y, params(), voting, 0, {});
  std::vector<Member> given, own;
  for (int k = 0; k < voting.voters; ++k) {
    given.push_back(
        train_ensemble_member(runner, x.view(), y, params(), voting, k, nullptr, 0, &found));
    own.push_back(train_ensemble_member(runner, x.view(), y, params(), voting, k));
  }
  const std::string expected = format_model(whole);
  EXPECT_NE(expected.find("% member_features 1 2\n"), std::string::npos);
  EXPECT_EQ(format_model(assemble_ensemble(given, 8, params(), voting, 1)), expected);
  EXPECT_EQ(format_model(assemble_ensemble(own, 8, params(), voting, 1)), expected);

  // The list given is the one used: the screen is not run again.
  const std::vector<std::size_t> other{1, 5};
  const Member chosen =
      train_ensemble_member(runner, x.view(), y, params(), voting, 0, nullptr, 0, &other);
  EXPECT_EQ(chosen.features, other);
  const std::vector<std::size_t> none;
  EXPECT_TRUE(
      train_ensemble_member(runner, x.view(), y, params(), voting, 0, nullptr, 0, &none)
          .features.empty());
  // A member going on keeps its own features whatever the list.
  const Member next = train_ensemble_member(runner, x.view(), y, params(), voting, 0,
                                            &whole.members[0], 1, &other);
  EXPECT_EQ(next.features, found);
  // Columns the data lack, repeated or out of order would be read wrongly.
  for (const std::vector<std::size_t> &bad : {std::vector<std::size_t>{0, 8},
                                              std::vector<std::size_t>{1, 1},
                                              std::vector<std::size_t>{3, 2}})
    EXPECT_THROW(train_ensemble_member(runner, x.view(), y, params(), voting, 0, nullptr, 0, &bad),
                 UsageError);
}

TEST(EnsembleTraining, ProgressFollowsEveryPresentationAndKeepsTheConsoleAsAsked) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Data data = sorted_classes(30);
  std::vector<MemberProgress> steps;
  EnsembleOptions options;
  options.on_progress = [&](const MemberProgress &step) { steps.push_back(step); };
  const Trained quiet = train(runner, data, {3, 1, true}, 2, 0, options);
  EXPECT_EQ(quiet.console, "");  // the per-presentation report is read, not shown
  for (int member = 0; member < 3; ++member) {
    std::vector<MemberProgress> own;
    std::copy_if(steps.begin(), steps.end(), std::back_inserter(own),
                 [&](const MemberProgress &s) { return s.member == member; });
    ASSERT_FALSE(own.empty());
    const Member &nodes = quiet.model.members.at(static_cast<std::size_t>(member));
    // A converged run presents the list once more than it reports.
    EXPECT_EQ(own.back().presentation, static_cast<int>(nodes.list_presentations) + 1);
    EXPECT_EQ(own.back().nodes, nodes.templates.size());  // no trimming: every node created is kept
    EXPECT_EQ(own.back().members, 3);
  }
  const Trained summary = train(runner, data, {3, 1, true}, 2, 1, options);
  EXPECT_EQ(summary.console.find("List presentation #"), std::string::npos);
  EXPECT_EQ(summary.console.find("Member 2 of 3:"), std::string::npos);  // member 1's stands
  EXPECT_NE(summary.console.find("QIR training converged"), std::string::npos);
  EXPECT_NE(summary.console.find("3 members trained"), std::string::npos);
  EXPECT_TRUE(same_members(quiet.model, summary.model));
  const Trained every = train(runner, data, {3, 1, true}, 2, 2, options);
  EXPECT_NE(every.console.find("List presentation #1:"), std::string::npos);
  EXPECT_NE(every.console.find("Member 3 of 3:"), std::string::npos);
}

TEST(EnsembleTraining, SortedFileVotesAsWellAsAShuffledOne) {
  ModuleRunner runner(module_directory(std::nullopt));
  const Data sorted = sorted_classes(60);
  Data mixed;
  for (std::size_t k = 0; k < 60; ++k)
    for (std::size_t half : {std::size_t{0}, std::size_t{60}}) {
      mixed.rows.push_back(sorted.rows[k + half]);
      mixed.labels.push_back(sorted.labels[k + half]);
    }
  const auto accuracy = [&](const Model &model) {
    const auto x = column_major(sorted.rows, 2);
    const ClassifyParams p{1.5, 0.5, 0, 0.1, 0, unknown, 0};
    const auto labels = classify_ensemble(runner, model, x.view(), p).labels;
    std::size_t right = 0;
    for (std::size_t k = 0; k < labels.size(); ++k) right += labels[k] == sorted.labels[k];
    return static_cast<double>(right) / static_cast<double>(labels.size());
  };
  // The order of the file no longer matters much once every member shuffles.
  const double from_sorted = accuracy(train(runner, sorted, {5, 3, true}, 2).model);
  const double from_mixed = accuracy(train(runner, mixed, {5, 3, true}, 2).model);
  EXPECT_NEAR(from_sorted, from_mixed, 0.05);
  EXPECT_GT(from_sorted, 0.9);
}

TEST(EnsembleModelFile, MembersRoundTripAndFaultsAreNamed) {
  TempDir dir;
  Model model;
  model.features = 1;
  model.params = {1, 0.5, 0, 0.1, 1, 100, 0, 0};
  model.members = {
      {{{0.25, 0, 0}}, {1}, 2}, {{{0.5, 1, 0.25}, {0.75, 0, 0}}, {2, 1}, 3}, {{}, {}, 1}};
  model.voting = {3, 9, true};
  save_model(dir.path("e.model"), model);
  const Model back = load_model(dir.path("e.model"));
  EXPECT_TRUE(same_members(model, back));
  EXPECT_EQ(back.members[1].list_presentations, 3);
  EXPECT_EQ(back.members[0].list_presentations, 2);
  EXPECT_EQ(back.voting.voters, 3);
  EXPECT_EQ(back.voting.seed, 9u);
  EXPECT_TRUE(back.voting.shuffle);

  const std::string text = format_model(model);
  EXPECT_NE(text.find("% format 3\n"), std::string::npos);
  const auto refused = [&](const std::string &from, const std::string &to) {
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    try {
      parse_model(changed, "e.model");
    } catch (const InputError &error) {
      return std::string(error.what());
    }
    return std::string("(accepted)");
  };
  EXPECT_NE(refused("% voters 3", "% voters 2").find("but 3 members"), std::string::npos);
  EXPECT_NE(refused("% member 2 nodes 2", "% member 3 nodes 2").find("out of order"),
            std::string::npos);
  EXPECT_NE(refused("% member 2 nodes 2", "% member 2 nodes 1").find("promised 1 nodes and has 2"),
            std::string::npos);
  EXPECT_NE(refused("% format 3", "% format 2").find("needs model file format 3"),
            std::string::npos);
  EXPECT_NE(refused("% format 3", "% format 6").find("reads formats up to 5"), std::string::npos);
  EXPECT_NE(refused("% shuffle 1", "% shuffle 0").find("would all be alike"), std::string::npos);
  EXPECT_NE(refused("% shuffle 1", "% shuffle 2").find("'% shuffle'"), std::string::npos);

  // A continued ensemble says how many batches its members have had; a
  // first fit's file has no such line.
  EXPECT_EQ(text.find("% batches"), std::string::npos);
  EXPECT_EQ(back.batches, 1u);
  model.batches = 4;
  const std::string continued = format_model(model);
  EXPECT_NE(continued.find("% shuffle 1\n% batches 4\n"), std::string::npos);
  EXPECT_EQ(parse_model(continued, "e.model").batches, 4u);
  std::string zero = continued;
  zero.replace(zero.find("% batches 4"), 11, "% batches 0");
  EXPECT_THROW(parse_model(zero, "e.model"), InputError);
}
