#include "options.h"

#include <algorithm>

#include "qir.h"

namespace qir::cli {
namespace {

const OptionSpec *find_option(const CommandSpec &command_spec, const std::string &word) {
  for (const auto &option : command_spec.options)
    if (word == option.name || (!option.short_name.empty() && word == option.short_name))
      return &option;
  return nullptr;
}

void check_positional_count(const CommandSpec &command_spec, const Arguments &args) {
  const std::size_t count = args.positional.size();
  if (count < command_spec.min_positional) throw UsageError("missing argument (usage: " + command_spec.usage + ")");
  if (count > command_spec.max_positional)
    throw UsageError("unexpected argument '" + args.positional[command_spec.max_positional] +
                     "' (usage: " + command_spec.usage + ")");
}

std::size_t edit_distance(const std::string &a, const std::string &b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string unknown_option_message(const CommandSpec &command_spec, const std::string &word) {
  std::vector<std::string> names;
  for (const auto &option : command_spec.options) names.push_back(option.name);
  names.push_back("--help");
  const auto guess = closest_word(word, names);
  return "unknown option '" + word + "'" + (guess ? " (did you mean " + *guess + "?)" : "") +
         " (see --help)";
}

}  // namespace

std::optional<std::string> closest_word(const std::string &word,
                                        const std::vector<std::string> &candidates) {
  std::optional<std::string> best;
  std::size_t best_distance = word.size() / 3 + 2;  // one more than allowed
  for (const auto &candidate : candidates) {
    const std::size_t distance = edit_distance(word, candidate);
    if (distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best;
}

std::optional<std::string> Arguments::text(const std::string &name) const {
  const auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

double Arguments::number(const std::string &name, double fallback) const {
  const auto value = text(name);
  if (!value) return fallback;
  const auto parsed = parse_number(*value);
  if (!parsed) throw UsageError("option " + name + ": '" + *value + "' is not a number");
  return *parsed;
}

Arguments parse_arguments(const CommandSpec &command_spec, const std::vector<std::string> &words) {
  Arguments args;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string word = words[i];
    if (word == "--help" || word == "-h") {
      args.help = true;
      continue;
    }
    if (word.size() < 2 || word[0] != '-') {
      args.positional.push_back(word);
      continue;
    }
    std::optional<std::string> inline_value;
    if (const auto equals = word.find('=');
        word.rfind("--", 0) == 0 && equals != std::string::npos) {
      inline_value = word.substr(equals + 1);
      word.erase(equals);
    }
    const OptionSpec *option = find_option(command_spec, word);
    if (option == nullptr) throw UsageError(unknown_option_message(command_spec, word));
    if (option->value_name.empty()) {
      if (inline_value) throw UsageError("option " + option->name + " takes no value");
      args.set(option->name, "");
    } else if (inline_value) {
      args.set(option->name, *inline_value);
    } else if (i + 1 < words.size()) {
      args.set(option->name, words[++i]);
    } else {
      throw UsageError("option " + option->name + " needs a value " + option->value_name);
    }
  }
  if (!args.help) check_positional_count(command_spec, args);
  return args;
}

std::string help_text(const CommandSpec &command_spec) {
  std::string text = "Usage: " + command_spec.usage + "\n\n" + command_spec.summary + "\n";
  if (!command_spec.options.empty()) text += "\nOptions:\n";
  std::vector<std::string> heads;
  for (const auto &option : command_spec.options) {
    std::string head =
        option.short_name.empty() ? option.name : option.short_name + ", " + option.name;
    if (!option.value_name.empty()) head += " " + option.value_name;
    heads.push_back(head);
  }
  std::size_t width = 0;
  for (const auto &head : heads) width = std::max(width, head.size());
  for (std::size_t k = 0; k < heads.size(); ++k)
    text += "  " + heads[k] + std::string(width - heads[k].size() + 2, ' ') + command_spec.options[k].help +
            "\n";
  const std::string help_head = "-h, --help";
  text += "  " + help_head +
          std::string(std::max(width, help_head.size()) - help_head.size() + 2, ' ') +
          "show this text\n";
  if (!command_spec.details.empty()) text += "\n" + command_spec.details;
  return text;
}

}  // namespace qir::cli
