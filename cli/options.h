// Command-line parsing shared by every command: named options (with a
// value, or flags), positional arguments, and the --help text.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qir::cli {

struct OptionSpec {
  std::string name;        // long form, e.g. "--vigilance"
  std::string short_name;  // e.g. "-o", or empty
  std::string value_name;  // e.g. "VALUE"; empty for a flag
  std::string help;        // one line, with the default where there is one
};

struct CommandSpec {
  std::string usage;    // after "Usage: "
  std::string summary;  // what the command does, a few lines
  std::vector<OptionSpec> options;
  std::string details;  // text after the option list (formats, examples)
  std::size_t min_positional = 0;
  std::size_t max_positional = 0;
};

class Arguments {
 public:
  std::vector<std::string> positional;
  bool help = false;

  bool has(const std::string &name) const { return values_.count(name) != 0; }
  std::optional<std::string> text(const std::string &name) const;
  // The option's value as a number, or `fallback` when it was not given.
  // Throws UsageError when the value is not a number.
  double number(const std::string &name, double fallback) const;
  void set(const std::string &name, std::string value) { values_[name] = std::move(value); }

 private:
  std::map<std::string, std::string> values_;  // flags map to ""
};

// Throws UsageError for an unknown option, a missing value or a wrong number
// of positional arguments (the last is not checked when --help is given).
Arguments parse_arguments(const CommandSpec &command_spec, const std::vector<std::string> &args);

std::string help_text(const CommandSpec &command_spec);

// The candidate nearest to `word` by edit distance, when it is near enough
// to be a likely typing slip (at most a third of its letters differ).
std::optional<std::string> closest_word(const std::string &word,
                                        const std::vector<std::string> &candidates);

}  // namespace qir::cli
