// qir plot: draws a model on two of its features, optionally over a data
// file, as SVG.
#include <iostream>
#include <sstream>

#include "qir.h"
#include "command_support.h"
#include "commands.h"

namespace qir::cli {
namespace {

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir plot MODEL [DATA.csv] -o FILE.svg [--features I,J] [options]";
  s.summary =
      "Draws every node of a model as its category region (an ellipse with half-axis\n"
      "radius along the node's direction and ratio*radius across it; a node without\n"
      "direction as a circle of its radius, or a dot when that is 0), coloured by\n"
      "class, over the points of DATA.csv coloured by class. A wider model is seen on\n"
      "two of its features: each node as its shadow on their plane. The axes are in\n"
      "the data's own units and carry the features' names; the legend the classes'.";
  s.options = {{"--output", "-o", "FILE.svg", "picture to write (required)"},
               {"--features", "", "I,J",
                "the two features to draw, counted from 1 (default 1,2 for a model of 2)"},
               {"--title", "", "TEXT", "title of the picture (default: the model file's name)"}};
  for (auto &option : data_options(true)) s.options.push_back(option);
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

}  // namespace

int plot_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const auto output = args.text("--output");
  if (!output || output->empty()) throw UsageError("-o FILE.svg is missing: name the picture to write (see --help)");

  const Model model = load_model_argument(args.positional[0], command);
  const FeaturePair pair = plotted_features(model, feature_numbers(args));
  PlotPoints points;
  if (args.positional.size() == 2) {
    // Named classes keep the model's labels, so that both share a colour.
    Dataset data = load_dataset(args.positional[1], label_source(args), csv_format(args),
                                model.class_names);
    points.points = std::move(data.patterns);
    points.labels = std::move(data.labels);
    points.class_names = std::move(data.class_names);
  }
  const std::string title = args.text("--title").value_or(args.positional[0]);
  write_file_atomically(*output, render_svg(model, points, title, pair));
  if (*output != "-") std::cout << "Picture written to " << *output << "\n";
  return 0;
}

}  // namespace qir::cli
