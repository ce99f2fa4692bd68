// qir: runs the qir_train and qir_perf module files without MATLAB, through
// the embedded host. Dispatches to the subcommands and turns their failures
// into messages and exit statuses.
#include <iostream>
#include <map>
#include <new>

#include "commands.h"
#include "qir.h"
#include "options.h"

namespace {

using Command = int (*)(const qir::cli::Words &);

const std::map<std::string, Command> &commands() {
  static const std::map<std::string, Command> table{{"train", qir::cli::train_command},
                                                    {"classify", qir::cli::classify_command},
                                                    {"plot", qir::cli::plot_command},
                                                    {"demo", qir::cli::demo_command},
                                                    {"cv", qir::cli::cv_command},
                                                    {"search", qir::cli::search_command}};
  return table;
}

const char *overview =
    "Usage: qir COMMAND [arguments]\n"
    "\n"
    "Runs the QIR modules (qir_train, qir_perf) without MATLAB.\n"
    "\n"
    "Commands:\n"
    "  train     learn category nodes from a labelled CSV file, save them as a model\n"
    "  classify  label the patterns of a CSV file with a model; score them\n"
    "  cv        cross-validate a training setting on a labelled CSV file\n"
    "  search    find a good training setting by cross-validation over a grid\n"
    "  plot      draw a model over data, its confusion matrix, votes or progress\n"
    "  demo      the circle-in-the-square benchmark end to end, with a picture\n"
    "\n"
    "'qir help COMMAND' (or 'qir COMMAND --help') describes each command;\n"
    "'qir --version' prints the version.\n";

int run(const std::string &name, const qir::cli::Words &args) {
  try {
    return commands().at(name)(args);
  } catch (const qir::UsageError &error) {
    std::cerr << "qir " << name << ": " << error.what() << "\n";
    return qir::exit_usage;
  } catch (const qir::ModuleError &error) {
    // The module's own words, unchanged.
    const std::string text = error.what();
    std::cerr << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    return qir::exit_failure;
  } catch (const std::bad_alloc &) {
    std::cerr << "qir " << name << ": " << qir::out_of_memory_text << "\n";
    return qir::exit_failure;
  } catch (const std::exception &error) {
    std::cerr << "qir " << name << ": " << error.what() << "\n";
    return qir::exit_failure;
  }
}

std::vector<std::string> command_names() {
  std::vector<std::string> names;
  for (const auto &entry : commands()) names.push_back(entry.first);
  return names;
}

int unknown_command(const std::string &name) {
  std::cerr << "qir: unknown command '" << name << "'";
  if (const auto guess = qir::cli::closest_word(name, command_names()))
    std::cerr << " (did you mean '" << *guess << "'?)";
  std::cerr << "\n\n" << overview;
  return qir::exit_usage;
}

}  // namespace

int main(int argc, char **argv) {
  const qir::cli::Words words(argv + 1, argv + argc);
  if (words.empty() || words[0] == "--help" || words[0] == "-h" ||
      (words[0] == "help" && words.size() == 1)) {
    std::cout << overview;
    return words.empty() ? qir::exit_usage : 0;
  }
  if (words[0] == "--version" || words[0] == "version") {
    std::cout << "qir " << QIR_VERSION << "\n";
    return 0;
  }
  if (words[0] == "help") {
    if (commands().count(words[1]) == 0) return unknown_command(words[1]);
    return run(words[1], {"--help"});
  }
  if (commands().count(words[0]) == 0) return unknown_command(words[0]);
  return run(words[0], qir::cli::Words(words.begin() + 1, words.end()));
}
