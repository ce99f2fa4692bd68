// qir search: cross-validates every setting of a small grid and ranks them.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <numeric>

#include "command_support.h"
#include "commands.h"
#include "cross_validation.h"
#include "errors.h"
#include "fitting.h"
#include "number_text.h"
#include "output_path.h"
#include "progress.h"
#include "search_grid.h"

namespace qircli {
namespace {

constexpr double default_rows_shown = 10;

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir search DATA.csv [-o MODEL] [options]";
  s.summary =
      "Cross-validates every setting of a small grid on the labelled patterns of\n"
      "DATA.csv, prints the best settings ranked by mean accuracy (then fewer\n"
      "unclassified patterns, then fewer nodes) and the qir train command line of\n"
      "the best; with -o, trains the best setting on all the data.";
  s.options = {{"--output", "-o", "MODEL", "train the best setting on all data, save it here"},
               {"--show", "", "N", "number of settings listed (default 10)"}};
  for (auto &option : cv_options()) s.options.push_back(option);
  s.options.push_back(scale_option());
  for (auto &option : data_options(false)) s.options.push_back(option);
  s.options.push_back(modules_option());
  s.details = "The grid (every combination; learning rate, presentations and trimming at\n"
              "their defaults):\n" +
              search_grid_text() + "Example:\n  qir search data/wine.csv -o wine.model\n";
  s.min_positional = s.max_positional = 1;
  return s;
}

struct Ranked {
  TrainingParams params;
  CvResult result;
};

std::string ranking_table(const std::vector<Ranked> &ranked, std::size_t shown) {
  std::string text = "Rank  Accuracy   Unknown    Nodes          D  ratio  vigilance  alpha  ct\n";
  for (std::size_t k = 0; k < ranked.size() && k < shown; ++k) {
    const Ranked &r = ranked[k];
    char line[200];
    std::snprintf(line, sizeof line, "%4zu %8.2f%% %8.2f%% %8.1f %10.4g %6g %10g %6g %3g\n", k + 1,
                  r.result.accuracy_percent(), r.result.unknown_percent(), r.result.nodes(),
                  r.params.D, r.params.ratio, r.params.vigilance, r.params.alpha, r.params.ct);
    text += line;
  }
  return text;
}

std::string train_command_line(const std::string &data, const TrainingParams &p, bool scale) {
  return "qir train " + data + " -o MODEL --D " + format_number(p.D) + " --ratio " +
         format_number(p.ratio) + " --vigilance " + format_number(p.vigilance) + " --alpha " +
         format_number(p.alpha) + " --ct " + format_number(p.ct) + (scale ? "" : " --scale 0");
}

std::vector<Ranked> run_grid(ModuleRunner &runner, const Dataset &data, const CvSettings &settings) {
  const std::vector<TrainingParams> grid = search_grid(data.features());
  std::vector<Ranked> ranked;
  Progress progress;
  for (std::size_t k = 0; k < grid.size(); ++k) {
    const std::string step = "setting " + std::to_string(k + 1) + "/" + std::to_string(grid.size());
    ranked.push_back({grid[k], cross_validate(runner, data, grid[k], settings, [&](int fold) {
                        progress.show(step + ", fold " + std::to_string(fold + 1) + "/" +
                                      std::to_string(settings.folds));
                      })});
  }
  std::vector<SettingScore> scores;
  for (const Ranked &r : ranked)
    scores.push_back({r.result.accuracy_percent(), r.result.unknown_percent(), r.result.nodes()});
  std::vector<Ranked> best_first;
  for (std::size_t k : rank_settings(scores)) best_first.push_back(ranked[k]);
  return best_first;
}

}  // namespace

int search_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const CvSettings settings = cv_settings(args);
  const double shown = args.number("--show", default_rows_shown);
  if (!(shown >= 1)) throw UsageError("option --show takes a number >= 1");
  const auto output = args.text("--output");
  if (output) check_output_path(*output);

  const Dataset data = load_dataset(args.positional[0], label_source(args), csv_format(args));
  const std::size_t settings_count = search_grid(data.features()).size();
  std::cout << "Search on " << data.path << ": " << count_of(data.patterns.size(), "pattern")
            << ", " << count_of(data.features(), "feature") << "; "
            << count_of(settings_count, "setting") << ", each by " << settings.folds
            << "-fold cross-validation (seed " << settings.seed << ")\n";
  ModuleRunner runner = make_runner(args);
  const std::vector<Ranked> ranked = run_grid(runner, data, settings);
  std::cout << ranking_table(ranked, static_cast<std::size_t>(shown))
            << "Best setting: " << train_command_line(data.path, ranked.front().params, settings.scale)
            << "\n";
  if (output) {
    const Model model = fit_model(runner, data, ranked.front().params, settings.scale, 0);
    save_model(*output, model);
    std::cout << "Model of the best setting written to " << *output << ": "
              << count_of(model.templates.size(), "node") << "\n";
  }
  return 0;
}

}  // namespace qircli
