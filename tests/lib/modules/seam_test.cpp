// The library's flows over the modules' seam, with a fake pair of modules:
// what each flow asks of the modules, in which order and on which thread,
// and that an interpreter (one call at a time, printing as it goes) gets
// the same model as the embedded host's side-by-side members.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "ensemble/ensemble.h"
#include "evaluation/cross_validation.h"
#include "evaluation/parameter_search.h"
#include "modules/fitting.h"
#include "modules/modules.h"

using namespace qir;

namespace {

struct TrainCall {
  std::vector<double> first_column;  // the patterns' first feature, in the order given
  std::vector<double> labels;
  double oflag = 0;
  std::size_t given = 0;  // nodes it starts from
  std::thread::id thread;
};

// One node per class at the class's first pattern, after any given nodes;
// a pattern takes the label of the nearest node centre. It prints one line
// per call when asked to, and refuses labels of 99 as a module would.
class FakeModules final : public Modules {
 public:
  explicit FakeModules(bool interpreter) : interpreter_(interpreter) {}

  Member train_member(PatternMatrix patterns, const std::vector<double> &labels,
                      const TrainingParams &, double oflag, const Member *start) override {
    const std::lock_guard<std::mutex> one_at_a_time(shared_->lock);
    TrainCall call{{patterns.values, patterns.values + patterns.rows}, labels, oflag,
                   start ? start->labels.size() : 0, std::this_thread::get_id()};
    shared_->train_calls.push_back(call);
    for (std::size_t r = 0; r < labels.size(); ++r)
      if (labels[r] == 99)
        throw ModuleError("QIR_TRAIN: 2nd input argument (NLabels) at row " +
                          std::to_string(r + 1) + ", is refused.");
    Member nodes;
    if (start) nodes = *start;
    for (std::size_t r = 0; r < patterns.rows; ++r) {
      bool known = false;
      for (double label : nodes.labels) known = known || label == labels[r];
      if (known) continue;
      std::vector<double> row(2 * patterns.columns + 1, 0.0);
      for (std::size_t c = 0; c < patterns.columns; ++c)
        row[c] = patterns.values[c * patterns.rows + r];
      nodes.templates.push_back(row);
      nodes.labels.push_back(labels[r]);
    }
    nodes.list_presentations = 2;
    if (oflag >= 1) emit("trained " + std::to_string(nodes.labels.size()) + " nodes\n");
    return nodes;
  }

  std::vector<double> classify_member(const Member &member, int features,
                                      PatternMatrix patterns,
                                      const ClassifyParams &params) override {
    {
      const std::lock_guard<std::mutex> one_at_a_time(shared_->lock);
      ++shared_->classify_calls;
    }
    std::vector<double> labels(patterns.rows, params.unknown_label);
    for (std::size_t r = 0; r < patterns.rows; ++r) {
      double best = INFINITY;
      for (std::size_t k = 0; k < member.labels.size(); ++k) {
        double distance = 0;
        for (int c = 0; c < features; ++c) {
          const double d =
              patterns.values[static_cast<std::size_t>(c) * patterns.rows + r] - member.templates[k][c];
          distance += d * d;
        }
        if (distance < best) best = distance, labels[r] = member.labels[k];
      }
    }
    if (params.oflag >= 1) emit("classified\n");
    return labels;
  }

  void print(std::string_view text) const override { emit(text); }
  void warn(std::string_view text) const override { emit("warning: " + std::string(text)); }
  bool interpreter() const override { return interpreter_; }
  Modules &worker(std::size_t k) override {
    if (interpreter_) throw std::logic_error("an interpreter has no workers");
    while (workers_.size() < k) {
      workers_.push_back(std::make_unique<FakeModules>(false));
      workers_.back()->shared_ = shared_;
    }
    workers_[k - 1]->console_ = console_;
    return *workers_[k - 1];
  }
  void set_console(Console console) override { console_ = std::move(console); }
  const Console &console() const override { return console_; }

  std::vector<TrainCall> train_calls() const { return shared_->train_calls; }
  std::size_t classify_calls() const { return shared_->classify_calls; }
  const std::string &printed() const { return shared_->printed; }

 private:
  struct Shared {
    std::mutex lock;
    std::vector<TrainCall> train_calls;
    std::size_t classify_calls = 0;
    std::string printed;
  };
  void emit(std::string_view text) const {
    if (console_.print) return console_.print(text);
    shared_->printed.append(text);
  }

  bool interpreter_;
  Console console_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::vector<std::unique_ptr<FakeModules>> workers_;
};

Dataset three_classes(std::size_t per_class) {
  Dataset data;
  for (std::size_t k = 0; k < per_class; ++k)
    for (int label = 1; label <= 3; ++label) {
      data.patterns.push_back({label + 0.01 * static_cast<double>(k), 0.5 * label});
      data.labels.push_back(label);
    }
  return data;
}

const TrainingParams some_params{1, 0.5, 0, 0.1, 1, 10, 0, 0};

}  // namespace

TEST(Seam, AnInterpreterTrainsTheEmbeddedHostsMembersInTurnOnItsOwnThread) {
  const Dataset data = three_classes(10);
  const VotingSettings voting{5, 3, true};
  FakeModules interpreter(true), embedded(false);
  EnsembleOptions options;
  options.workers = 2;
  const Model in_turn = fit_model(interpreter, data, some_params, true, 1, voting, options);
  const Model side_by_side = fit_model(embedded, data, some_params, true, 1, voting, options);
  EXPECT_EQ(format_model(in_turn), format_model(side_by_side));

  const auto calls = interpreter.train_calls();
  ASSERT_EQ(calls.size(), 5u);
  for (std::size_t k = 0; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].thread, std::this_thread::get_id()) << "member " << k + 1;
    // Member 1's summary stands for all at oflag 1: the others are silent.
    EXPECT_EQ(calls[k].oflag, k == 0 ? 1 : 0) << "member " << k + 1;
  }
  // Each member in its own order, the orders the embedded members had.
  const auto embedded_calls = embedded.train_calls();
  ASSERT_EQ(embedded_calls.size(), 5u);
  std::vector<std::vector<double>> orders, embedded_orders;
  for (const auto &call : calls) orders.push_back(call.first_column);
  for (const auto &call : embedded_calls) embedded_orders.push_back(call.first_column);
  std::sort(embedded_orders.begin(), embedded_orders.end());
  auto sorted_orders = orders;
  std::sort(sorted_orders.begin(), sorted_orders.end());
  EXPECT_EQ(sorted_orders, embedded_orders);
  EXPECT_NE(orders[0], orders[1]);
  // The same text: member 1's summary and the note for the others.
  EXPECT_EQ(interpreter.printed(), embedded.printed());
  EXPECT_EQ(interpreter.printed(), "trained 3 nodes\n" + members_note(5));
}

// A data set handed over to training gives the model one lent would, and
// lets its rows go.
TEST(Seam, DataHandedOverTrainTheSameModelAndLetTheirRowsGo) {
  const VotingSettings voting{3, 2, true};
  for (const Scaling scaling : {Scaling::min_max, Scaling::none, Scaling::standard}) {
    const Dataset data = three_classes(7);
    FakeModules lent_to(false), handed_to(false);
    const Model lent = fit_model(lent_to, data, some_params, scaling, 0, voting);
    Dataset handed = data;
    const Model trained = fit_model(handed_to, std::move(handed), some_params, scaling, 0, voting);
    EXPECT_EQ(format_model(trained), format_model(lent));
    EXPECT_TRUE(handed.patterns.empty());
    EXPECT_EQ(handed.labels, data.labels);
  }
}

TEST(Seam, EveryMemberSpeaksUnderItsHeadingFromOflag2AndProgressFollowsEachMember) {
  FakeModules interpreter(true);
  std::vector<int> progressed;
  EnsembleOptions options;
  options.on_progress = [&](const MemberProgress &step) {
    EXPECT_EQ(step.members, 3);
    EXPECT_EQ(step.nodes, 3u);
    progressed.push_back(step.member);
  };
  fit_model(interpreter, three_classes(4), some_params, true, 2, {3, 1, true}, options);
  EXPECT_EQ(progressed, (std::vector<int>{0, 1, 2}));
  std::string expected;
  for (std::size_t k = 0; k < 3; ++k) expected += member_heading(k, 3) + "\ntrained 3 nodes\n";
  EXPECT_EQ(interpreter.printed(), expected);
  for (const auto &call : interpreter.train_calls()) EXPECT_EQ(call.oflag, 2);
}

TEST(Seam, ContinuationGivesEachMemberItsOwnNodes) {
  FakeModules modules(true);
  Dataset first = three_classes(3);
  first.class_names = {{1, "a"}, {2, "b"}, {3, "c"}};
  const Model earlier = fit_model(modules, first, some_params, true, 0, {3, 1, true});
  Dataset later = three_classes(2);
  later.class_names = first.class_names;
  const Model next = continue_model(modules, earlier, later, some_params, 0);
  const auto calls = modules.train_calls();
  ASSERT_EQ(calls.size(), 6u);
  for (std::size_t k = 3; k < 6; ++k) EXPECT_EQ(calls[k].given, 3u);
  EXPECT_EQ(next.batches, 2u);
  EXPECT_EQ(next.members.size(), 3u);
  EXPECT_EQ(next.class_names, first.class_names);
}

TEST(Seam, AShuffledMembersRefusalCarriesTheRowsInItsOrder) {
  FakeModules modules(true);
  Dataset data = three_classes(4);
  data.labels[7] = 99;
  try {
    fit_model(modules, data, some_params, false, 0, {2, 1, true});
    FAIL() << "no refusal";
  } catch (const MemberRefusal &refusal) {
    ASSERT_EQ(refusal.order.size(), data.labels.size());
    const std::string text = refusal.what();
    const std::size_t at = text.find("at row ");
    ASSERT_NE(at, std::string::npos);
    const std::size_t row = std::stoul(text.substr(at + 7));
    EXPECT_EQ(refusal.order[row - 1], 8u);  // the data's row of the refused label
  }
}

TEST(Seam, CrossValidationAndSearchAskOneMemberCallPerFoldAndVoter) {
  FakeModules modules(true);
  const Dataset data = three_classes(6);
  CvSettings settings;
  settings.folds = 3;
  settings.voting = {2, 1, true};
  const CvResult result = cross_validate(modules, data, some_params, settings, [](int) {});
  EXPECT_EQ(modules.train_calls().size(), 6u);
  EXPECT_EQ(modules.classify_calls(), 6u);
  EXPECT_EQ(result.accuracy_percent(), 100.0);

  FakeModules searched(true), embedded(false);
  settings.voting = {15, 1, true};
  const SearchOutcome in_turn = run_search(searched, data, settings, [](const std::string &) {});
  const SearchOutcome beside = run_search(embedded, data, settings, [](const std::string &) {});
  for (const auto &call : searched.train_calls())
    ASSERT_EQ(call.thread, std::this_thread::get_id());
  EXPECT_EQ(searched.train_calls().size(), embedded.train_calls().size());
  EXPECT_EQ(in_turn.kept_defaults, beside.kept_defaults);
  ASSERT_EQ(in_turn.screened.size(), beside.screened.size());
  for (std::size_t k = 0; k < in_turn.screened.size(); ++k)
    EXPECT_EQ(in_turn.screened[k].params.D, beside.screened[k].params.D);
}
