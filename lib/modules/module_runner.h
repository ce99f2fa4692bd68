// The modules' seam (modules.h) over the embedded host: runs the two module
// files, builds their input arrays, echoes their console text as they
// print, and turns their results (or their error) into plain C++ values.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../data/dataset.h"
#include "mex.h"
#include "../model/model_file.h"
#include "modules.h"

namespace qirhost {
class Module;
class InterruptFlag;
}

namespace qir {

// Module directory: the --modules option, else $QIR_MODULE_DIR, else
// `packaged` when it holds the module files (the copy a package carries
// with it, as the Python package does), else those installed beside the
// running program, else the build tree's module directory.
std::string module_directory(const std::optional<std::string> &option,
                             const std::string &packaged = {});

class ModuleRunner final : public Modules {
 public:
  explicit ModuleRunner(std::string directory);
  ~ModuleRunner() override;
  ModuleRunner(const ModuleRunner &) = delete;
  ModuleRunner &operator=(const ModuleRunner &) = delete;

  // Where the modules' console text goes (standard output by default).
  void echo_to(std::ostream &console);

  // One qir_train call: a model of one member. Throws ModuleError with the
  // module's message when the module refuses the call, InputError when the
  // module can't be loaded.
  Model train(const Dataset &data, const TrainingParams &params, double oflag);
  // One qir_perf call with the model's first member: one label per pattern.
  std::vector<double> classify(const Model &model, const std::vector<std::vector<double>> &patterns,
                               const ClassifyParams &params);

  // The same calls with the patterns (and labels) already in host arrays,
  // for front ends that fill them straight from their own storage. With
  // `start`, the training call continues from that member's nodes
  // (qir_train's optional Templates and NLabels); the result holds them and
  // the nodes made.
  Model train(const mxArray *patterns, const mxArray *labels, const TrainingParams &params,
              double oflag, const Member *start = nullptr);
  std::vector<double> classify(const Model &model, const mxArray *patterns,
                               const ClassifyParams &params);
  // One qir_perf call with one member's nodes (of a model of M features).
  std::vector<double> classify(const Member &member, int features, const mxArray *patterns,
                               const ClassifyParams &params);

  // The k-th (k >= 1) runner beside this one, kept for later calls: it
  // loads its own private copies of the module files. The modules keep
  // module-wide state, so calls into one loaded module file take turns;
  // calls through a private copy run beside this runner's.
  ModuleRunner &worker(std::size_t k) override;

  // The seam's calls.
  Member train_member(PatternMatrix patterns, const std::vector<double> &labels,
                      const TrainingParams &params, double oflag, const Member *start) override;
  std::vector<double> classify_member(const Member &member, int features,
                                      PatternMatrix patterns,
                                      const ClassifyParams &params) override;

  // Text sent where the modules' console text and warnings go.
  void print(std::string_view text) const override;
  void warn(std::string_view text) const override;
  const Console &console() const override { return console_; }
  // The host's operation count of this runner's last qir_perf call (every
  // mexAddFlops amount it made).
  std::int64_t last_call_flops() const { return last_call_flops_; }

  void set_console(Console console) override { console_ = std::move(console); }
  // A flag that ends a running call with "Interrupted." once requested
  // (set from a signal handler, for instance); none by default.
  void set_interrupt(qirhost::InterruptFlag *flag) { interrupt_ = flag; }

 private:
  const qirhost::Module &module(std::unique_ptr<qirhost::Module> &slot, const char *file);
  std::string directory_;
  bool private_copies_ = false;
  Console console_;
  qirhost::InterruptFlag *interrupt_ = nullptr;
  std::int64_t last_call_flops_ = 0;
  std::unique_ptr<qirhost::Module> train_;
  std::unique_ptr<qirhost::Module> perf_;
  std::vector<std::unique_ptr<ModuleRunner>> workers_;
};

}  // namespace qir
