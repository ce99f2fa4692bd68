// qir cv: stratified k-fold cross-validation of one training setting.
#include <cstdio>
#include <iostream>
#include <set>

#include "command_support.h"
#include "qir.h"
#include "commands.h"

namespace qir::cli {
namespace {

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir cv DATA.csv [--folds 5] [options]";
  s.summary =
      "Estimates how well a training setting generalises: splits the labelled patterns\n"
      "of DATA.csv into stratified folds (each class spread evenly, the split fixed by\n"
      "the seed), trains on all folds but one and classifies that one, for each fold.\n"
      "Prints each fold's and the mean accuracy (unclassified patterns count as\n"
      "wrong), the unclassified share, the nodes and the times, and a confusion table\n"
      "of every pattern's true and assigned class over all folds.";
  s.options = cv_options();
  for (auto &option : training_options()) s.options.push_back(option);
  for (auto &option : data_options(false)) s.options.push_back(option);
  s.options.push_back(modules_option());
  s.details =
      "The scaling is fitted on the training folds alone. Example:\n"
      "  qir cv data/wine.csv --folds 10 --vigilance 0.5\n";
  s.min_positional = s.max_positional = 1;
  return s;
}

std::string fold_line(const std::string &name, double patterns, double accuracy, double unknown,
                      double nodes, double presentations, double train, double classify) {
  char line[200];
  std::snprintf(line, sizeof line, "%-6s %8.0f %8.2f%% %8.2f%% %8.1f %13.1f %9.3f %10.3f\n",
                name.c_str(), patterns, accuracy, unknown, nodes, presentations, train, classify);
  return line;
}

std::string result_table(const CvResult &result) {
  std::string text =
      "Fold   Patterns  Accuracy   Unknown    Nodes Presentations   Train s Classify s\n";
  double patterns = 0, presentations = 0, train = 0, classify = 0;
  for (std::size_t k = 0; k < result.folds.size(); ++k) {
    const FoldResult &f = result.folds[k];
    text += fold_line(std::to_string(k + 1), static_cast<double>(f.patterns),
                      f.accuracy_percent(), f.unknown_percent(), static_cast<double>(f.nodes),
                      f.presentations, f.train_seconds, f.classify_seconds);
    patterns += static_cast<double>(f.patterns);
    presentations += f.presentations;
    train += f.train_seconds;
    classify += f.classify_seconds;
  }
  const double folds = static_cast<double>(result.folds.size());
  return text + fold_line("Mean", patterns / folds, result.accuracy_percent(),
                          result.unknown_percent(), result.nodes(), presentations / folds,
                          train / folds, classify / folds);
}

}  // namespace

int cv_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  CvSettings settings = cv_settings(args);

  const Dataset data = load_dataset(args.positional[0], label_source(args), csv_format(args));
  const TrainingParams params = training_params(
      args, {varying_features(data.patterns), member_rows(data.patterns.size(), settings.voting),
             settings.voting.voters});
  settings.default_D_per_fold = !args.has("--D");
  settings.default_presentations_per_fold =
      !args.has(std::string(parameter("max_presentations").flag));
  const std::set<double> classes(data.labels.begin(), data.labels.end());
  std::cout << "Cross-validation of " << data.path << ": "
            << count_of(data.patterns.size(), "pattern") << ", "
            << count_of(data.features(), "feature") << ", " << count_of(classes.size(), "class", "classes")
            << ", " << settings.folds << " folds (seed " << settings.seed << ")\n"
            << "Parameters: "
            << parameter_text(params, fold_scaling(data, settings),
                              settings.default_D_per_fold
                                  ? "D sqrt(features that vary in each training fold)"
                                  : "",
                              settings.default_presentations_per_fold
                                  ? "max presentations for each training fold's size"
                                  : "")
            << "\n";
  warn_about_training_data(data);
  ModuleRunner runner = make_runner(args);
  CvResult result;
  {
    Progress progress;
    result = cross_validate(runner, data, params, settings, [&](int fold) {
      progress.show("fold " + std::to_string(fold + 1) + "/" + std::to_string(settings.folds));
    });
  }
  std::cout << result_table(result)
            << format_confusion(
                   score(result.true_labels, result.assigned_labels, result.unknown_label),
                   data.class_names, "Confusion table over all folds (rows: true label, columns: assigned label)");
  std::size_t unknown = 0;
  for (const auto &fold : result.folds) unknown += fold.unknown;
  if (const auto hint = classification_hint(unknown, data.patterns.size()))
    std::cerr << *hint << "\n";
  return 0;
}

}  // namespace qir::cli
