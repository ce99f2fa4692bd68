// Shared by the classification tests: a freshly loaded module per test, the
// ten inputs as host arrays, and console text with the clock taken out.
#pragma once

#include "qirhost/host.h"
#include "../support/module_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using qirtest::steady;

namespace perf_test {

using qirhost::ArrayPtr;
using Rows = std::vector<std::vector<double>>;

constexpr const char *memory_error = "QIR_PERF: Not enough memory available; unable to run!";

enum Input { TEMPLATES, NLABELS, D, RATIO, VIGILANCE, ALPHA, CT_OPTION, PATTERNS,
             UNKNOWN_LABEL, OFLAG };

// A call's ten inputs, as plain values.
struct PerfCase {
  Rows templates;
  std::vector<double> nlabels;
  double D = 8.0;
  double ratio = 1.0;
  double vigilance = 0.0;
  double alpha = 0.0;
  double ct_option = 0.0;
  Rows patterns;
  double unknown_label = -1.0;
  double oflag = 0.0;
};

// Host arrays for the inputs; any of them may be replaced before the call.
inline std::vector<ArrayPtr> host_inputs(const PerfCase &c) {
  std::vector<ArrayPtr> inputs;
  inputs.push_back(qirhost::make_rows(c.templates));
  inputs.push_back(qirhost::make_column(c.nlabels));
  for (double value : {c.D, c.ratio, c.vigilance, c.alpha, c.ct_option})
    inputs.push_back(qirhost::make_scalar(value));
  inputs.push_back(qirhost::make_rows(c.patterns));
  inputs.push_back(qirhost::make_scalar(c.unknown_label));
  inputs.push_back(qirhost::make_scalar(c.oflag));
  return inputs;
}

inline std::vector<const mxArray *> raw(const std::vector<ArrayPtr> &inputs) {
  std::vector<const mxArray *> pointers;
  for (const ArrayPtr &input : inputs) pointers.push_back(input.get());
  return pointers;
}


// Each test loads its own copy of the module, so its operation totals start
// at zero.
class PerfModuleTest : public ::testing::Test {
 protected:
  std::unique_ptr<qirhost::Module> perf = std::make_unique<qirhost::Module>(QIR_PERF_MODULE_PATH);

  qirhost::CallResult run(const std::vector<ArrayPtr> &inputs, int nlhs = 1,
                          const qirhost::CallOptions &options = {}) const {
    return perf->call(nlhs, raw(inputs), options);
  }
  qirhost::CallResult run(const PerfCase &c, const qirhost::CallOptions &options = {}) const {
    return run(host_inputs(c), 1, options);
  }
  // The labels of a call that must succeed.
  std::vector<double> labels_of(const PerfCase &c) const {
    qirhost::CallResult result = run(c);
    EXPECT_FALSE(result.error) << result.error.value_or("");
    if (result.outputs.empty() || !result.outputs[0]) return {};
    return qirhost::values_of(result.outputs[0].get());
  }
};

}  // namespace perf_test
