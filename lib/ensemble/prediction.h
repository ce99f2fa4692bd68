// Predicting with an ensemble as every front end offers it: the members'
// vote and, on request, an answer for the patterns that no member
// classifies: the vote of every member's best-fitting node.
#pragma once

#include <vector>

#include "../model/model_file.h"
#include "../modules/modules.h"
#include "voting.h"

namespace qir {

struct PredictOptions {
  // A pattern that no member classifies gets the vote of the members'
  // best-fitting nodes (best_fit_labels) instead of the unknown label; its
  // `votes` stay 0, so that a caller can tell.
  bool best_fit_for_unknown = false;
  // The classes the vote is among, ascending (a front end's classes may
  // include some without nodes); empty: the model's.
  std::vector<double> classes;
  // VoteNeeds::labels: the labels alone (no shares), each pattern's vote
  // ending once it is settled.
  VoteNeeds needs = VoteNeeds::everything;
};

// The members classify the patterns (N x M, scaled as the model scales)
// and vote (classify_in_blocks).
VoteResult predict_ensemble(Modules &runner, const Model &model, PatternMatrix patterns,
                            const ClassifyParams &params, const PredictOptions &options);

// For each member, the class of its node that fits each pattern best: a
// second qir_perf call at vigilance 0, without the choice-value test, with
// a size bound D so wide that every node qualifies, so the highest choice
// value wins. D is a power of two above a bound on the pattern's distance
// from the member's nodes, so it depends on the pattern alone and a
// pattern gets the same label whichever patterns come with it. A member
// without nodes answers `first_class`; a pattern beyond the range of
// doubles gets the class with the most nodes of that member.
std::vector<std::vector<double>> best_fit_labels(Modules &runner, const Model &model,
                                                 PatternMatrix patterns,
                                                 const ClassifyParams &params,
                                                 double first_class);

}  // namespace qir
