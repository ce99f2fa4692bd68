#include "command_support.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "qir.h"

namespace qir::cli {

OptionSpec modules_option() {
  return {"--modules", "", "DIR",
          "folder of the module files (default $QIR_MODULE_DIR, else the build's)"};
}

std::vector<OptionSpec> data_options(bool allow_unlabelled) {
  std::vector<OptionSpec> options{
      {"--labels", "", "FILE", "labels in FILE (one per line); every data column is a feature"},
      {"--delimiter", "", "D",
       "cell separator: ',', ';', 'tab' or 'space' (default: found on the first line)"},
      {"--header", "", "", "the first line is a header (default: when it holds only words)"}};
  if (allow_unlabelled)
    options.push_back(
        {"--no-labels", "", "", "the data carry no labels; every column is a feature"});
  return options;
}

LabelSource label_source(const Arguments &args) {
  LabelSource source;
  if (args.has("--labels") && args.has("--no-labels"))
    throw UsageError("--labels and --no-labels exclude each other");
  if (const auto file = args.text("--labels")) {
    source.kind = LabelSource::Kind::separate_file;
    source.file = *file;
  } else if (args.has("--no-labels")) {
    source.kind = LabelSource::Kind::none;
  }
  return source;
}

CsvFormat csv_format(const Arguments &args) {
  CsvFormat format;
  if (const auto name = args.text("--delimiter")) format.delimiter = delimiter_named(*name);
  format.header = args.has("--header");
  return format;
}

ModuleRunner make_runner(const Arguments &args) {
  return ModuleRunner(module_directory(args.text("--modules")));
}

bool warn_about_training_data(const Dataset &data) {
  bool contradictory = false;
  for (const DataWarning &warning : training_data_warnings(data.patterns, data.labels)) {
    std::cerr << "Warning: " << warning.text << "\n";
    contradictory = contradictory || warning.kind == "contradictory_patterns";
  }
  return contradictory;
}

Model load_model_argument(const std::string &path, const CommandSpec &command_spec) {
  const std::string text = read_text_file(path);
  if (!looks_like_model_file(text))
    throw UsageError(path + " is a data file, not a model file (usage: " + command_spec.usage +
                     ")");
  return parse_model(text, path);
}

bool print_help_if_asked(const CommandSpec &command_spec, const Arguments &args) {
  if (args.help) std::cout << help_text(command_spec);
  return args.help;
}

OptionSpec parameter_option(const Parameter &row, const std::string &default_phrase) {
  const std::string value_name = !row.choices.empty()    ? std::string(row.choices)
                                 : is_switch(row.range) ? "0|1"
                                 : row.range.whole      ? "N"
                                                        : "VALUE";
  std::string help(row.description);
  if (!is_switch(row.range) && row.choices.empty()) help += ", " + range_text(row.range);
  return {std::string(row.flag), "", value_name, help + " (" + default_phrase + ")"};
}

std::vector<OptionSpec> training_options() {
  std::vector<OptionSpec> options;
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr)
      options.push_back(parameter_option(row, "default " + default_text(row)));
  for (const char *setting :
       {"scale", "voters", "shuffle", "max_features", "bootstrap", "oob_weights", "max_samples",
        "screen"}) {
    const Parameter &row = parameter(setting);
    options.push_back(parameter_option(row, "default " + default_text(row)));
  }
  return options;
}

OptionSpec seed_option() {
  const Parameter &row = parameter("seed");
  return parameter_option(row, "default " + default_text(row));
}

namespace {

// The value of an ensemble or scaling setting, refused outside its range.
double setting_value(const Arguments &args, const Parameter &row) {
  const double value = args.number(std::string(row.flag), row.default_value);
  if (!in_range(row.range, value))
    throw UsageError("option " + std::string(row.flag) + " takes " + range_text(row.range));
  return value;
}

std::uint64_t seed_value(const Arguments &args) {
  return static_cast<std::uint64_t>(setting_value(args, parameter("seed")));
}

}  // namespace

VotingSettings voting_settings(const Arguments &args) {
  const double voters = setting_value(args, parameter("voters"));
  const double shuffle = setting_value(args, parameter("shuffle"));
  VotingSettings voting{static_cast<int>(voters), seed_value(args), shuffle == 1,
                        setting_value(args, parameter("max_features")),
                        setting_value(args, parameter("bootstrap")) == 1,
                        setting_value(args, parameter("oob_weights")) == 1,
                        setting_value(args, parameter("max_samples")),
                        setting_value(args, parameter("screen")) == 1};
  if (voting.voters > 1 && !voting.shuffle)
    throw UsageError("--voters above 1 needs --shuffle 1: unshuffled members would all be alike");
  if (voting.oob_weights && !voting.bootstrap)
    throw UsageError("--oob-weights 1 needs --bootstrap 1: only a draw leaves patterns out");
  if ((voting.bootstrap || voting.max_features < 1) && !voting.shuffle)
    throw UsageError("--bootstrap and --max-features below 1 need --shuffle 1: each member "
                     "draws its own view");
  return voting;
}

OptionSpec scale_option() {
  const Parameter &row = parameter("scale");
  return parameter_option(row, "default " + default_text(row));
}

TrainingParams training_params(const Arguments &args, const TrainingData &data,
                               const TrainingParams *base) {
  const TrainingParams fallback =
      base ? *base
           : default_params(default_D(data.varying),
                            default_max_presentations(data.patterns, data.voters));
  TrainingParams p;
  for (const Parameter &row : parameter_table)
    if (row.field != nullptr)
      p.*row.field = args.number(std::string(row.flag), fallback.*row.field);
  // The modules count presentations in 32 bits and take a fraction's whole part.
  const Parameter &limit = parameter("max_presentations");
  if (!(p.max_presentations >= limit.range.low && p.max_presentations < limit.range.high + 1))
    throw UsageError(std::string(limit.flag) + " takes " + range_text(limit.range) +
                     "; training stops by itself once a presentation changes nothing");
  return p;
}

Scaling scaling_wanted(const Arguments &args) {
  const Parameter &row = parameter("scale");
  const std::optional<std::string> word = args.text(std::string(row.flag));
  if (!word) return static_cast<Scaling>(row.default_value);
  const std::optional<double> value = choice_value(row, *word);
  if (!value)
    throw UsageError("option " + std::string(row.flag) + " takes " + allowed_text(row) +
                     " (1: minmax, 0: none)");
  return static_cast<Scaling>(*value);
}

std::string scaling_text(Scaling scaling) {
  switch (scaling) {
    case Scaling::min_max: return "features scaled to [0, 1]";
    case Scaling::standard: return "features standardised";
    case Scaling::rank: return "features scaled by rank";
    case Scaling::automatic:
      return "features scaled to [0, 1], or by rank where one has outliers";
    case Scaling::none: break;
  }
  return "features unscaled";
}

std::string parameter_text(const TrainingParams &p, Scaling scaling, const std::string &D_text,
                           const std::string &presentations_text) {
  std::string text;
  for (const Parameter &row : parameter_table) {
    if (row.field == nullptr) continue;
    std::string shown(row.name);  // "max_presentations" shown as "max presentations"
    std::replace(shown.begin(), shown.end(), '_', ' ');
    shown += " " + format_number(p.*row.field);
    if (row.field == &TrainingParams::D && !D_text.empty()) shown = D_text;
    if (row.field == &TrainingParams::max_presentations && !presentations_text.empty())
      shown = presentations_text;
    text += (text.empty() ? "" : ", ") + shown;
  }
  return text + ", " + scaling_text(scaling);
}

std::vector<OptionSpec> cv_options() {
  return {{"--folds", "", "K", "number of folds, >= 2 (default 5)"},
          {"--seed", "", "N",
           "seed of the random split into folds and of the members' orders (default 1)"}};
}

CvSettings cv_settings(const Arguments &args) {
  CvSettings settings;
  const double folds = args.number("--folds", settings.folds);
  if (!(folds >= 2 && folds <= 1e6 && std::trunc(folds) == folds))
    throw UsageError("option --folds takes a whole number >= 2");
  settings.folds = static_cast<int>(folds);
  settings.seed = seed_value(args);
  settings.scaling = scaling_wanted(args);
  settings.voting = voting_settings(args);
  return settings;
}

}  // namespace qir::cli
