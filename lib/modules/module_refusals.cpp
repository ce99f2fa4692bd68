#include "module_refusals.h"

#include <cctype>
#include <utility>

#include "../model/parameters.h"

namespace qir {

namespace {

// The toolbox's names of a module's inputs: `fixed` names the data and the
// nodes by position, the parameter table names the options.
ArgumentNames toolbox_names(int Parameter::*position,
                            std::vector<std::pair<int, std::string>> fixed) {
  for (const Parameter &row : parameter_table)
    if (row.*position > 0)
      fixed.emplace_back(row.*position, "option '" + std::string(row.toolbox) + "'");
  ArgumentNames names(fixed.size());
  for (auto &[place, name] : fixed) names.at(static_cast<std::size_t>(place - 1)) = std::move(name);
  return names;
}

}  // namespace

const ArgumentNames &toolbox_fit_names() {
  static const ArgumentNames names = toolbox_names(
      &Parameter::train_input, {{1, "X"},
                                {2, "y"},
                                {12, "the Templates of option 'Model'"},
                                {13, "the NLabels of option 'Model'"}});
  return names;
}

const ArgumentNames &toolbox_predict_names() {
  static const ArgumentNames names = toolbox_names(
      &Parameter::perf_input, {{1, "model.Templates"}, {2, "model.NLabels"}, {8, "X"}});
  return names;
}

std::optional<std::string> refusal_in_user_terms(const std::string &message,
                                                 const ArgumentNames &names) {
  std::size_t at = std::string::npos;
  for (const char *module : {"QIR_TRAIN: ", "QIR_PERF: "}) {
    const std::size_t found = message.find(module);
    if (found != std::string::npos) {
      at = found + std::string(module).size();
      break;
    }
  }
  if (at == std::string::npos) return std::nullopt;
  std::size_t position = 0;
  const std::size_t digits = at;
  while (at < message.size() && std::isdigit(static_cast<unsigned char>(message[at])))
    position = 10 * position + static_cast<std::size_t>(message[at++] - '0');
  const std::string ordinal_tail = " input argument";
  if (at == digits || at + 2 > message.size() ||
      message.compare(at + 2, ordinal_tail.size(), ordinal_tail) != 0)
    return std::nullopt;
  at += 2 + ordinal_tail.size();
  if (position < 1 || position > names.size()) return std::nullopt;
  // The module's own name of the argument, when it gives one.
  if (message.compare(at, 2, " (") == 0) {
    const std::size_t close = message.find(')', at);
    if (close == std::string::npos) return std::nullopt;
    at = close + 1;
  }
  std::string text = names[position - 1];
  // The modules' texts keep some double blanks; ours need not.
  for (std::size_t k = at; k < message.size(); ++k)
    if (!(message[k] == ' ' && !text.empty() && text.back() == ' ')) text += message[k];
  return text;
}

std::string with_row_renumbered(const std::string &text, const std::vector<std::size_t> &rows) {
  const std::string key = " at row ";
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return text;
  const std::size_t first = at + key.size();
  std::size_t end = first, row = 0;
  // Digits beyond a row of the data leave the text as it is.
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) &&
         row <= rows.size())
    row = 10 * row + static_cast<std::size_t>(text[end++] - '0');
  if (end == first || end >= text.size() || text[end] != ',' || row < 1 || row > rows.size())
    return text;
  return text.substr(0, first) + std::to_string(rows[row - 1]) + text.substr(end);
}

std::string non_finite_pattern_text(const std::string &name, std::size_t row,
                                    std::size_t column) {
  return name + " holds a non-finite value at row " + std::to_string(row) + ", column " +
         std::to_string(column) + "; drop that pattern or give it a number there.";
}

}  // namespace qir
