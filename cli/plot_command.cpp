// qir plot: pictures of a model as SVG: its nodes and decisions over data,
// its confusion matrix, its vote shares, or accuracy and nodes as training
// goes on.
#include <iostream>
#include <optional>
#include <sstream>

#include "qir.h"
#include "command_support.h"
#include "commands.h"

namespace qir::cli {
namespace {

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir plot MODEL [DATA.csv] -o FILE.svg [--show WHAT] [--features I,J] [options]";
  s.summary =
      "Draws a model as an SVG picture. --show nodes (the default): the points of\n"
      "DATA.csv over the model's decision regions (a grid classified by the model,\n"
      "blank where it gives no class) and its nodes, coloured by class. A model of two\n"
      "features is drawn on both, in the data's units; a wider one on --features I,J\n"
      "(the others held at the data's mean) or else on the first two principal\n"
      "components of the scaled data; each node is drawn where that plane cuts it.\n"
      "--show confusion: the confusion matrix of DATA.csv as a heat map.\n"
      "--show votes: the share of the members' votes each class gets, by true class.\n"
      "--show progress: accuracy and nodes after training on DATA.csv with the\n"
      "model's settings for 1, 2, ... list presentations (tested on --test, else on\n"
      "DATA.csv).";
  s.options = {{"--output", "-o", "FILE.svg", "picture to write (required)"},
               {"--show", "", "WHAT", "nodes, confusion, votes or progress (default nodes)"},
               {"--features", "", "I,J",
                "the two features to draw, counted from 1 (default: both of a model of 2, "
                "else the principal components)"},
               {"--test", "", "TEST.csv", "--show progress: the data to test on"},
               {"--title", "", "TEXT", "title of the picture (default: the model file's name)"}};
  for (auto &option : data_options(true)) s.options.push_back(option);
  s.options.push_back(modules_option());
  s.min_positional = 1;
  s.max_positional = 2;
  return s;
}

// "I,J" as numbers; what they may be is the library's rule.
std::vector<double> feature_numbers(const Arguments &args) {
  const auto text = args.text("--features");
  if (!text) return {};
  std::vector<double> numbers;
  std::istringstream cells(*text);
  for (std::string cell; std::getline(cells, cell, ',');) {
    const auto number = parse_number(cell);
    if (!number) throw UsageError("--features takes two feature numbers, I,J, not '" + *text + "'");
    numbers.push_back(*number);
  }
  return numbers;
}

Dataset data_argument(const Arguments &args, const std::string &path, const Model &model) {
  // Named classes keep the model's labels, so that both share a colour.
  return load_dataset(path, label_source(args), csv_format(args), model.class_names);
}

// The command's own words for what the library refuses.
std::string picture(const Arguments &args, const Model &model, const std::string &what,
                    const std::string &title) {
  Dataset data;
  if (args.positional.size() == 2) data = data_argument(args, args.positional[1], model);
  else if (what != "nodes")
    throw UsageError("--show " + what + " needs a data file: qir plot MODEL DATA.csv ...");
  if (args.has("--features") && what != "nodes")
    throw UsageError("--features belongs to --show nodes");
  if (args.has("--test") && what != "progress") throw UsageError("--test belongs to --show progress");
  if (what != "nodes" && what != "votes" && !data.labelled())
    throw UsageError("--show " + what + " needs the data's true labels");
  std::optional<Dataset> test;
  if (args.has("--test")) test = data_argument(args, *args.text("--test"), model);
  if (test && !test->labelled()) throw UsageError("--show progress needs the test data's true labels");
  ModuleRunner runner = make_runner(args);
  return draw_picture(runner, model, what, data, test ? &*test : nullptr, title,
                      feature_numbers(args));
}

}  // namespace

int plot_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const auto output = args.text("--output");
  if (!output || output->empty()) throw UsageError("-o FILE.svg is missing: name the picture to write (see --help)");
  const std::string what = args.text("--show").value_or("nodes");
  if (what != "nodes" && what != "confusion" && what != "votes" && what != "progress")
    throw UsageError("--show takes nodes, confusion, votes or progress, not '" + what + "'");

  const Model model = load_model_argument(args.positional[0], command);
  const std::string title = args.text("--title").value_or(args.positional[0]);
  write_file_atomically(*output, picture(args, model, what, title));
  if (*output != "-") std::cout << "Picture written to " << *output << "\n";
  return 0;
}

}  // namespace qir::cli
