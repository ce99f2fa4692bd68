// qir classify: one qir_perf call with a saved model on a data file; the
// labels saved on request, scored when the data carry true labels.
#include <cmath>
#include <iostream>

#include "qir.h"
#include "command_support.h"
#include "commands.h"
#include "output_path.h"

namespace qir::cli {
namespace {

constexpr double default_oflag = 1;

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir classify MODEL DATA.csv [-o LABELS.csv] [options]";
  s.summary =
      "Classifies the patterns in DATA.csv with the nodes in MODEL through the qir_perf\n"
      "module. By default the last column of DATA.csv holds the true labels: the\n"
      "command then prints the accuracy and a confusion table.";
  s.options = {
      {"--output", "-o", "LABELS.csv", "write the assigned labels, one per line ('-': stdout)"},
      {"--scores", "", "SCORES.csv",
       "write each pattern's vote shares, one column per class (header: the classes)"},
      {"--unknown-label", "", "N",
       "label written for unclassified patterns (default: smallest node label - 1)"},
  };
  // The model's parameters that classifying takes too.
  for (const Parameter &row : parameter_table)
    if (row.perf_input > 0 && row.field != nullptr)
      s.options.push_back(parameter_option(row, "default: the model's"));
  s.options.push_back(
      {"--oflag", "", "0-3", "module verbosity: 0 silent, 1 summary, 2-3 more detail (default 1)"});
  for (auto &option : data_options(true)) s.options.push_back(option);
  s.options.push_back(modules_option());
  s.details =
      "Large data sets are classified on every processor core; the environment\n"
      "variable QIR_THREADS sets the number of threads (1: one).\n"
      "Example:\n"
      "  qir classify circle.model data/circle_test.csv -o assigned.csv\n";
  s.min_positional = s.max_positional = 2;
  return s;
}

ClassifyParams classify_params(const Arguments &args, const Model &model_file) {
  const TrainingParams &model = model_file.params;
  ClassifyParams p;
  p.D = args.number("--D", model.D);
  p.ratio = args.number("--ratio", model.ratio);
  p.vigilance = args.number("--vigilance", model.vigilance);
  p.alpha = args.number("--alpha", model.alpha);
  p.ct = args.number("--ct", model.ct);
  // The module always marks unclassified patterns with a label no node
  // carries, so that they are scored as wrong; --unknown-label only
  // changes what is written for them.
  p.unknown_label = unused_label(model_classes(model_file).labels);
  p.oflag = args.number("--oflag", default_oflag);
  return p;
}

// A written label must fit a 32-bit int, as every label does.
double written_unknown_label(const Arguments &args, double unknown) {
  const double written = std::trunc(args.number("--unknown-label", unknown));
  if (!(std::fabs(written) <= 2147483647))
    throw UsageError("--unknown-label must be a whole number of at most 2147483647 in size");
  return written;
}

}  // namespace

int classify_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const auto output = args.text("--output");
  if (output) check_output_path(*output);
  const auto scores_path = args.text("--scores");
  if (scores_path) check_output_path(*scores_path);
  // With the labels on standard output, everything else goes to standard error.
  std::ostream &report = output == "-" ? std::cerr : std::cout;

  const Model model = load_model_argument(args.positional[0], command);
  const ClassifyParams params = classify_params(args, model);
  const double written_unknown = written_unknown_label(args, params.unknown_label);
  FileClassification job;
  job.data = args.positional[1];
  job.source = label_source(args);
  job.format = csv_format(args);
  job.labels_path = output;
  job.scores_path = scores_path;
  job.written_unknown = written_unknown;

  ModuleRunner runner = make_runner(args);
  runner.echo_to(report);
  const FileClassificationResult result = classify_file(runner, model, params, job, std::cerr);
  if (result.scores) report << format_scores(*result.scores, result.class_names);
  // Where the results went, as train and plot say ('-': they are the output).
  if (scores_path && *scores_path != "-") report << "Vote shares written to " << *scores_path << "\n";
  if (output && *output != "-") report << "Labels written to " << *output << "\n";
  if (const auto hint = classification_hint(result.unclassified, result.patterns))
    std::cerr << *hint << "\n";
  return 0;
}

}  // namespace qir::cli
