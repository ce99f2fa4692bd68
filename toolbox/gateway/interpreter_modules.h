// The modules' seam (lib/modules/modules.h) through the running MATLAB or
// Octave: each call goes to the interpreter's own qir_train or qir_perf, so
// their printing, Ctrl-C and the module the user built stay the user's.
// Calls come back with their error as data (mexCallMATLABWithTrap): the
// library unwinds and releases its objects before the gateway reports it.
#pragma once

#include <string>

#include "../../lib/qir.h"

namespace qir {

class InterpreterModules final : public Modules {
 public:
  Member train_member(PatternMatrix patterns, const std::vector<double> &labels,
                           const TrainingParams &params, double oflag,
                           const Member *start) override;
  std::vector<double> classify_member(const Member &member, int features,
                                      PatternMatrix patterns,
                                      const ClassifyParams &params) override;
  void print(std::string_view text) const override;
  void warn(std::string_view text) const override;
  bool interpreter() const override { return true; }
  Modules &worker(std::size_t) override;
  void set_console(Console console) override { console_ = std::move(console); }
  const Console &console() const override { return console_; }

  // The identifier of the last call's error, as the interpreter gave it.
  const std::string &failure_identifier() const { return failure_identifier_; }

 private:
  Console console_;  // unused: the interpreter prints the modules' text itself
  std::string failure_identifier_;
  friend struct Caller;
};

}  // namespace qir
