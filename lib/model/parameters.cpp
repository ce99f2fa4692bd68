#include "parameters.h"

#include <cmath>
#include <stdexcept>

#include "../base/number_text.h"

namespace qir {

const Parameter &parameter(std::string_view name) {
  for (const Parameter &row : parameter_table)
    if (row.name == name) return row;
  throw std::logic_error("no parameter named " + std::string(name));
}

bool in_range(const ParameterRange &range, double value) {
  if (range.whole && std::trunc(value) != value) return false;
  const bool above_low = range.low_open ? value > range.low : value >= range.low;
  const bool below_high = range.high_open ? value < range.high : value <= range.high;
  return above_low && below_high;
}

bool is_switch(const ParameterRange &range) {
  return range.whole && range.low == 0 && range.high == 1;
}

std::string range_text(const ParameterRange &range) {
  if (is_switch(range)) return "0 or 1";
  const std::string low = format_number(range.low), high = format_number(range.high);
  const bool unbounded = std::isinf(range.high) || range.high >= parameter_detail::whole_doubles;
  if (range.whole)
    return "a whole number " + (unbounded ? ">= " + low : "from " + low + " to " + high);
  if (unbounded) return (range.low_open ? "> " : ">= ") + low;
  return std::string("in ") + (range.low_open ? "(" : "[") + low + ", " + high +
         (range.high_open ? ")" : "]");
}

std::string default_text(const Parameter &parameter) {
  if (std::isnan(parameter.default_value)) return std::string(parameter.default_text);
  if (!parameter.choices.empty()) return choice_word(parameter, parameter.default_value);
  return format_number(parameter.default_value);
}

namespace {

std::vector<std::string_view> words_of(std::string_view choices) {
  std::vector<std::string_view> words;
  while (!choices.empty()) {
    const std::size_t bar = choices.find('|');
    words.push_back(choices.substr(0, bar));
    choices.remove_prefix(bar == std::string_view::npos ? choices.size() : bar + 1);
  }
  return words;
}

}  // namespace

std::string allowed_text(const Parameter &parameter) {
  if (parameter.choices.empty()) return range_text(parameter.range);
  const auto words = words_of(parameter.choices);
  std::string text;
  for (std::size_t k = 0; k < words.size(); ++k)
    text += (k == 0 ? "" : k + 1 == words.size() ? " or " : ", ") + std::string(words[k]);
  return text;
}

std::optional<double> choice_value(const Parameter &parameter, std::string_view word) {
  if (word == "0" || word == "1") return word == "1" ? 1.0 : 0.0;
  const auto words = words_of(parameter.choices);
  for (std::size_t k = 0; k < words.size(); ++k)
    if (words[k] == word) return static_cast<double>(k);
  return std::nullopt;
}

std::string choice_word(const Parameter &parameter, double value) {
  const auto words = words_of(parameter.choices);
  const auto k = static_cast<std::size_t>(value);
  return value >= 0 && k < words.size() ? std::string(words[k]) : format_number(value);
}

std::vector<double> training_inputs(const TrainingParams &params, double oflag) {
  const Parameter &oflag_row = parameter("oflag");
  std::vector<double> inputs(static_cast<std::size_t>(oflag_row.train_input - 2));
  inputs.back() = oflag;
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr) inputs.at(static_cast<std::size_t>(row.train_input - 3)) = params.*row.field;
  return inputs;
}

}  // namespace qir
