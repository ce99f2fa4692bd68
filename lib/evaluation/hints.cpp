#include "hints.h"

#include <cmath>

#include "../model/parameters.h"
#include "../model/training_defaults.h"

namespace qir {
namespace {

constexpr double node_share_limit = 0.9;
constexpr double unknown_share_limit = 0.1;

std::string percent(std::size_t part, std::size_t whole) {
  return std::to_string(static_cast<long>(std::lround(100.0 * part / whole))) + "%";
}

// The hints' options as one front end spells them (parameters.h).
OptionNames option_names(std::string_view Parameter::*spelling, std::string search) {
  auto name = [&](std::string_view parameter_name) {
    return std::string(parameter(parameter_name).*spelling);
  };
  return {name("D"), name("vigilance"), name("ratio"), name("max_presentations"),
          std::move(search)};
}

}  // namespace

const OptionNames &command_option_names() {
  static const OptionNames names = option_names(&Parameter::flag, "qir search");
  return names;
}

const OptionNames &toolbox_option_names() {
  static const OptionNames names = option_names(&Parameter::toolbox, "qir_search");
  return names;
}

std::optional<std::string> training_hint(std::size_t nodes, std::size_t patterns,
                                         const OptionNames &names) {
  if (patterns == 0 || nodes <= node_share_limit * patterns) return std::nullopt;
  if (nodes > patterns)
    return "Hint: " + std::to_string(nodes) + " nodes for " + std::to_string(patterns) +
           " patterns: each list presentation added nodes instead of growing those it had "
           "(a " + names.D + " of 0, or patterns repeated with different labels, do that); a larger " +
           names.D + ", consistent labels or a small " + names.max_presentations + " stop it";
  return "Hint: " + percent(nodes, patterns) +
         " of the patterns got a node of their own; a larger " + names.D + ", a lower " +
         names.vigilance + " or a " + names.ratio + " nearer 1 lets nodes grow (see " + names.search + ")";
}

std::optional<std::string> presentation_limit_hint(double presentations, double limit,
                                                   bool limit_given, const OptionNames &names) {
  if (presentations < limit) return std::nullopt;
  if (!limit_given && limit < training_defaults.max_presentations) return std::nullopt;
  return "Hint: training stopped after " + std::to_string(static_cast<long>(limit)) +
         " list presentations without converging; a larger " + names.max_presentations +
         " lets it finish (the nodes learned so far are kept and used)";
}

std::optional<std::string> classification_hint(std::size_t unknown, std::size_t patterns,
                                               const OptionNames &names) {
  if (patterns == 0 || unknown <= unknown_share_limit * patterns) return std::nullopt;
  return "Hint: " + percent(unknown, patterns) +
         " of the patterns were left unclassified; a lower " + names.vigilance + " or a larger " +
         names.D + " classifies more of them";
}

}  // namespace qir
