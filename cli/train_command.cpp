// qir train: one qir_train call on a data file, the result saved as a model.
#include <iostream>

#include "command_support.h"
#include "commands.h"
#include "errors.h"
#include "model_file.h"
#include "number_text.h"

namespace qircli {
namespace {

constexpr double default_oflag = 1;

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir train DATA.csv -o MODEL [options]";
  s.summary =
      "Learns category nodes from the labelled patterns in DATA.csv with the qir_train\n"
      "module and writes them to the model file MODEL. DATA.csv holds one pattern per\n"
      "row, the class label (a whole number) in the last column.";
  s.options = {{"--output", "-o", "MODEL", "model file to write (required)"}};
  for (auto &option : training_options(default_training_params())) s.options.push_back(option);
  s.options.push_back({"--oflag", "", "0-4",
                       "module verbosity: 0 silent, 1 summary, 2-4 more detail "
                       "(default 1)"});
  for (auto &option : data_options(false)) s.options.push_back(option);
  s.options.push_back(modules_option());
  s.details =
      "The parameters are stored in the model file and are the defaults of\n"
      "`qir classify`. Example:\n"
      "  qir train data/circle_train.csv -o circle.model --vigilance 0.8\n";
  s.min_positional = s.max_positional = 1;
  return s;
}

}  // namespace

int train_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const auto output = args.text("--output");
  if (!output || output->empty()) throw UsageError("qir train needs -o MODEL (see --help)");

  const TrainingParams params = training_params(args, default_training_params());
  const double oflag = args.number("--oflag", default_oflag);
  const Dataset data = load_dataset(args.positional[0], label_source(args));
  if (data.features() > static_cast<std::size_t>(max_model_features))
    throw InputError(data.path + ": " + std::to_string(data.features()) +
                     " features; a model holds at most " + std::to_string(max_model_features));
  ModuleRunner runner = make_runner(args);
  const Model model = runner.train(data, params, oflag);
  save_model(*output, model);
  std::cout << "Model written to " << *output << ": " << model.templates.size() << " nodes, "
            << model.features << " features, " << format_number(model.list_presentations)
            << " list presentations\n";
  return 0;
}

}  // namespace qircli
