// The model file: what training learned, in a text form that MATLAB and
// Octave read with `load` ('%' lines are comments to them). This is the one
// reader and writer of model files: the command, the Python package and the
// toolbox all go through it (docs/model-files.md describes the format).
//
//   % QIR model
//   % format 1                (2 when the file carries scaling or class names)
//   % features M
//   % feature_min v1 ... vM   (only for a model that scales its inputs)
//   % feature_max v1 ... vM
//   % feature K NAME          (the name of feature K, for every K from 1 to M, or none)
//   % D <value>               ... one '% name value' line per training parameter
//   % class LABEL NAME        (one line per node label, or none)
//   % nodes K
//   % columns: center(1:M) direction(1:M) radius label
//   <2M+2 numbers per node, separated by blanks>
//
// Format 3 holds an ensemble: '% voters K', '% seed S' and '% shuffle 0|1'
// after the training parameters, '% nodes' counts the rows of every member,
// and each member's rows follow its own line
//   % member k nodes n list_presentations p
// (member 1's rows first; '% list_presentations' repeats member 1's count).
// A continued ensemble adds '% batches B' after '% shuffle': the training
// calls its members have had (1, the first fit, when the line is missing),
// which with the seed fixes the members' orders on the next batch.
// '% max_features F' and '% bootstrap 1' follow when the members were given
// views of their own (VotingSettings). Format 4: a member that sees only
// some features has the line
//   % member_features i1 ... im   (ascending, from 1)
// after its '% member' line, and its rows hold 2m+2 numbers; a member
// without the line sees every feature.
// Format 5 also holds members whose votes are weighted: '% oob_weights 1'
// after '% bootstrap', and each member's '% member_weight w' line after its
// '% member' line.
// Format 5: a model scaled otherwise than by min-max says how, after the
// '% features' line:
//   % scaling standard        with '% feature_mean' and '% feature_sd' lines
//   % scaling rank            with one line per feature K, its kept values
//   % rank_values K v1 ... vn   and their shares
//   % rank_shares K s1 ... sn
// (older readers would take those lines for comments and classify raw
// features, so they must refuse the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "feature_scaling.h"

namespace qir {

// The training arguments that shaped a model; the matching module
// arguments are named in the file's header lines.
struct TrainingParams {
  double D = 0;
  double ratio = 0;
  double vigilance = 0;
  double alpha = 0;
  double learning_rate = 0;
  double max_presentations = 0;
  double trim = 0;
  double ct = 0;
};

// The most features a model file may hold, for reading and for training
// alike, so that every model `qir train` writes can be read back.
constexpr int max_model_features = 1000000;

// The rows a member of a large training sees by default (VotingSettings).
inline constexpr double default_max_samples = 100000;

// How the members of an ensemble were trained: `voters` qir_train calls on
// the same data, each in its own order drawn from `seed` when `shuffle` is
// on (see ensemble.h). One member without shuffling is a plain model.
struct VotingSettings {
  int voters = 1;
  std::uint64_t seed = 1;
  bool shuffle = false;
  // Each member's view of the data: below 1, a random ceil(max_features x M)
  // of the M features (random subspaces); with `bootstrap`, N patterns
  // drawn with replacement instead of all N once.
  double max_features = 1;
  bool bootstrap = false;
  // With bootstrap: each member's vote counts by its accuracy on the
  // patterns its draw left out (Member::weight) instead of once.
  bool oob_weights = false;
  // On data of more rows than this, each shuffled member trains on its own
  // draw of this many (0: every row). A matter of training alone: the model
  // file does not keep it, and a model read back continues with the default.
  double max_samples = default_max_samples;
  // Whether training drops the features that carry nothing about the class
  // (feature_screen.h), so that every member sees only the others. The
  // model keeps the members' features, not this setting.
  bool screen = false;
};

// One member's nodes: what one qir_train call learned.
struct Member {
  std::vector<std::vector<double>> templates;  // one template row (2M+1 values) per node
  std::vector<double> labels;                  // one label per node
  double list_presentations = 0;               // as the training call reported it
  // The model's features this member sees, ascending, 0-based; its nodes
  // live in their space. Empty: all of them.
  std::vector<std::size_t> features = {};
  // What the member's vote counts for (VotingSettings::oob_weights): in (0, 1].
  double weight = 1;
  std::size_t width(int model_features) const {
    return features.empty() ? static_cast<std::size_t>(model_features) : features.size();
  }
};

struct Model {
  int features = 0;  // M
  TrainingParams params;
  // The training data's range of each feature; the nodes live in the scaled
  // space (see feature_scaling.h). Empty: the model takes raw features.
  std::vector<double> feature_min, feature_max;
  // Other scalings (feature_scaling.h), kept instead of the range: the
  // mean and standard deviation of each feature, or its rank values and
  // their shares. At most one kind is filled.
  std::vector<double> feature_mean, feature_sd;
  std::vector<std::vector<double>> rank_values, rank_shares;
  // The class names behind the integer labels; empty: numeric labels.
  // Otherwise every node label has exactly one name and every name a node.
  std::vector<std::pair<int, std::string>> class_names;
  // The name of each feature (from a header row, say); empty: unnamed.
  std::vector<std::string> feature_names;
  // How the members were trained; a plain model has one member.
  VotingSettings voting;
  // Member 1 is there from the start: a model that learned nothing has one
  // member without nodes.
  std::vector<Member> members = std::vector<Member>(1);
  // Training calls the nodes have had: 1 after a fit, one more for each
  // batch it continued on (see ensemble.h for the orders it fixes).
  std::uint64_t batches = 1;
  Scaling scaling() const {
    if (!rank_values.empty()) return Scaling::rank;
    if (!feature_mean.empty()) return Scaling::standard;
    return feature_min.empty() ? Scaling::none : Scaling::min_max;
  }
  bool scales() const { return scaling() != Scaling::none; }
  std::size_t total_nodes() const;
};

// The model's scaling as feature_scaling.h applies it, and a fitted one kept.
FeatureScaling model_scaling(const Model &model);
void keep_scaling(Model &model, FeatureScaling scaling);

// The name of feature `index` (0-based) as pictures and messages show it:
// its own name, else "feature K" (1-based).
std::string feature_name(const Model &model, std::size_t index);

// Whether `value` can be a class label: a whole number that fits a 32-bit
// signed integer, as the modules keep labels.
bool is_class_label(double value);

// Throws InputError, naming the fault, for a model that could not be read
// back (the same rules that parse_model applies, without line numbers).
std::string format_model(const Model &model);
// Throws InputError naming `path` and the line of the first fault.
Model parse_model(std::string_view text, const std::string &path);

// Whether the text starts as a model file does (with a '%' line), as
// opposed to a data file given in its place.
bool looks_like_model_file(std::string_view text);

void save_model(const std::string &path, const Model &model);
Model load_model(const std::string &path);

// The classes of a model (of all its members) in ascending label order, and
// the class of each node: what a front end with its own class numbering maps through.
struct ModelClasses {
  std::vector<double> labels;        // distinct node labels, ascending
  std::vector<std::string> names;    // their names; empty for numeric labels
  std::vector<std::size_t> of_node;  // index into labels, one per node of every member, in file order
};
ModelClasses model_classes(const Model &model);

// Keeps the class names whose labels some node carries, in their order: a
// name without a node (a class whose nodes were trimmed, or that a front
// end knew of before its data brought it) would make the model unreadable.
void keep_names_with_nodes(Model &model);

}  // namespace qir
