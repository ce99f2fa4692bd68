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

// A data file with exactly as many columns as the model has features was
// most likely meant to be read without labels.
void check_label_column(const Table &table, const Model &model, const LabelSource &source) {
  if (source.kind == LabelSource::Kind::last_column &&
      table.columns() == static_cast<std::size_t>(model.features))
    throw InputError(table.path + ": " + std::to_string(model.features) +
                     " columns, as many as the model has features: without labels, give "
                     "--no-labels");
}

// The label written for unclassified patterns: --unknown-label, truncated
// like every label, or the one the module used.
double written_unknown_label(const Arguments &args, double unknown) {
  const double written = std::trunc(args.number("--unknown-label", unknown));
  if (!(std::fabs(written) <= 2147483647))
    throw UsageError("--unknown-label must be a whole number of at most 2147483647 in size");
  return written;
}

std::vector<double> labels_to_write(std::vector<double> assigned, double unknown,
                                    double written) {
  for (double &label : assigned)
    if (label == unknown) label = written;
  return assigned;
}

std::string class_text(double label, const ClassNames &names) {
  const auto named = std::find_if(names.begin(), names.end(),
                                  [&](const auto &entry) { return entry.first == label; });
  return named != names.end() ? csv_cell(named->second) : format_number(label);
}

// One label per line: the class name where the model has one.
std::string format_labels(const std::vector<double> &assigned, const ClassNames &names) {
  if (names.empty()) return format_column(assigned);
  std::string text;
  for (double label : assigned) text += class_text(label, names) + "\n";
  return text;
}

// A header row of the classes, then one row of vote shares per pattern
// (all 0 for a pattern that no member classified).
std::string format_shares(const VoteResult &result, const ClassNames &names) {
  std::string text;
  for (std::size_t c = 0; c < result.classes.size(); ++c)
    text += (c == 0 ? "" : ",") + class_text(result.classes[c], names);
  text += "\n";
  const std::size_t width = result.classes.size();
  for (std::size_t p = 0; p < result.labels.size(); ++p) {
    for (std::size_t c = 0; c < width; ++c)
      text += (c == 0 ? "" : ",") + format_number(result.shares[p * width + c]);
    text += "\n";
  }
  return text;
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
  const LabelSource source = label_source(args);
  const CsvFormat format = csv_format(args);
  const Table table = read_csv(args.positional[1], format);
  check_label_column(table, model, source);
  if (table.text_labels() && model.class_names.empty() &&
      source.kind == LabelSource::Kind::last_column)
    throw InputError(table.path + ": the labels are names, but the model's classes are numbers");
  const Dataset data = dataset_from_table(table, source, format, model.class_names);
  if (const auto mismatch = feature_name_mismatch(model.feature_names, data))
    std::cerr << "Warning: " << *mismatch << "\n";

  ModuleRunner runner = make_runner(args);
  runner.echo_to(report);
  const VoteResult voted = vote_on(runner, model, data.patterns, params);
  const std::vector<double> &assigned = voted.labels;
  if (scores_path) write_file_atomically(*scores_path, format_shares(voted, model.class_names));
  if (output)
    write_file_atomically(
        *output, format_labels(labels_to_write(assigned, params.unknown_label, written_unknown),
                               model.class_names));
  if (data.labelled()) report << format_scores(score(data.labels, assigned, params.unknown_label), data.class_names);
  const auto unknown = static_cast<std::size_t>(
      std::count(assigned.begin(), assigned.end(), params.unknown_label));
  // Where the results went, as train and plot say ('-': they are the output).
  if (scores_path && *scores_path != "-") report << "Vote shares written to " << *scores_path << "\n";
  if (output && *output != "-") report << "Labels written to " << *output << "\n";
  if (const auto hint = classification_hint(unknown, assigned.size())) std::cerr << *hint << "\n";
  return 0;
}

}  // namespace qir::cli
