// Shared by the training tests: a freshly loaded module per test, the eleven
// inputs as host arrays, and console text with the clock taken out.
#pragma once

#include "qirhost/host.h"
#include "../support/module_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using qirtest::steady;

namespace train_test {

using qirhost::ArrayPtr;
using Rows = std::vector<std::vector<double>>;

enum Input { PATTERNS, PLABELS, D, RATIO, VIGILANCE, ALPHA, LEARNING_RATE, MAX_LIST, TRIM,
             CT, OFLAG };

// A call's eleven inputs as plain values; the defaults are the worked
// example's: 0 (label 1) and 0.1 (label 2), D 1, alpha 0.001.
struct TrainCase {
  Rows patterns{{0.0}, {0.1}};
  std::vector<double> plabels{1, 2};
  std::vector<double> scalars{1.0, 1.0, 0.0, 0.001, 1.0, 10, 0, 0, 0};  // D ... oflag
};

inline std::vector<ArrayPtr> host_inputs(const TrainCase &c) {
  std::vector<ArrayPtr> inputs;
  inputs.push_back(qirhost::make_rows(c.patterns));
  inputs.push_back(qirhost::make_column(c.plabels));
  for (double value : c.scalars) inputs.push_back(qirhost::make_scalar(value));
  return inputs;
}

inline TrainCase with(TrainCase c, Input input, double value) {
  c.scalars[input - D] = value;
  return c;
}


class TrainModuleTest : public ::testing::Test {
 protected:
  std::unique_ptr<qirhost::Module> module = std::make_unique<qirhost::Module>(QIR_TRAIN_MODULE_PATH);

  // Unloads the module first, so the new copy's totals start at zero.
  void reload() {
    module.reset();
    module = std::make_unique<qirhost::Module>(QIR_TRAIN_MODULE_PATH);
  }
  qirhost::CallResult run(const std::vector<ArrayPtr> &inputs, int nlhs = 3,
                          const qirhost::CallOptions &options = {}) const {
    std::vector<const mxArray *> raw;
    for (const ArrayPtr &input : inputs) raw.push_back(input.get());
    return module->call(nlhs, raw, options);
  }
  qirhost::CallResult run(const TrainCase &c, const qirhost::CallOptions &options = {}) const {
    return run(host_inputs(c), 3, options);
  }
  // A call that must succeed.
  qirhost::CallResult trained(const TrainCase &c) const {
    qirhost::CallResult result = run(c);
    EXPECT_FALSE(result.error) << *result.error;
    result.console = steady(result.console);
    return result;
  }
};

}  // namespace train_test
