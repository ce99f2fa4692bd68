// Ensembles over presentation orders. qir_train learns from the patterns in
// the order given, and the order matters; an ensemble trains `voters`
// members on the same data, each in its own shuffled order, and classifies
// by their majority vote. Every front end trains and votes through these
// functions, over the modules' seam (modules.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <functional>
#include <vector>

#include "../base/errors.h"
#include "../model/model_file.h"
#include "../modules/modules.h"
#include "presentation_order.h"
#include "voting.h"

namespace qir {

// What a member's training has reached, for progress lines.
struct MemberProgress {
  int member = 0;  // 0-based
  int members = 0;
  int presentation = 0;
  std::size_t nodes = 0;  // created so far
};

struct EnsembleOptions {
  // Members trained at once, each on its own private copy of the training
  // module; 0: one per processor core. The members are the same for any
  // number of workers.
  int workers = 0;
  // Called (one call at a time) as members progress. When set, the modules
  // are asked for their per-presentation report, which is read and not shown;
  // through an interpreter (Modules::interpreter) it is called once a member
  // is done, with its list presentations and nodes.
  std::function<void(const MemberProgress &)> on_progress;
  // When set (one per member), each new member sees the features of its
  // namesake here, instead of drawing them or screening them: a model's
  // own members, to train it again.
  const std::vector<Member> *member_views = nullptr;
};

// A member's refusal: the module's message, and the rows of the data (from
// 1) in the order the member saw them, so that a front end can name the
// row of the data its user passed.
struct MemberRefusal : ModuleError {
  MemberRefusal(const std::string &message, std::vector<std::size_t> order)
      : ModuleError(message), order(std::move(order)) {}
  std::vector<std::size_t> order;
};

// Trains the members on patterns (N x M) and their labels (N). The modules'
// console text appears member by member, in member order. The result has
// the nodes, `params`, `voting` and M filled in.
Model train_ensemble(Modules &runner, PatternMatrix patterns, const std::vector<double> &labels,
                     const TrainingParams &params, const VotingSettings &voting, double oflag,
                     const EnsembleOptions &options);

// Continues `earlier`: each member goes on from its own nodes, on this batch
// in its own order for the model's next batch. The result keeps earlier's
// voting settings and counts one batch more; its nodes live in the space
// the patterns are given in (scale them as earlier scales first). Its
// scaling ranges and class names are earlier's: a caller with new class
// names adds them.
Model continue_ensemble(Modules &runner, const Model &earlier, PatternMatrix patterns,
                        const std::vector<double> &labels, const TrainingParams &params,
                        double oflag,
                        const EnsembleOptions &options);

// The features a new ensemble's members choose among, found once for all
// of them: those the feature screen keeps on these patterns when `voting`
// asks for it, else none (empty: all).
std::vector<std::size_t> ensemble_features(PatternMatrix patterns,
                                           const std::vector<double> &labels,
                                           const VotingSettings &voting);

// Member `member` (0-based) of the ensemble that train_ensemble (no `start`)
// or continue_ensemble (`start`: the member's nodes before the model's batch
// `batch`) would train: one silent qir_train call on the patterns in the
// member's own order, drawn as those draw it. Members trained apart (in
// other processes or on other machines) and put together by
// assemble_ensemble make the model those functions make. A new member
// chooses among `features`, ensemble_features of the same patterns, labels
// and voting, found once by the caller for every member (the screen reads
// the whole data); nullptr: found here. A list that is not ascending
// column numbers of the patterns is refused.
Member train_ensemble_member(Modules &runner, PatternMatrix patterns,
                             const std::vector<double> &labels, const TrainingParams &params,
                             const VotingSettings &voting, int member,
                             const Member *start = nullptr, std::uint64_t batch = 0,
                             const std::vector<std::size_t> *features = nullptr);

// The model of an ensemble's members, in member order, as train_ensemble
// (batches 1) or continue_ensemble (the earlier model's batches + 1) leaves
// it before scaling ranges and names are added.
Model assemble_ensemble(std::vector<Member> members, int features, const TrainingParams &params,
                        const VotingSettings &voting, std::uint64_t batches);

// The size bound a member of `seen` of the model's `features` features
// trains and classifies with: D scales with the diagonal of the unit cube
// the member sees, so that its nodes keep the share of its space that D
// gives them in the whole.
double member_D(double D, std::size_t seen, int features);

// The patterns as `member` sees them: its features' columns alone; the
// patterns themselves (no copy) when it sees every feature.
struct MemberPatterns {
  OwnedPatterns owned;
  PatternMatrix view;
};
MemberPatterns member_view(const Member &member, PatternMatrix patterns);

// Every member classifies the patterns (already scaled as the model
// scales), then they vote.
VoteResult classify_ensemble(Modules &runner, const Model &model, PatternMatrix patterns,
                             const ClassifyParams &params);

// Rows the members classify at a time when the modules print nothing.
inline constexpr std::size_t silent_block_rows = std::size_t{1} << 14;

// classify_ensemble, at oflag 0 a block of `block_rows` rows at a time: a
// block stays in cache while every member classifies it, and a member's
// call copies a block rather than the whole matrix. Each pattern's vote is
// its own, so the result is that of one call per member; only the modules'
// running operation counters differ (a member's nodes are set up once per
// call), as with `qir classify`'s blocks.
//
// With `needs` VoteNeeds::labels (and counted votes: weighted ones are
// always counted in full), the members vote in model order and each
// classifies only the block's rows whose vote is not yet settled
// (vote_settled): the same labels, fewer member calls per pattern, and the
// modules' operation totals count only the rows each member saw.
VoteResult classify_in_blocks(Modules &runner, const Model &model, PatternMatrix patterns,
                              const ClassifyParams &params,
                              std::size_t block_rows = silent_block_rows,
                              VoteNeeds needs = VoteNeeds::everything);

}  // namespace qir
