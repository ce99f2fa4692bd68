// The two modules behind one seam: "train one member" (one qir_train call)
// and "classify with one member" (one qir_perf call), on plain C++ data.
// The library's flows (fit, continue, predict, cross-validation, search)
// run over this interface alone, so every front end runs the same flows:
// the command and Python through the embedded host (ModuleRunner), the
// toolbox through the running MATLAB or Octave, whose own qir_train and
// qir_perf its gateway calls back.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "../model/model_file.h"

namespace qir {

// Patterns as the modules take them: N x M, column-major, borrowed from
// the caller, who keeps them alive for the call.
struct PatternMatrix {
  const double *values = nullptr;
  std::size_t rows = 0;
  std::size_t columns = 0;
};

// Patterns a flow makes (scaled, reordered), column-major.
struct OwnedPatterns {
  std::vector<double> values;
  std::size_t rows = 0;
  std::size_t columns = 0;
  PatternMatrix view() const { return {values.data(), rows, columns}; }
};

// Row-major rows (one vector per pattern, `columns` values each) as the
// modules take them.
OwnedPatterns column_major(const std::vector<std::vector<double>> &rows, std::size_t columns);

// The given rows of `matrix`, in the given order (a subset, a shuffle).
OwnedPatterns rows_of(PatternMatrix matrix, const std::vector<std::size_t> &rows);
// The given columns of `matrix` (a member's features), in their order.
OwnedPatterns columns_of(PatternMatrix matrix, const std::vector<std::size_t> &columns);

// Classification arguments besides the member's nodes and the patterns.
struct ClassifyParams {
  double D = 0;
  double ratio = 0;
  double vigilance = 0;
  double alpha = 0;
  double ct = 0;
  double unknown_label = 0;
  double oflag = 1;
};

// Where the modules' console text and warnings go. Left empty, text is
// echoed to stdout as the module prints it and warnings to stderr.
struct Console {
  std::function<void(std::string_view)> print;
  std::function<void(std::string_view)> warn;
};

class Modules {
 public:
  virtual ~Modules() = default;

  // One qir_train call on `patterns` and their `labels` (one per row); with
  // `start`, the call goes on from those nodes (the module's optional
  // Templates and NLabels) and the result holds them first. Throws
  // ModuleError with the module's message when the module refuses.
  virtual Member train_member(PatternMatrix patterns, const std::vector<double> &labels,
                              const TrainingParams &params, double oflag,
                              const Member *start) = 0;

  // One qir_perf call with one member's nodes: one label per pattern.
  virtual std::vector<double> classify_member(const Member &member, int features,
                                              PatternMatrix patterns,
                                              const ClassifyParams &params) = 0;

  // Text for the place where the modules print (headings, notes).
  virtual void print(std::string_view text) const = 0;
  virtual void warn(std::string_view text) const = 0;

  // True when the calls go to a running interpreter: one at a time, on the
  // calling thread, their text printed as it comes. Otherwise (the
  // embedded host) calls may run beside each other through worker(k), and
  // set_console catches a call's text so that members show theirs in order.
  virtual bool interpreter() const { return false; }
  virtual Modules &worker(std::size_t k) = 0;
  virtual void set_console(Console console) = 0;
  virtual const Console &console() const = 0;
};

}  // namespace qir
