// qir plot: draws a 2-D model, optionally over a data file, as SVG.
#include <iostream>

#include "atomic_file.h"
#include "command_support.h"
#include "commands.h"
#include "errors.h"
#include "feature_scaling.h"
#include "svg_plot.h"

namespace qircli {
namespace {

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir plot MODEL [DATA.csv] -o FILE.svg [options]";
  s.summary =
      "Draws every node of a model of 2 features as its category region (an ellipse\n"
      "with half-axis radius along the node's direction and ratio*radius across it; a\n"
      "node without direction as a circle of its radius, or a dot when that is 0),\n"
      "coloured by label, over the points of DATA.csv coloured by class.";
  s.options = {{"--output", "-o", "FILE.svg", "picture to write (required)"},
               {"--title", "", "TEXT", "title of the picture (default: the model file's name)"}};
  for (auto &option : data_options(true)) s.options.push_back(option);
  s.min_positional = 1;
  s.max_positional = 2;
  return s;
}

}  // namespace

int plot_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const auto output = args.text("--output");
  if (!output || output->empty()) throw UsageError("-o FILE.svg is missing: name the picture to write (see --help)");

  const Model model = load_model_argument(args.positional[0], command);
  PlotPoints points;
  if (args.positional.size() == 2) {
    Dataset data = load_dataset(args.positional[1], label_source(args), csv_format(args));
    // The nodes live in the scaled space of a scaling model; so must the points.
    points.points = model.scales() && data.features() == model.feature_min.size()
                        ? scale_patterns(data.patterns, {model.feature_min, model.feature_max})
                        : std::move(data.patterns);
    points.labels = std::move(data.labels);
  }
  const std::string title = args.text("--title").value_or(args.positional[0]);
  write_file_atomically(*output, render_svg(model, points, title));
  if (*output != "-") std::cout << "Picture written to " << *output << "\n";
  return 0;
}

}  // namespace qircli
