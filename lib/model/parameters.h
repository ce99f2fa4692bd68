// Every setting a user gives for training or classifying, described once:
// its name in each front end, where the modules take it, its model-file
// key, its default, its range and what it does. The command's options and
// help, the model file's parameter keys and the toolbox's refusal names are
// made from this table; the toolbox's and Python's help and the docs'
// parameter table are tested against it. A new parameter is one row here
// plus its use (docs/contributing.md).
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model_file.h"
#include "training_defaults.h"

namespace qir {

// The values a parameter takes: from `low` to `high`, each end in or out.
struct ParameterRange {
  double low = 0;
  double high = std::numeric_limits<double>::infinity();
  bool low_open = false;
  bool high_open = false;
  bool whole = false;  // whole numbers only
};

struct Parameter {
  std::string_view name;         // the library's own (a TrainingParams field, say)
  int train_input;               // its place among qir_train's inputs (from 1); 0: none
  int perf_input;                // among qir_perf's
  std::string_view module_name;  // the modules' name of it, as their refusals give it
  std::string_view flag;         // the qir command's option
  std::string_view toolbox;      // the toolbox's name-value option
  std::string_view python;       // QIRClassifier's keyword
  std::string_view model_key;    // the model file's '% key' line; empty: not kept there
  double TrainingParams::*field;  // where a model keeps it; null for the ensemble's settings
  double default_value;           // NaN: the data decide, as default_text says
  std::string_view default_text;
  ParameterRange range;
  bool logical;  // true/false in the toolbox and Python, 0|1 in the command
  std::string_view description;
  // A choice: its words, "a|b|c", the value being a word's place (from 0);
  // 0 and 1, and so true and false, also name the first two words.
  std::string_view choices = {};
};

namespace parameter_detail {
constexpr double data_decides = std::numeric_limits<double>::quiet_NaN();
constexpr ParameterRange non_negative{0};
constexpr ParameterRange unit_open_low{0, 1, true};
constexpr ParameterRange unit{0, 1};
constexpr ParameterRange switch_range{0, 1, false, false, true};
constexpr double whole_doubles = 9007199254740992.0;  // 2^53
}  // namespace parameter_detail

// In the order the docs and the command's help list them.
inline constexpr Parameter parameter_table[] = {
    {"D", 3, 3, "D", "--D", "D", "D", "D", &TrainingParams::D, parameter_detail::data_decides,
     "sqrt(M), M features that vary", parameter_detail::non_negative, false,
     "size bound: nodes stay shorter than D"},
    {"ratio", 4, 4, "ratio", "--ratio", "Ratio", "ratio", "ratio", &TrainingParams::ratio,
     training_defaults.ratio, "", parameter_detail::unit_open_low, false,
     "minor to major half-axis ratio"},
    {"vigilance", 5, 5, "vigilance", "--vigilance", "Vigilance", "vigilance", "vigilance",
     &TrainingParams::vigilance, training_defaults.vigilance, "", parameter_detail::unit, false,
     "the least match a node needs to take a pattern"},
    {"alpha", 6, 6, "alpha", "--alpha", "Alpha", "alpha", "alpha", &TrainingParams::alpha,
     training_defaults.alpha, "", parameter_detail::non_negative, false,
     "choice parameter alpha"},
    {"learning_rate", 7, 0, "learning_rate", "--learning-rate", "LearningRate", "learning_rate",
     "learning_rate", &TrainingParams::learning_rate, training_defaults.learning_rate, "",
     parameter_detail::unit_open_low, false, "learning rate"},
    {"max_presentations", 8, 0, "max_list_presentations", "--max-presentations",
     "MaxPresentations", "max_list_presentations", "max_list_presentations",
     &TrainingParams::max_presentations, parameter_detail::data_decides,
     "672000 / patterns / voters, rounded up, 2 to 100",
     {1, most_presentations, false, false, true}, false, "most list presentations"},
    {"trim", 9, 0, "trim_option", "--trim", "Trim", "trim_option", "trim_option",
     &TrainingParams::trim, training_defaults.trim, "", parameter_detail::switch_range, false,
     "1: drop nodes that no pattern chose"},
    {"ct", 10, 7, "ct_option", "--ct", "CT", "ct_option", "ct_option", &TrainingParams::ct,
     training_defaults.ct, "", parameter_detail::switch_range, false,
     "1: apply the choice-value test"},
    {"oflag", 11, 10, "oflag", "--oflag", "Oflag", "oflag", "", nullptr, training_defaults.oflag,
     "", {0, 4, false, false, true}, false,
     "console output: 0 silent, 1 summary, up to 4 (qir_perf: 3) more detail"},
    {"unknown_label", 0, 9, "unknown_label", "--unknown-label", "UnknownLabel", "unknown_label", "",
     nullptr, parameter_detail::data_decides, "a label that no class has",
     {-2147483648.0, 2147483647.0, false, false, true}, false,
     "the label of patterns that no node classifies"},
    {"scale", 0, 0, "", "--scale", "Scale", "scale", "scaling", nullptr,
     static_cast<double>(training_defaults.scaling), "", {0, 4, false, false, true}, true,
     "how each feature is scaled by its training values: minmax to [0, 1], standard by mean "
     "and deviation, rank by its rank (outliers cannot squash the rest), none, auto: rank when "
     "some feature's range exceeds 10 times its interquartile range, else minmax (1 and 0: "
     "minmax and none)",
     "none|minmax|standard|rank|auto"},
    {"voters", 0, 0, "", "--voters", "Voters", "n_voters", "voters", nullptr,
     static_cast<double>(training_defaults.voters), "", {1, 1000, false, false, true}, false,
     "members of the ensemble (each trained in its own order; they vote)"},
    {"shuffle", 0, 0, "", "--shuffle", "Shuffle", "shuffle", "shuffle", nullptr,
     training_defaults.shuffle ? 1 : 0, "", parameter_detail::switch_range, true,
     "1: each member sees the patterns in a shuffled order"},
    {"max_features", 0, 0, "", "--max-features", "MaxFeatures", "max_features", "max_features",
     nullptr, training_defaults.max_features, "", parameter_detail::unit_open_low, false,
     "share of the features each member sees, drawn at random per member (1: all)"},
    {"bootstrap", 0, 0, "", "--bootstrap", "Bootstrap", "bootstrap", "bootstrap", nullptr,
     training_defaults.bootstrap ? 1 : 0, "", parameter_detail::switch_range, true,
     "1: each member trains on N patterns drawn with replacement"},
    {"oob_weights", 0, 0, "", "--oob-weights", "OobWeights", "oob_weights", "oob_weights", nullptr,
     training_defaults.oob_weights ? 1 : 0, "", parameter_detail::switch_range, true,
     "1: each member's vote (and share) counts its accuracy on the patterns its bootstrap draw "
     "left out"},
    {"max_samples", 0, 0, "", "--max-samples", "MaxSamples", "max_samples", "", nullptr,
     training_defaults.max_samples, "", {0, parameter_detail::whole_doubles, false, false, true},
     false,
     "on data of more rows, each member trains on its own draw of this many (0: every row)"},
    {"screen", 0, 0, "", "--screen", "Screen", "screen", "", nullptr,
     training_defaults.screen ? 1 : 0, "", parameter_detail::switch_range, true,
     "1: members see only the features whose values differ between the classes in the training "
     "data (a chi-square test per feature), where those are fewer than half of them and at "
     "least 2; else every feature"},
    {"seed", 0, 0, "", "--seed", "Seed", "random_state", "seed", nullptr, training_defaults.seed,
     "", {0, parameter_detail::whole_doubles, false, false, true}, false,
     "seed of the members' shuffled orders and draws"},
};

// The row named `name` (Parameter::name); throws std::logic_error when
// there is none, a fault of the caller's code rather than of the input.
const Parameter &parameter(std::string_view name);

// qir_train's scalar inputs after the patterns and labels, each value in the
// place the table gives it, the oflag last: what every implementation of
// the modules' seam passes.
std::vector<double> training_inputs(const TrainingParams &params, double oflag);

bool in_range(const ParameterRange &range, double value);
bool is_switch(const ParameterRange &range);  // 0 or 1
// As help and refusals say it: "in (0, 1]", ">= 0", "0 or 1",
// "a whole number from 1 to 1000", "a whole number >= 0".
std::string range_text(const ParameterRange &range);
// The default as the command shows it: the number (a choice's word), else
// what decides it.
std::string default_text(const Parameter &parameter);
// The values a parameter takes as help and refusals say them: its range, or
// a choice's words ("none, minmax, standard, rank or auto").
std::string allowed_text(const Parameter &parameter);
// A choice's value for `word`: a word of its choices, or "0" or "1";
// nothing for any other word.
std::optional<double> choice_value(const Parameter &parameter, std::string_view word);
// The word of a choice's value.
std::string choice_word(const Parameter &parameter, double value);

}  // namespace qir
