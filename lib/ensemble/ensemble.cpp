#include "ensemble.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>

#include "../base/errors.h"
#include "feature_screen.h"

namespace qir {
namespace {

std::vector<double> reordered(const std::vector<double> &labels,
                              const std::vector<std::size_t> &order) {
  std::vector<double> out(order.size());
  for (std::size_t r = 0; r < order.size(); ++r) out[r] = labels[order[r]];
  return out;
}

// Reads the modules' per-presentation report out of their console text:
// "List presentation #P: N new nodes created, ..." at oflag 2, or
// "   Summary: N new nodes created, ..." once per presentation at oflag 3
// and above. Lines the caller did not ask for are dropped.
class PresentationReader {
 public:
  PresentationReader(int shown_oflag, std::function<void(int, std::size_t)> on_presentation)
      : shown_oflag_(shown_oflag), on_presentation_(std::move(on_presentation)) {}

  void take(std::string_view text, std::string &shown) {
    pending_.append(text);
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      line(pending_.substr(0, end + 1), shown);
      pending_.erase(0, end + 1);
    }
  }
  void finish(std::string &shown) {
    if (!pending_.empty() && shown_oflag_ >= 1) shown += pending_;
    pending_.clear();
  }

 private:
  void line(const std::string &text, std::string &shown) {
    int presentation = 0, created = 0;
    if (std::sscanf(text.c_str(), "List presentation #%d: %d new nodes created", &presentation,
                    &created) == 2) {
      report(presentation, created);
      if (shown_oflag_ == 2) shown += text;
      return;
    }
    if (std::sscanf(text.c_str(), "   Summary: %d new nodes created", &created) == 1) {
      report(presentations_ + 1, created);
      shown += text;  // printed only at oflag 3 and above, which asked for it
      return;
    }
    if (shown_oflag_ >= 1) shown += text;
  }
  void report(int presentation, int created) {
    presentations_ = presentation;
    nodes_ += static_cast<std::size_t>(std::max(created, 0));
    on_presentation_(presentation, nodes_);
  }

  int shown_oflag_;
  std::function<void(int, std::size_t)> on_presentation_;
  std::string pending_;
  int presentations_ = 0;
  std::size_t nodes_ = 0;
};

struct MemberText {
  std::string console;
  std::vector<std::string> warnings;
};

// One member's qir_train call, its console text kept for later.
// How the members train: from no nodes, or each from its own nodes of an
// earlier model, on that model's next batch.
struct Start {
  const Model *earlier = nullptr;
  std::uint64_t batch = 0;
  int members = 1;
  const Member *member = nullptr;  // one member's own nodes, instead of earlier's
  // The features that passed the screen (feature_screen.h); empty: all.
  std::vector<std::size_t> kept = {};
  const std::vector<Member> *views = nullptr;  // EnsembleOptions::member_views
};

// The member's accuracy on the patterns its draw left out, counted as
// (right + 1) / (left out + 2): never 0, so no member is silenced, and a
// draw that left nothing out weighs 1/2.
double out_of_bag_weight(Modules &runner, const Member &member, PatternMatrix patterns,
                         const std::vector<double> &labels, const TrainingParams &params,
                         const std::vector<std::size_t> &order) {
  std::vector<bool> drawn(labels.size(), false);
  for (std::size_t row : order) drawn[row] = true;
  std::vector<std::size_t> left_out;
  for (std::size_t row = 0; row < labels.size(); ++row)
    if (!drawn[row]) left_out.push_back(row);
  std::size_t right = 0;
  if (!left_out.empty()) {
    OwnedPatterns seen = rows_of(patterns, left_out);
    if (!member.features.empty()) seen = columns_of(seen.view(), member.features);
    const double unknown = *std::min_element(labels.begin(), labels.end()) - 1;
    const ClassifyParams classify{params.D,     params.ratio, params.vigilance,
                                  params.alpha, params.ct,    unknown, 0};
    const std::vector<double> given = runner.classify_member(
        member, static_cast<int>(seen.columns), seen.view(), classify);
    for (std::size_t k = 0; k < left_out.size(); ++k) right += given[k] == labels[left_out[k]];
  }
  return (static_cast<double>(right) + 1) / (static_cast<double>(left_out.size()) + 2);
}

// One member's qir_train call on its order of the patterns. A refusal names
// the member's order, so that a front end can name the data's rows.
Member call_member(Modules &runner, PatternMatrix patterns, const std::vector<double> &labels,
                   const TrainingParams &params, const VotingSettings &voting, int member,
                   const Start &start, double oflag) {
  const Member *given =
      start.member ? start.member
      : start.earlier ? &start.earlier->members.at(static_cast<std::size_t>(member))
                      : nullptr;
  // A member keeps the features it was first given; a new one draws its own
  // (among those the screen kept).
  std::vector<std::size_t> features =
      given         ? given->features
      : start.views ? start.views->at(static_cast<std::size_t>(member)).features
                    : member_features(patterns.columns, start.kept, voting, member);
  if (!voting.shuffle && features.empty())
    return runner.train_member(patterns, labels, params, oflag, given);
  const auto order = presentation_order(labels.size(), voting, member, start.batch);
  OwnedPatterns seen = rows_of(patterns, order);
  TrainingParams own = params;
  if (!features.empty()) {
    seen = columns_of(seen.view(), features);
    own.D = member_D(params.D, features.size(), static_cast<int>(patterns.columns));
  }
  try {
    Member made = runner.train_member(seen.view(), reordered(labels, order), own, oflag, given);
    made.features = std::move(features);
    if (voting.oob_weights) made.weight = out_of_bag_weight(runner, made, patterns, labels, own, order);
    return made;
  } catch (const ModuleError &refusal) {
    std::vector<std::size_t> rows;
    for (std::size_t row : order) rows.push_back(row + 1);
    throw MemberRefusal(refusal.what(), std::move(rows));
  }
}

// One member's call, its console text kept for later.
Member train_member(Modules &runner, PatternMatrix patterns, const std::vector<double> &labels,
                    const TrainingParams &params, const VotingSettings &voting, int member,
                    const Start &start, double oflag,
                    const std::function<void(int, std::size_t)> &on_presentation,
                    MemberText &text) {
  const bool reading = static_cast<bool>(on_presentation);
  const int shown = static_cast<int>(oflag);
  PresentationReader reader(shown, on_presentation);
  runner.set_console({[&](std::string_view chunk) {
                        if (reading) reader.take(chunk, text.console);
                        else text.console.append(chunk);
                      },
                      [&](std::string_view warning) { text.warnings.emplace_back(warning); }});
  const double called_oflag = reading && shown < 2 ? 2 : oflag;
  Member nodes =
      call_member(runner, patterns, labels, params, voting, member, start, called_oflag);
  reader.finish(text.console);
  return nodes;
}

int worker_count(const EnsembleOptions &options, int members) {
  int workers = options.workers;
  if (workers <= 0) workers = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(workers, 1, members);
}

}  // namespace


namespace {

Model with_members(std::vector<Member> &&trained, const TrainingParams &params,
                   const VotingSettings &voting, int features) {
  Model model;
  model.features = features;
  model.params = params;
  model.voting = voting;
  model.members = std::move(trained);
  return model;
}

// Through an interpreter: one member after the other, each printing as it
// goes; at oflag 1 the first member's summary stands for all, so the others
// are called silent, and from 2 on each member's text follows its heading.
Model train_in_turn(Modules &runner, PatternMatrix patterns, const std::vector<double> &labels,
                    const TrainingParams &params, const VotingSettings &voting, double oflag,
                    const EnsembleOptions &options, const Start &start) {
  const int members = start.members;
  const bool every_member = oflag >= 2;
  std::vector<Member> trained;
  for (int member = 0; member < members; ++member) {
    if (every_member && members > 1)
      runner.print(member_heading(static_cast<std::size_t>(member),
                                  static_cast<std::size_t>(members)) + "\n");
    const double called_oflag = every_member || member == 0 ? oflag : 0;
    trained.push_back(
        call_member(runner, patterns, labels, params, voting, member, start, called_oflag));
    if (options.on_progress)
      options.on_progress({member, members, static_cast<int>(trained.back().list_presentations),
                           trained.back().labels.size()});
  }
  if (!every_member && members > 1 && oflag >= 1)
    runner.print(members_note(static_cast<std::size_t>(members)));
  return with_members(std::move(trained), params, voting, static_cast<int>(patterns.columns));
}

Model train_members(Modules &runner, PatternMatrix patterns, const std::vector<double> &labels,
                    const TrainingParams &params, const VotingSettings &voting, double oflag,
                    const EnsembleOptions &options, const Start &start) {
  const int members = start.members;
  if (runner.interpreter())
    return train_in_turn(runner, patterns, labels, params, voting, oflag, options, start);
  // A single plain member is one call, its text shown as the module prints it.
  if (members == 1 && !voting.shuffle && !options.on_progress) {
    std::vector<Member> one;
    one.push_back(call_member(runner, patterns, labels, params, voting, 0, start, oflag));
    return with_members(std::move(one), params, voting, static_cast<int>(patterns.columns));
  }
  std::vector<Member> trained(static_cast<std::size_t>(members));
  std::vector<MemberText> texts(trained.size());
  std::vector<std::exception_ptr> failures(trained.size());
  std::mutex progress_lock;
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};  // an error or an interruption ends the training
  const Console saved = runner.console();

  auto work = [&](Modules &worker) {
    for (int member; !failed && (member = next.fetch_add(1)) < members;) {
      std::function<void(int, std::size_t)> on_presentation;
      if (options.on_progress)
        on_presentation = [&, member](int presentation, std::size_t nodes) {
          const std::lock_guard<std::mutex> one_at_a_time(progress_lock);
          options.on_progress({member, members, presentation, nodes});
        };
      try {
        trained[member] = train_member(worker, patterns, labels, params, voting, member, start,
                                       oflag, on_presentation, texts[member]);
      } catch (...) {
        failures[member] = std::current_exception();
        failed = true;
      }
    }
  };
  const int workers = worker_count(options, members);
  std::vector<Modules *> copies;
  for (int k = 1; k < workers; ++k) copies.push_back(&runner.worker(static_cast<std::size_t>(k)));
  {
    std::vector<std::thread> threads;
    for (Modules *copy : copies) {
      try {
        threads.emplace_back(work, std::ref(*copy));
      } catch (const std::system_error &) {
        break;  // no more threads: the ones running take the remaining members
      }
    }
    work(runner);
    for (auto &thread : threads) thread.join();
  }
  runner.set_console(saved);

  // At oflag 1 the first member's summary stands for all; from 2 on, each
  // member's text follows its heading.
  const bool every_member = oflag >= 2;
  for (std::size_t member = 0; member < trained.size(); ++member) {
    const std::string &text = texts[member].console;
    if (every_member && members > 1 && !text.empty())
      runner.print(member_heading(member, static_cast<std::size_t>(members)) +
                   (text.front() == '\n' ? "" : "\n"));
    if (every_member || member == 0) runner.print(text);
    for (const auto &warning : texts[member].warnings) runner.warn(warning);
  }
  // A failed training claims nothing: the refusal is its whole result.
  for (const auto &failure : failures)
    if (failure) std::rethrow_exception(failure);
  if (!every_member && members > 1 && oflag >= 1)
    runner.print(members_note(static_cast<std::size_t>(members)));

  return with_members(std::move(trained), params, voting, static_cast<int>(patterns.columns));
}

}  // namespace

Model train_ensemble(Modules &runner, PatternMatrix patterns, const std::vector<double> &labels,
                     const TrainingParams &params, const VotingSettings &voting, double oflag,
                     const EnsembleOptions &options) {
  check_voting(voting);
  const std::vector<Member> *views = options.member_views;
  if (views && views->size() != static_cast<std::size_t>(voting.voters))
    throw UsageError(std::to_string(views->size()) + " members' features for an ensemble of " +
                     std::to_string(voting.voters));
  return train_members(
      runner, patterns, labels, params, voting, oflag, options,
      {nullptr, 0, voting.voters, nullptr,
       views ? std::vector<std::size_t>{} : ensemble_features(patterns, labels, voting), views});
}

Model continue_ensemble(Modules &runner, const Model &earlier, PatternMatrix patterns,
                        const std::vector<double> &labels, const TrainingParams &params,
                        double oflag,
                        const EnsembleOptions &options) {
  check_voting(earlier.voting);
  const auto members = static_cast<int>(earlier.members.size());
  if (members != earlier.voting.voters)
    throw InputError("the model has " + std::to_string(members) + " members but " +
                     std::to_string(earlier.voting.voters) + " voters");
  Model model = train_members(runner, patterns, labels, params, earlier.voting, oflag, options,
                              {&earlier, earlier.batches, members});
  model.batches = earlier.batches + 1;
  keep_scaling(model, model_scaling(earlier));
  model.class_names = earlier.class_names;
  return model;
}

std::vector<std::size_t> ensemble_features(PatternMatrix patterns,
                                           const std::vector<double> &labels,
                                           const VotingSettings &voting) {
  return voting.screen ? screened_features(patterns, labels) : std::vector<std::size_t>{};
}

Member train_ensemble_member(Modules &runner, PatternMatrix patterns,
                             const std::vector<double> &labels, const TrainingParams &params,
                             const VotingSettings &voting, int member, const Member *start,
                             std::uint64_t batch, const std::vector<std::size_t> *features) {
  check_voting(voting);
  if (member < 0 || member >= voting.voters)
    throw UsageError("member " + std::to_string(member + 1) + " of an ensemble of " +
                     std::to_string(voting.voters));
  // A member's columns are read by these indices: a list from elsewhere
  // must name this data's features, each once.
  if (features && !start)
    for (std::size_t k = 0; k < features->size(); ++k)
      if ((*features)[k] >= patterns.columns || (k > 0 && (*features)[k] <= (*features)[k - 1]))
        throw UsageError("the ensemble's features must be ascending column numbers below " +
                         std::to_string(patterns.columns));
  MemberText text;
  const Console saved = runner.console();
  Member made;
  try {
    made = train_member(runner, patterns, labels, params, voting, member,
                        {nullptr, batch, voting.voters, start,
                         start      ? std::vector<std::size_t>{}
                         : features ? *features
                                    : ensemble_features(patterns, labels, voting)},
                        0, {}, text);
  } catch (...) {
    runner.set_console(saved);
    throw;
  }
  runner.set_console(saved);
  for (const auto &warning : text.warnings) runner.warn(warning);
  return made;
}

Model assemble_ensemble(std::vector<Member> members, int features, const TrainingParams &params,
                        const VotingSettings &voting, std::uint64_t batches) {
  check_voting(voting);
  if (members.size() != static_cast<std::size_t>(voting.voters))
    throw UsageError(std::to_string(members.size()) + " members for an ensemble of " +
                     std::to_string(voting.voters));
  Model model;
  model.features = features;
  model.params = params;
  model.voting = voting;
  model.members = std::move(members);
  model.batches = batches;
  return model;
}

double member_D(double D, std::size_t seen, int features) {
  if (features <= 0 || seen >= static_cast<std::size_t>(features)) return D;
  return D * std::sqrt(static_cast<double>(seen) / static_cast<double>(features));
}

MemberPatterns member_view(const Member &member, PatternMatrix patterns) {
  if (member.features.empty()) return {{}, patterns};
  MemberPatterns out{columns_of(patterns, member.features), {}};
  out.view = out.owned.view();
  return out;
}

VoteResult classify_ensemble(Modules &runner, const Model &model, PatternMatrix patterns,
                             const ClassifyParams &params) {
  // As in training: at oflag 1 only the first member reports.
  const bool every_member = params.oflag >= 2;
  std::vector<std::vector<double>> member_labels;
  for (std::size_t k = 0; k < model.members.size(); ++k) {
    if (k > 0 && every_member) runner.print(member_heading(k, model.members.size()));
    const Member &member = model.members[k];
    ClassifyParams own = params;
    if (k > 0 && !every_member) own.oflag = 0;
    const std::size_t width = member.width(model.features);
    own.D = member_D(params.D, width, model.features);
    const MemberPatterns seen = member_view(member, patterns);
    member_labels.push_back(
        runner.classify_member(member, static_cast<int>(width), seen.view, own));
  }
  return vote(member_labels, model_classes(model).labels, params.unknown_label,
              vote_weights(model));
}

namespace {

// Rows first … first + count - 1 of `patterns`.
OwnedPatterns row_range(PatternMatrix patterns, std::size_t first, std::size_t count) {
  OwnedPatterns out;
  out.rows = count;
  out.columns = patterns.columns;
  out.values.resize(count * patterns.columns);
  for (std::size_t c = 0; c < patterns.columns; ++c)
    std::copy_n(patterns.values + c * patterns.rows + first, count,
                out.values.begin() + static_cast<std::ptrdiff_t>(c * count));
  return out;
}

// The labels of a vote that ends for each pattern once it is settled. The
// block's rows still voting are gathered (the member's columns of them)
// into one buffer that every member of every block reuses.
class SettlingVote {
 public:
  SettlingVote(const Model &model, const ClassifyParams &params, std::size_t block_rows)
      : model_(model), params_(params), classes_(model_classes(model).labels) {
    counts_.reserve(block_rows * classes_.size());
    live_.reserve(block_rows);
    gathered_.reserve(block_rows * static_cast<std::size_t>(model.features));
  }

  // Rows first … first + count - 1 of `patterns`, their labels and votes
  // appended to `result`.
  void block(Modules &runner, PatternMatrix patterns, std::size_t first, std::size_t count,
             VoteResult &result) {
    const std::size_t width = classes_.size();
    counts_.assign(count * width, 0);
    live_.resize(count);
    for (std::size_t r = 0; r < count; ++r) live_[r] = r;
    const auto members = static_cast<int>(model_.members.size());
    // Every member is called on the first block, if only with no rows, so
    // that a call it would refuse is refused whatever the votes.
    for (int k = 0; k < members && (!live_.empty() || first == 0); ++k) {
      const Member &member = model_.members[static_cast<std::size_t>(k)];
      const std::vector<double> given = runner.classify_member(
          member, static_cast<int>(member.width(model_.features)),
          gather(member, patterns, first, count), member_params(member));
      // While more members are left than have voted, no vote can be
      // settled: any rival may still pass the leader, who has at most one
      // vote per member so far.
      const int left = members - k - 1;
      const bool may_settle = width < 2 || left <= k + 1;
      std::size_t kept = 0;
      for (std::size_t i = 0; i < live_.size(); ++i) {
        int *row = counts_.data() + live_[i] * width;
        const auto found = std::lower_bound(classes_.begin(), classes_.end(), given[i]);
        if (found != classes_.end() && *found == given[i]) ++row[found - classes_.begin()];
        if (!may_settle || !vote_settled(row, width, left)) live_[kept++] = live_[i];
      }
      live_.resize(kept);
    }
    for (std::size_t r = 0; r < count; ++r) {
      const int *row = counts_.data() + r * width;
      const int *best = std::max_element(row, row + width);  // the first of a tie
      const bool voted = best != row + width && *best > 0;
      result.labels.push_back(voted ? classes_[static_cast<std::size_t>(best - row)]
                                    : params_.unknown_label);
      result.votes.push_back(std::accumulate(row, row + width, 0));
    }
  }

  const std::vector<double> &classes() const { return classes_; }

 private:
  ClassifyParams member_params(const Member &member) const {
    ClassifyParams own = params_;
    own.D = member_D(params_.D, member.width(model_.features), model_.features);
    return own;
  }

  // The member's columns of the live rows; the patterns themselves when
  // they are all of it.
  PatternMatrix gather(const Member &member, PatternMatrix patterns, std::size_t first,
                       std::size_t count) {
    const bool every_column = member.features.empty();
    if (every_column && count == patterns.rows && live_.size() == count) return patterns;
    const std::size_t n = live_.size();
    const std::size_t columns = every_column ? patterns.columns : member.features.size();
    gathered_.resize(n * columns);
    for (std::size_t c = 0; c < columns; ++c) {
      const double *from =
          patterns.values + (every_column ? c : member.features[c]) * patterns.rows + first;
      double *to = gathered_.data() + c * n;
      for (std::size_t i = 0; i < n; ++i) to[i] = from[live_[i]];
    }
    return {gathered_.data(), n, columns};
  }

  const Model &model_;
  const ClassifyParams &params_;
  const std::vector<double> classes_;
  std::vector<int> counts_;          // block rows x classes
  std::vector<std::size_t> live_;    // the block's rows still voting
  std::vector<double> gathered_;
};

}  // namespace

VoteResult classify_in_blocks(Modules &runner, const Model &model, PatternMatrix patterns,
                              const ClassifyParams &params, std::size_t block_rows,
                              VoteNeeds needs) {
  const bool settling = needs == VoteNeeds::labels && params.oflag == 0 &&
                        !model.voting.oob_weights && !model.members.empty() &&
                        patterns.rows > 0;
  if (settling) {
    const std::size_t rows = block_rows == 0 ? patterns.rows : block_rows;
    SettlingVote settle(model, params, std::min(rows, patterns.rows));
    VoteResult all;
    all.classes = settle.classes();
    all.labels.reserve(patterns.rows);
    all.votes.reserve(patterns.rows);
    for (std::size_t first = 0; first < patterns.rows; first += rows)
      settle.block(runner, patterns, first, std::min(rows, patterns.rows - first), all);
    return all;
  }
  if (params.oflag != 0 || block_rows == 0 || patterns.rows <= block_rows)
    return classify_ensemble(runner, model, patterns, params);
  VoteResult all;
  all.labels.reserve(patterns.rows);
  all.votes.reserve(patterns.rows);
  for (std::size_t first = 0; first < patterns.rows; first += block_rows) {
    const std::size_t count = std::min(block_rows, patterns.rows - first);
    const OwnedPatterns block = row_range(patterns, first, count);
    const VoteResult part = classify_ensemble(runner, model, block.view(), params);
    if (first == 0) all.classes = part.classes;
    all.labels.insert(all.labels.end(), part.labels.begin(), part.labels.end());
    all.shares.insert(all.shares.end(), part.shares.begin(), part.shares.end());
    all.votes.insert(all.votes.end(), part.votes.begin(), part.votes.end());
  }
  return all;
}

}  // namespace qir
