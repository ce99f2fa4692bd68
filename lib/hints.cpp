#include "hints.h"

#include <cmath>

namespace qircli {
namespace {

constexpr double node_share_limit = 0.9;
constexpr double unknown_share_limit = 0.1;

std::string percent(std::size_t part, std::size_t whole) {
  return std::to_string(static_cast<long>(std::lround(100.0 * part / whole))) + "%";
}

}  // namespace

std::optional<std::string> training_hint(std::size_t nodes, std::size_t patterns) {
  if (patterns == 0 || nodes <= node_share_limit * patterns) return std::nullopt;
  if (nodes > patterns)
    return "Hint: " + std::to_string(nodes) + " nodes for " + std::to_string(patterns) +
           " patterns: each list presentation added nodes instead of growing those it had "
           "(a --D of 0, or patterns repeated with different labels, do that); a larger --D, "
           "consistent labels or a small --max-presentations stop it";
  return "Hint: " + percent(nodes, patterns) +
         " of the patterns got a node of their own; a larger --D, a lower --vigilance or a "
         "--ratio nearer 1 lets nodes grow (see qir search)";
}

std::optional<std::string> presentation_limit_hint(double presentations, double limit) {
  if (presentations < limit) return std::nullopt;
  return "Hint: training stopped after " + std::to_string(static_cast<long>(limit)) +
         " list presentations without converging; a larger --max-presentations lets it "
         "finish (the nodes learned so far are kept and used)";
}

std::optional<std::string> classification_hint(std::size_t unknown, std::size_t patterns) {
  if (patterns == 0 || unknown <= unknown_share_limit * patterns) return std::nullopt;
  return "Hint: " + percent(unknown, patterns) +
         " of the patterns were left unclassified; a lower --vigilance or a larger --D "
         "classifies more of them";
}

}  // namespace qircli
