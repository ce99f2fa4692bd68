// qir demo: the circle-in-the-square benchmark end to end, with a picture.
#include <chrono>
#include <cstdio>
#include <iostream>

#include "qir.h"
#include "command_support.h"
#include "commands.h"
#include "stream_demo.h"

namespace qir::cli {
namespace {

// The command's own defaults for one model: the demo shows what a new user
// gets. The help shows them for the bundled training data.
TrainingParams demo_params(std::size_t patterns) {
  return training_params(Arguments{}, {2, patterns, 1});
}
constexpr std::size_t bundled_circle_patterns = 1000;
// Uniform points in the square: no outliers, so what the default resolves to.
constexpr Scaling demo_scaling = Scaling::min_max;


CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir demo [--stream] [options]";
  s.summary =
      "Trains on circle_train.csv (label 1 inside the centred circle that covers half\n"
      "the unit square, 2 outside), classifies circle_test.csv, prints the modules'\n"
      "summaries, the accuracy and the number of nodes, and draws the model's classes\n"
      "and nodes under the training points.\n"
      "With --stream: the digits fed in batches, a class held back until halfway;\n"
      "after each batch the model continued on it (as qir train --init does) and a\n"
      "refit on all data so far are tested, and both are drawn (qir-stream.svg).";
  s.options = {{"--output", "-o", "FILE.svg",
                "picture to write (default qir-demo.svg; with --stream qir-stream.svg)"},
               {"--stream", "", "", "the stream demo instead"},
               {"--batches", "", "N", "batches of the stream demo (default 10)"},
               {"--data", "", "DIR",
                "folder of circle_train.csv and circle_test.csv (--stream: digits.csv) "
                "(default: the bundled data)"},
               {"--oflag", "", "0-3", "module verbosity (default 1: summaries)"},
               modules_option()};
  s.details = "Training parameters: " +
              parameter_text(demo_params(bundled_circle_patterns), demo_scaling) + "\n";
  return s;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int demo_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  if (args.has("--stream")) return stream_demo(args);
  if (args.has("--batches")) throw UsageError("--batches belongs to --stream");
  const std::string folder = args.text("--data").value_or(bundled_data_folder());
  const std::string output = args.text("--output").value_or("qir-demo.svg");
  const double oflag = args.number("--oflag", 1);

  const Dataset train = load_dataset(folder + "/circle_train.csv", {});
  const Dataset test = load_dataset(folder + "/circle_test.csv", {});
  const TrainingParams params = demo_params(train.patterns.size());
  std::cout << "QIR demo: circle in the square\nParameters: " << parameter_text(params, demo_scaling) << "\n";
  ModuleRunner runner = make_runner(args);

  const auto start = std::chrono::steady_clock::now();
  const Model model = fit_model(runner, train, params, demo_scaling, oflag);
  const double train_seconds = seconds_since(start);
  const double unknown_label = unused_label(model.members.front().labels);
  const ClassifyParams classify{
      params.D, params.ratio, params.vigilance, params.alpha, params.ct, unknown_label, oflag};
  const auto assigned = apply_model(runner, model, test.patterns, classify);
  const double total_seconds = seconds_since(start);

  std::cout << "Test set (" << test.path << "):\n"
            << format_scores(score(test.labels, assigned, unknown_label));
  char timing[160];
  std::snprintf(
      timing, sizeof timing,
      "Nodes: %zu (after %s)\nRun time: %.3f s training, %.3f s in all\n",
      model.total_nodes(),
      count_of(static_cast<std::size_t>(model.members.front().list_presentations),
               "list presentation").c_str(),
      train_seconds,
      total_seconds);
  std::cout << timing;
  write_file_atomically(output,
                        draw_model(runner, model, {train.patterns, train.labels, train.class_names},
                                   "QIR demo: the model's classes and nodes over the training data",
                                   {}));
  std::cout << "Picture written to " << output << "\n";
  return 0;
}

}  // namespace qir::cli
