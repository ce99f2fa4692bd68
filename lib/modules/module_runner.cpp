#include "module_runner.h"

#include <unistd.h>

#include <cstdlib>
#include <new>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "../base/errors.h"
#include "../model/parameters.h"
#include "../platform/install_location.h"
#include "qirhost/host.h"

namespace qir {
namespace {

using qirhost::ArrayPtr;

ArrayPtr matrix_from_rows(const std::vector<std::vector<double>> &rows, std::size_t columns) {
  // Written straight into the host array: no column-major copy beside it.
  auto array = qirhost::make_array(mxDOUBLE_CLASS, {rows.size(), columns});
  double *values = mxGetPr(array.get());
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < columns; ++c) values[c * rows.size() + r] = rows[r][c];
  return array;
}

std::vector<std::vector<double>> rows_from_matrix(const mxArray *array) {
  const auto dims = qirhost::dims_of(array);
  const auto values = qirhost::values_of(array);
  std::vector<std::vector<double>> rows(dims.at(0), std::vector<double>(dims.at(1)));
  for (std::size_t r = 0; r < dims[0]; ++r)
    for (std::size_t c = 0; c < dims[1]; ++c) rows[r][c] = values[c * dims[0] + r];
  return rows;
}

// Console text appears as the module prints it; warnings go to stderr.
Console echo_console(std::ostream &out) {
  Console console;
  console.print = [&out](std::string_view text) { out << text << std::flush; };
  console.warn = [&out](std::string_view text) {
    out << std::flush;
    std::cerr << "Warning: " << text << (text.empty() || text.back() != '\n' ? "\n" : "")
              << std::flush;
  };
  return console;
}

qirhost::CallOptions call_options(const Console &console, qirhost::InterruptFlag *interrupt) {
  qirhost::CallOptions options;
  options.interrupt = interrupt;
  options.record_flop_reports = false;  // one report per pattern would pile up on large data
  const Console echo = echo_console(std::cout);
  options.on_print = console.print ? console.print : echo.print;
  options.on_warning = console.warn ? console.warn : echo.warn;
  return options;
}

qirhost::CallResult checked(qirhost::CallResult result) {
  std::cout << std::flush;
  if (result.error) throw ModuleError(*result.error);
  return result;
}

// A result slot the module must have filled when it returned normally.
const mxArray *output(const qirhost::CallResult &result, std::size_t slot, const char *module) {
  if (slot >= result.outputs.size() || !result.outputs[slot])
    throw ModuleError(std::string(module) + " returned without result " + std::to_string(slot + 1));
  return result.outputs[slot].get();
}

std::vector<const mxArray *> pointers(const std::vector<ArrayPtr> &arrays) {
  std::vector<const mxArray *> raw;
  for (const auto &array : arrays) raw.push_back(array.get());
  return raw;
}

// A copy of a module file in a folder of its own, for a loaded module that
// shares no state with other loads of the same file. Once loaded, the copy
// is removed where the system allows it (a loaded file stays usable).
std::unique_ptr<qirhost::Module> load_private_copy(const std::string &path) {
  namespace fs = std::filesystem;
  std::string folder_template = (fs::temp_directory_path() / "qir-module-XXXXXX").string();
  if (mkdtemp(folder_template.data()) == nullptr)
    throw std::runtime_error("cannot make a folder for a private copy of the module");
  const fs::path folder(folder_template);
  const fs::path copy = folder / fs::path(path).filename();
  std::error_code ignored;
  try {
    fs::copy_file(path, copy);
    auto module = std::make_unique<qirhost::Module>(copy.string());
    fs::remove_all(folder, ignored);
    return module;
  } catch (...) {
    fs::remove_all(folder, ignored);
    throw;
  }
}

}  // namespace

std::string module_directory(const std::optional<std::string> &option,
                             const std::string &packaged) {
  if (option) return *option;
  if (const char *env = std::getenv("QIR_MODULE_DIR"); env != nullptr && *env != '\0') return env;
  if (!packaged.empty() && access((packaged + "/" + QIR_TRAIN_FILE).c_str(), R_OK) == 0)
    return packaged;
  if (const auto installed = installed_folder(QIR_INSTALLED_MODULE_DIR, QIR_TRAIN_FILE))
    return *installed;
  return QIR_DEFAULT_MODULE_DIR;
}

ModuleRunner::ModuleRunner(std::string directory)
    : directory_(std::move(directory)) {}
ModuleRunner::~ModuleRunner() = default;

void ModuleRunner::echo_to(std::ostream &console) { console_ = echo_console(console); }

ModuleRunner &ModuleRunner::worker(std::size_t k) {
  while (workers_.size() < k) {
    auto runner = std::make_unique<ModuleRunner>(directory_);
    runner->private_copies_ = true;
    workers_.push_back(std::move(runner));
  }
  ModuleRunner &chosen = *workers_[k - 1];
  chosen.console_ = console_;
  chosen.interrupt_ = interrupt_;
  return chosen;
}

void ModuleRunner::print(std::string_view text) const {
  if (console_.print) return console_.print(text);
  echo_console(std::cout).print(text);
}

void ModuleRunner::warn(std::string_view text) const {
  if (console_.warn) return console_.warn(text);
  echo_console(std::cout).warn(text);
}

const qirhost::Module &ModuleRunner::module(std::unique_ptr<qirhost::Module> &slot,
                                            const char *file) {
  if (slot) return *slot;
  const std::string path = directory_ + "/" + file;
  try {
    slot = private_copies_ ? load_private_copy(path) : std::make_unique<qirhost::Module>(path);
  } catch (const std::exception &error) {
    throw InputError(path + ": " + error.what() +
                     "\n(choose the module directory with --modules DIR or QIR_MODULE_DIR)");
  }
  return *slot;
}

Model ModuleRunner::train(const Dataset &data, const TrainingParams &p, double oflag) {
  const auto patterns = matrix_from_rows(data.patterns, data.features());
  const auto labels = qirhost::make_column(data.labels);
  return train(patterns.get(), labels.get(), p, oflag);
}

Model ModuleRunner::train(const mxArray *patterns, const mxArray *labels, const TrainingParams &p,
                          double oflag, const Member *start) {
  const std::size_t features = qirhost::dims_of(patterns).at(1);
  std::vector<ArrayPtr> scalars;
  for (double value : training_inputs(p, oflag)) scalars.push_back(qirhost::make_scalar(value));
  if (start) {
    scalars.push_back(matrix_from_rows(start->templates, 2 * features + 1));
    scalars.push_back(qirhost::make_column(start->labels));
  }
  std::vector<const mxArray *> inputs{patterns, labels};
  for (const auto &scalar : pointers(scalars)) inputs.push_back(scalar);
  const auto result =
      checked(module(train_, QIR_TRAIN_FILE).call(3, inputs, call_options(console_, interrupt_)));

  Model model;
  model.features = static_cast<int>(features);
  model.params = p;
  Member &member = model.members.front();
  member.templates = rows_from_matrix(output(result, 0, QIR_TRAIN_FILE));
  member.labels = qirhost::values_of(output(result, 1, QIR_TRAIN_FILE));
  member.list_presentations = qirhost::values_of(output(result, 2, QIR_TRAIN_FILE)).at(0);
  return model;
}

std::vector<double> ModuleRunner::classify(const Model &model,
                                           const std::vector<std::vector<double>> &patterns,
                                           const ClassifyParams &p) {
  const std::size_t features = patterns.empty() ? 0 : patterns.front().size();
  return classify(model, matrix_from_rows(patterns, features).get(), p);
}

std::vector<double> ModuleRunner::classify(const Model &model, const mxArray *patterns,
                                           const ClassifyParams &p) {
  return classify(model.members.front(), model.features, patterns, p);
}

std::vector<double> ModuleRunner::classify(const Member &member, int features,
                                           const mxArray *patterns, const ClassifyParams &p) {
  std::vector<ArrayPtr> inputs;
  inputs.push_back(matrix_from_rows(member.templates, 2 * static_cast<std::size_t>(features) + 1));
  inputs.push_back(qirhost::make_column(member.labels));
  for (double value : {p.D, p.ratio, p.vigilance, p.alpha, p.ct})
    inputs.push_back(qirhost::make_scalar(value));
  inputs.push_back(nullptr);  // the caller's patterns, placed below
  inputs.push_back(qirhost::make_scalar(p.unknown_label));
  inputs.push_back(qirhost::make_scalar(p.oflag));
  auto raw = pointers(inputs);
  raw[7] = patterns;
  const auto result = checked(module(perf_, QIR_PERF_FILE).call(1, raw, call_options(console_, interrupt_)));
  last_call_flops_ = result.flops;
  return qirhost::values_of(output(result, 0, QIR_PERF_FILE));
}

namespace {

// The modules read the caller's patterns in place.
ArrayPtr host_patterns(PatternMatrix patterns) {
  return qirhost::borrow_matrix(patterns.rows, patterns.columns, patterns.values);
}

}  // namespace

Member ModuleRunner::train_member(PatternMatrix patterns, const std::vector<double> &labels,
                                  const TrainingParams &params, double oflag,
                                  const Member *start) {
  const auto x = host_patterns(patterns);
  const auto y = qirhost::make_column(labels);
  return std::move(train(x.get(), y.get(), params, oflag, start).members.front());
}

std::vector<double> ModuleRunner::classify_member(const Member &member, int features,
                                                  PatternMatrix patterns,
                                                  const ClassifyParams &params) {
  const auto x = host_patterns(patterns);
  return classify(member, features, x.get(), params);
}

}  // namespace qir
