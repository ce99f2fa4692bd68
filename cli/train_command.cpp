// qir train: one qir_train call on a data file, the result saved as a model.
#include <algorithm>
#include <iostream>
#include <optional>

#include "command_support.h"
#include "qir.h"
#include "commands.h"
#include "output_path.h"

namespace qir::cli {
namespace {

CommandSpec command_spec() {
  CommandSpec s;
  s.usage = "qir train DATA.csv -o MODEL [--init EARLIER_MODEL] [options]";
  s.summary =
      "Learns category nodes from the labelled patterns in DATA.csv with the qir_train\n"
      "module and writes them to the model file MODEL. DATA.csv holds one pattern per\n"
      "row, the class label in the last column.";
  s.options = {{"--output", "-o", "MODEL", "model file to write (required)"},
               {"--init", "", "EARLIER_MODEL",
                "continue from this model's nodes: learn DATA.csv as a further batch"}};
  for (auto &option : training_options()) s.options.push_back(option);
  s.options.push_back(seed_option());
  s.options.push_back({"--oflag", "", "0-4",
                       "module verbosity: 0 silent, 1 summary, 2-4 more detail "
                       "(default " + format_number(training_defaults.oflag) + ")"});
  for (auto &option : data_options(false)) s.options.push_back(option);
  s.options.push_back(modules_option());
  s.details =
      "The defaults were chosen by cross-validation on the bundled data sets (see\n"
      "`qir search` for a setting that suits your data). The parameters and the\n"
      "scaling are stored in the model file and are the defaults of `qir classify`.\n"
      "An ensemble's members train side by side, one per processor core.\n"
      "With --init, every member goes on from its own nodes, and the earlier nodes\n"
      "are kept. The earlier model's scaling (values beyond its range are clipped),\n"
      "classes, voters and seed stay; its training parameters are used unless given.\n"
      "Example:\n"
      "  qir train data/wine.csv -o wine.model\n";
  s.min_positional = s.max_positional = 1;
  return s;
}

}  // namespace

int train_command(const Words &words) {
  const CommandSpec command = command_spec();
  const Arguments args = parse_arguments(command, words);
  if (print_help_if_asked(command, args)) return 0;
  const auto output = args.text("--output");
  if (!output || output->empty()) throw UsageError("-o MODEL is missing: name the model file to write (see --help)");
  const double oflag = args.number("--oflag", training_defaults.oflag);
  const Scaling scale = scaling_wanted(args);
  check_output_path(*output);

  std::optional<Model> earlier;
  if (const auto init = args.text("--init")) {
    for (const char *fixed : {"--voters", "--shuffle", "--max-features", "--bootstrap",
                              "--oob-weights", "--screen", "--seed", "--scale"})
      if (args.has(fixed))
        throw UsageError(std::string(fixed) +
                         " cannot change with --init: the earlier model's setting stays");
    earlier = load_model_argument(*init, command);
  }
  Dataset data = load_dataset(args.positional[0], label_source(args), csv_format(args),
                                    earlier ? earlier->class_names : ClassNames{});
  if (data.features() > static_cast<std::size_t>(max_model_features))
    throw InputError(data.path + ": " + std::to_string(data.features()) +
                     " features; a model holds at most " + std::to_string(max_model_features));
  // A further batch may well hold one class: the model has the others.
  const bool contradictory = !earlier && warn_about_training_data(data);
  // The members' draw of rows is the training's, not the model's: a
  // continued model takes --max-samples as a fit does.
  if (earlier) earlier->voting.max_samples = voting_settings(args).max_samples;
  const VotingSettings voting = earlier ? earlier->voting : voting_settings(args);
  const TrainingParams params =
      training_params(args,
                      {varying_features(data.patterns), member_rows(data.patterns.size(), voting),
                       voting.voters},
                      earlier ? &earlier->params : nullptr);
  const std::size_t rows = data.patterns.size();
  ModuleRunner runner = make_runner(args);
  Model model;
  {
    Progress progress(1.0);
    EnsembleOptions options;
    if (progress.shown())
      options.on_progress = [&progress](const MemberProgress &step) {
        progress.show(training_step(step.member, step.members, step.presentation, step.nodes));
      };
    model = earlier ? continue_model(runner, *earlier, data, params, oflag, options)
                    : fit_model(runner, std::move(data), params, scale, oflag, voting, options);
  }
  save_model(*output, model);
  std::cout << "Model written to " << *output << ": ";
  const std::size_t members = model.members.size();
  if (members > 1)
    std::cout << count_of(members, "member") << " with "
              << count_of(model.total_nodes(), "node") << " in all, ";
  else
    std::cout << count_of(model.total_nodes(), "node") << ", ";
  std::cout << count_of(static_cast<std::size_t>(model.features), "feature") << ", "
            << count_of(static_cast<std::size_t>(model.members.front().list_presentations),
                        "list presentation")
            << (members > 1 ? " (member 1)" : "") << "\n";
  if (earlier)
    std::cout << "Continued from " << *args.text("--init") << ": "
              << count_of(model.total_nodes() - earlier->total_nodes(), "node")
              << " added\n";
  // Judged on the nodes this batch made, as a fit on it alone would be, and
  // on the rows member 1 drew of it.
  const std::size_t made = model.members.front().templates.size() -
                           (earlier ? earlier->members.front().templates.size() : 0);
  if (const auto hint = training_hint(made, member_rows(rows, voting)))
    std::cerr << *hint << "\n";
  double most_presentations = 0;
  for (const Member &member : model.members)
    most_presentations = std::max(most_presentations, member.list_presentations);
  const bool limit_given =
      earlier || args.has(std::string(parameter("max_presentations").flag));
  // A larger limit never lets contradictory patterns converge: their
  // warning said so.
  if (const auto hint =
          presentation_limit_hint(most_presentations, params.max_presentations, limit_given);
      hint && !contradictory)
    std::cerr << *hint << "\n";
  return 0;
}

}  // namespace qir::cli
