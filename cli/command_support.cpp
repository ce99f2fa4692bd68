#include "command_support.h"

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

void warn_about_training_data(const Dataset &data) {
  for (const DataWarning &warning : training_data_warnings(data.patterns, data.labels))
    std::cerr << "Warning: " << warning.text << "\n";
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

std::vector<OptionSpec> training_options() {
  const TrainingDefaults &d = training_defaults;
  auto with_default = [](const std::string &text, double value) {
    return text + " (default " + format_number(value) + ")";
  };
  return {
      {"--D", "", "VALUE",
       "size bound D >= 0: nodes stay shorter than D (default sqrt(M), M features that vary)"},
      {"--ratio", "", "VALUE", with_default("minor to major half-axis ratio, in (0, 1]", d.ratio)},
      {"--vigilance", "", "VALUE", with_default("vigilance, in [0, 1]", d.vigilance)},
      {"--alpha", "", "VALUE", with_default("choice parameter alpha >= 0", d.alpha)},
      {"--learning-rate", "", "VALUE", with_default("learning rate, in (0, 1]", d.learning_rate)},
      {"--max-presentations", "", "N",
       "most list presentations, >= 1 (default " + format_number(d.training_work) +
           " / patterns / voters, rounded up, " + format_number(d.fewest_presentations) +
           " to " + format_number(d.max_presentations) + ")"},
      {"--trim", "", "0|1", with_default("1: drop nodes that no pattern chose", d.trim)},
      {"--ct", "", "0|1", with_default("1: apply the choice-value test", d.ct)},
      scale_option(),
      {"--voters", "", "K",
       with_default("members of the ensemble, each trained in its own order; they vote",
                    d.voters)},
      {"--shuffle", "", "0|1",
       with_default("1: each member sees the patterns in a shuffled order", d.shuffle ? 1 : 0)},
  };
}

OptionSpec seed_option() {
  return {"--seed", "", "N",
          "seed of the members' shuffled orders (default " + format_number(training_defaults.seed) +
              ")"};
}

namespace {

std::uint64_t seed_value(const Arguments &args) {
  const double seed = args.number("--seed", training_defaults.seed);
  if (!(seed >= 0 && seed <= 9007199254740992.0 && std::trunc(seed) == seed))
    throw UsageError("option --seed takes a whole number >= 0");
  return static_cast<std::uint64_t>(seed);
}

}  // namespace

VotingSettings voting_settings(const Arguments &args) {
  const double voters = args.number("--voters", training_defaults.voters);
  const double shuffle = args.number("--shuffle", training_defaults.shuffle ? 1 : 0);
  if (!(voters >= 1 && voters <= 1000 && std::trunc(voters) == voters))
    throw UsageError("option --voters takes a whole number from 1 to 1000");
  if (shuffle != 0 && shuffle != 1) throw UsageError("option --shuffle takes 0 or 1");
  VotingSettings voting{static_cast<int>(voters), seed_value(args), shuffle == 1};
  if (voting.voters > 1 && !voting.shuffle)
    throw UsageError("--voters above 1 needs --shuffle 1: unshuffled members would all be alike");
  return voting;
}

OptionSpec scale_option() {
  return {"--scale", "", "0|1",
          std::string("1: scale each feature to [0, 1] by its training range (default ") +
              (training_defaults.scale ? "1" : "0") + ")"};
}

TrainingParams training_params(const Arguments &args, const TrainingData &data,
                               const TrainingParams *base) {
  const TrainingDefaults &d = training_defaults;
  const TrainingParams fallback =
      base ? *base
           : TrainingParams{default_D(data.varying), d.ratio, d.vigilance, d.alpha,
                            d.learning_rate, default_max_presentations(data.patterns, data.voters),
                            d.trim, d.ct};
  TrainingParams p;
  p.D = args.number("--D", fallback.D);
  p.ratio = args.number("--ratio", fallback.ratio);
  p.vigilance = args.number("--vigilance", fallback.vigilance);
  p.alpha = args.number("--alpha", fallback.alpha);
  p.learning_rate = args.number("--learning-rate", fallback.learning_rate);
  p.max_presentations = args.number("--max-presentations", fallback.max_presentations);
  if (!(p.max_presentations >= 1 && p.max_presentations < most_presentations + 1))
    throw UsageError("--max-presentations takes a whole number from 1 to " +
                     format_number(most_presentations) +
                     "; training stops by itself once a presentation changes nothing");
  p.trim = args.number("--trim", fallback.trim);
  p.ct = args.number("--ct", fallback.ct);
  return p;
}

bool scaling_wanted(const Arguments &args) {
  const double scale = args.number("--scale", training_defaults.scale ? 1 : 0);
  if (scale != 0 && scale != 1) throw UsageError("option --scale takes 0 or 1");
  return scale == 1;
}

std::string parameter_text(const TrainingParams &p, bool scale, const std::string &D_text,
                           const std::string &presentations_text) {
  const std::string presentations =
      presentations_text.empty() ? "max presentations " + format_number(p.max_presentations)
                                 : presentations_text;
  return (D_text.empty() ? "D " + format_number(p.D) : D_text) + ", ratio " +
         format_number(p.ratio) + ", vigilance " + format_number(p.vigilance) + ", alpha " +
         format_number(p.alpha) + ", learning rate " + format_number(p.learning_rate) + ", " +
         presentations + ", trim " + format_number(p.trim) + ", ct " + format_number(p.ct) +
         (scale ? ", features scaled to [0, 1]" : ", features unscaled");
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
  settings.scale = scaling_wanted(args);
  settings.voting = voting_settings(args);
  return settings;
}

}  // namespace qir::cli
