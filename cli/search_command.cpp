// qir search: cross-validates the settings of a grid and keeps the defaults
// unless one clearly beats them.
#include <cstdio>
#include <iostream>

#include "command_support.h"
#include "commands.h"
#include "qir.h"
#include "output_path.h"

namespace qir::cli {
namespace {

constexpr double default_rows_shown = 10;

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir search DATA.csv [-o MODEL] [options]";
  s.summary =
      "Looks for a training setting that suits the labelled patterns of DATA.csv\n"
      "better than the defaults, by cross-validation on DATA.csv alone: unless --scale\n"
      "is given, tries the defaults under minmax and under rank scaling and keeps\n"
      "minmax unless rank beats it by more than the standard error of its\n"
      "per-fold gain; screens the node settings of a grid under that scaling with\n"
      "one shuffled member each, tries the best with ensembles, and keeps the\n"
      "defaults unless the best ensemble (or the defaults under the chosen scaling)\n"
      "beats them by more than the standard error of its per-fold gain. Prints the\n"
      "rankings, the choice and the qir train command line of the chosen setting;\n"
      "with -o, trains it on all the data.";
  s.options = {{"--output", "-o", "MODEL", "train the chosen setting on all data, save it here"},
               {"--show", "", "N", "number of screened settings listed (default 10)"}};
  for (auto &option : cv_options()) s.options.push_back(option);
  OptionSpec scale = scale_option();
  scale.help = "fixes the scaling (default: the search chooses it)";
  s.options.push_back(scale);
  for (auto &option : data_options(false)) s.options.push_back(option);
  s.options.push_back(modules_option());
  s.details = "The grid (every combination; learning rate, presentations and trimming at\n"
              "their defaults):\n" +
              search_grid_text() + "Example:\n  qir search data/wine.csv -o wine.model\n";
  s.min_positional = s.max_positional = 1;
  return s;
}

std::string row(const std::string &rank, const SearchCandidate &c, bool with_gain) {
  char line[220];
  std::snprintf(line, sizeof line, "%4s %8.2f%% %8.2f%% %8.1f %10.4g %6g %10g %6g %3g %6d",
                rank.c_str(), c.result.accuracy_percent(), c.result.unknown_percent(),
                c.result.nodes(), c.params.D, c.params.ratio, c.params.vigilance, c.params.alpha,
                c.params.ct, c.voting.voters);
  std::string text = line;
  if (with_gain) {
    std::snprintf(line, sizeof line, " %+7.2f ± %.2f", c.gain, c.gain_error);
    text += line;
  }
  return text + "\n";
}

std::string scaling_row(const SearchCandidate &c) {
  char line[160];
  std::snprintf(line, sizeof line, "%8s %8.2f%% %8.2f%% %8.1f %+7.2f ± %.2f\n",
                choice_word(parameter("scale"), static_cast<double>(c.scaling)).c_str(),
                c.result.accuracy_percent(), c.result.unknown_percent(), c.result.nodes(), c.gain,
                c.gain_error);
  return line;
}

const char *header =
    "Rank  Accuracy   Unknown    Nodes          D  ratio  vigilance  alpha  ct voters";

// Today's spelling for none, "--scale 0", as before scaling was a choice.
std::string scale_option_text(Scaling scaling) {
  if (scaling == training_defaults.scaling) return "";
  if (scaling == Scaling::none) return " --scale 0";
  return " --scale " + choice_word(parameter("scale"), static_cast<double>(scaling));
}

// The defaults kept leave D to the data the setting is trained on, as the
// command's default does; a chosen D is the grid's value.
std::string train_command_line(const std::string &data, const SearchCandidate &c, Scaling scaling,
                               bool kept_defaults) {
  const TrainingParams &p = c.params;
  return "qir train " + data + " -o MODEL" +
         (kept_defaults ? std::string() : " --D " + format_number(p.D)) + " --ratio " +
         format_number(p.ratio) + " --vigilance " + format_number(p.vigilance) + " --alpha " +
         format_number(p.alpha) + " --ct " + format_number(p.ct) + " --voters " +
         std::to_string(c.voting.voters) + scale_option_text(scaling);
}

}  // namespace

int search_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const CvSettings settings = cv_settings(args);
  const bool choose_scaling = !args.text(std::string(parameter("scale").flag));
  const double shown = args.number("--show", default_rows_shown);
  if (!(shown >= 1)) throw UsageError("option --show takes a number >= 1");
  const auto output = args.text("--output");
  if (output) check_output_path(*output);

  const Dataset data = load_dataset(args.positional[0], label_source(args), csv_format(args));
  if (static_cast<std::size_t>(settings.folds) > data.patterns.size())
    throw UsageError("--folds must lie between 2 and the number of patterns (" +
                     std::to_string(data.patterns.size()) + ")");
  const std::size_t settings_count = search_grid(data.features()).size();
  std::cout << "Search on " << data.path << ": " << count_of(data.patterns.size(), "pattern")
            << ", " << count_of(data.features(), "feature") << "; "
            << count_of(settings_count, "node setting") << " screened with one shuffled member, "
            << "the best tried with ensembles"
            << (choose_scaling ? ", after the defaults under another scaling" : "") << "; each by "
            << settings.folds << "-fold cross-validation (seed " << settings.seed << ")\n";
  warn_about_training_data(data);
  ModuleRunner runner = make_runner(args);
  SearchOutcome outcome;
  {
    Progress progress;
    outcome = run_search(runner, data, settings, [&](const std::string &step) {
      progress.show(step);
    }, {}, choose_scaling);
  }
  if (!outcome.scalings.empty()) {
    std::cout << "Scalings at the defaults, and their gain over the defaults' own (points ± "
                 "standard error):\n Scaling  Accuracy   Unknown    Nodes     gain\n";
    for (const SearchCandidate &c : outcome.scalings) std::cout << scaling_row(c);
  }
  std::cout << "Screening (one shuffled member each"
            << (outcome.scalings.empty()
                    ? std::string()
                    : ", features scaled by " +
                          choice_word(parameter("scale"),
                                      static_cast<double>(outcome.screened.front().scaling)))
            << "):\n"
            << header << "\n";
  for (std::size_t k = 0; k < outcome.screened.size() && k < static_cast<std::size_t>(shown); ++k)
    std::cout << row(std::to_string(k + 1), outcome.screened[k], false);
  std::cout << "Ensembles, and their gain over the defaults (points ± standard error):\n"
            << header << "     gain\n";
  for (std::size_t k = 0; k < outcome.finalists.size(); ++k)
    std::cout << row(std::to_string(k + 1), outcome.finalists[k], true);
  std::cout << row("def.", outcome.defaults, false);
  std::cout << (outcome.kept_defaults
                    ? "Defaults kept: no setting beats them by more than its standard error\n"
                    : outcome.chose_scaled_defaults
                          ? "Chosen: the defaults under the chosen scaling, which beat them by "
                            "more than its standard error\n"
                          : "Chosen: the best ensemble, which beats the defaults by more than "
                            "its standard error\n")
            << "Best setting: "
            << train_command_line(data.path, outcome.chosen, outcome.chosen.scaling,
                                  outcome.kept_defaults)
            << "\n";
  char took[80];
  std::snprintf(took, sizeof took, "Search took %.1f s\n", outcome.seconds);
  std::cout << took;
  if (output) {
    const Model model = fit_model(runner, data, outcome.chosen.params, outcome.chosen.scaling, 0,
                                  outcome.chosen.voting);
    save_model(*output, model);
    std::cout << "Model of the chosen setting written to " << *output << ": "
              << count_of(model.total_nodes(), "node") << "\n";
  }
  return 0;
}

}  // namespace qir::cli
