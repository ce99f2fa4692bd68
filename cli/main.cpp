// qir: runs the qir_train and qir_perf module files without MATLAB, through
// the embedded host. Dispatches to the subcommands and turns their failures
// into messages and exit statuses.
#include <iostream>
#include <map>

#include "commands.h"
#include "errors.h"

namespace {

using Command = int (*)(const qircli::Words &);

const std::map<std::string, Command> &commands() {
  static const std::map<std::string, Command> table{{"train", qircli::train_command},
                                                    {"classify", qircli::classify_command},
                                                    {"plot", qircli::plot_command},
                                                    {"demo", qircli::demo_command}};
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
    "  plot      draw a 2-D model (and data) as an SVG picture\n"
    "  demo      the circle-in-the-square benchmark end to end, with a picture\n"
    "\n"
    "'qir COMMAND --help' describes each command.\n";

int run(const std::string &name, const qircli::Words &args) {
  try {
    return commands().at(name)(args);
  } catch (const qircli::UsageError &error) {
    std::cerr << "qir " << name << ": " << error.what() << "\n";
    return qircli::exit_usage;
  } catch (const qircli::ModuleError &error) {
    // The module's own words, unchanged.
    const std::string text = error.what();
    std::cerr << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    return qircli::exit_failure;
  } catch (const std::exception &error) {
    std::cerr << "qir " << name << ": " << error.what() << "\n";
    return qircli::exit_failure;
  }
}

}  // namespace

int main(int argc, char **argv) {
  const qircli::Words words(argv + 1, argv + argc);
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    std::cout << overview;
    return words.empty() ? qircli::exit_usage : 0;
  }
  if (commands().count(words[0]) == 0) {
    std::cerr << "qir: unknown command '" << words[0] << "'\n\n" << overview;
    return qircli::exit_usage;
  }
  return run(words[0], qircli::Words(words.begin() + 1, words.end()));
}
