#include "command_support.h"

#include <iostream>

#include "errors.h"
#include "number_text.h"

namespace qircli {

OptionSpec modules_option() {
  return {"--modules", "", "DIR",
          "folder of the module files (default $QIR_MODULE_DIR, else the build's)"};
}

std::vector<OptionSpec> data_options(bool allow_unlabelled) {
  std::vector<OptionSpec> options{
      {"--labels", "", "FILE", "labels in FILE (one per line); every data column is a feature"}};
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

ModuleRunner make_runner(const Arguments &args) {
  return ModuleRunner(module_directory(args.text("--modules")));
}

bool print_help_if_asked(const CommandSpec &command_spec, const Arguments &args) {
  if (args.help) std::cout << help_text(command_spec);
  return args.help;
}

std::vector<OptionSpec> training_options(const TrainingParams &d) {
  auto with_default = [](const std::string &text, double value) {
    return text + " (default " + format_number(value) + ")";
  };
  return {
      {"--D", "", "VALUE", with_default("size bound D >= 0: nodes stay shorter than D", d.D)},
      {"--ratio", "", "VALUE", with_default("minor to major half-axis ratio, in (0, 1]", d.ratio)},
      {"--vigilance", "", "VALUE", with_default("vigilance, in [0, 1]", d.vigilance)},
      {"--alpha", "", "VALUE", with_default("choice parameter alpha >= 0", d.alpha)},
      {"--learning-rate", "", "VALUE", with_default("learning rate, in (0, 1]", d.learning_rate)},
      {"--max-presentations", "", "N",
       with_default("most list presentations, >= 1", d.max_presentations)},
      {"--trim", "", "0|1", with_default("1: drop nodes that no pattern chose", d.trim)},
      {"--ct", "", "0|1", with_default("1: apply the choice-value test", d.ct)},
  };
}

TrainingParams default_training_params() {
  TrainingParams p;
  p.D = 1;
  p.ratio = 0.5;
  p.vigilance = 0.75;
  p.alpha = 0.001;
  p.learning_rate = 1;
  p.max_presentations = 100;
  p.trim = 1;
  p.ct = 0;
  return p;
}

TrainingParams training_params(const Arguments &args, const TrainingParams &d) {
  TrainingParams p;
  p.D = args.number("--D", d.D);
  p.ratio = args.number("--ratio", d.ratio);
  p.vigilance = args.number("--vigilance", d.vigilance);
  p.alpha = args.number("--alpha", d.alpha);
  p.learning_rate = args.number("--learning-rate", d.learning_rate);
  p.max_presentations = args.number("--max-presentations", d.max_presentations);
  p.trim = args.number("--trim", d.trim);
  p.ct = args.number("--ct", d.ct);
  return p;
}

}  // namespace qircli
