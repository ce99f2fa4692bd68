// Pictures that answer how a model does: its confusion matrix as a heat
// map, the vote shares each true class gets, and accuracy and nodes as
// training goes on. Classes keep the order and colours of the model's
// pictures (picture_classes in svg_plot.h). Host-free.
#pragma once

#include <string>
#include <vector>

#include "../ensemble/voting.h"
#include "../evaluation/scores.h"

namespace qir {

// The classes of a picture with the texts its legend shows, in order.
struct PictureClasses {
  std::vector<double> labels;
  std::vector<std::string> names;
};

// One row per true class, one column per class and one for patterns left
// unclassified; each cell shaded by its share of the row, with its count.
std::string render_confusion(const Scores &scores, const PictureClasses &classes,
                             const std::string &title);

// One bar per true class (one for all patterns without `truth`): the mean
// share of the votes that each class got from its patterns, in the class's
// colour; what no member voted for stays blank.
std::string render_vote_shares(const VoteResult &votes, const std::vector<double> &truth,
                               const PictureClasses &classes, const std::string &title);

// Accuracy and nodes after each step of training (list presentations, or
// batches of a stream), side by side.
struct ProgressStep {
  double step = 0;
  double accuracy_percent = 0;
  double nodes = 0;
};
std::string render_progress(const std::vector<ProgressStep> &steps, const std::string &step_name,
                            const std::string &title);

}  // namespace qir
