// Memory refused at each request in turn: the call ends with the memory
// message and the module holds on to nothing.
#include "perf_test_support.h"

namespace perf_test {
namespace {

using MemoryTest = PerfModuleTest;

PerfCase three_by_four() {
  PerfCase c;
  c.templates = {{0, 0, 1}, {4, 0, 1}, {8, 0, 1}};
  c.nlabels = {1, 2, 3};
  c.vigilance = 0.5;
  c.patterns = {{0}, {4}, {9}, {30}};
  c.oflag = 1;
  return c;
}

TEST_F(MemoryTest, RequestsAreTheInputCopiesTheLabelsAndTheResult) {
  // Templates and Patterns: row array + the rows' one block each; NLabels:
  // 1; the label array; the result array.
  const qirhost::CallResult result = run(three_by_four());
  ASSERT_FALSE(result.error) << result.error.value_or("");
  EXPECT_EQ(result.allocation_requests, 2u + 1u + 2u + 1u + 1u);
  // The input copies are given back before the call returns.
  EXPECT_EQ(result.blocks_left, 0u);
  EXPECT_EQ(result.arrays_left, 0u);

  // Empty copies are not requested at all: only Patterns (2), the label
  // array and the result remain.
  PerfCase no_nodes;
  no_nodes.patterns = {{1}, {2}};
  std::vector<ArrayPtr> inputs = host_inputs(no_nodes);
  inputs[TEMPLATES] = qirhost::make_matrix(0, 3, {});
  EXPECT_EQ(run(inputs).allocation_requests, 4u);
}

TEST_F(MemoryTest, EveryRefusedRequestEndsWithTheMemoryMessage) {
  const std::size_t requests = run(three_by_four()).allocation_requests;
  for (std::size_t k = 1; k <= requests; ++k) {
    SCOPED_TRACE(k);
    qirhost::CallOptions options;
    options.fail_allocation = k;
    const qirhost::CallResult result = run(three_by_four(), options);
    EXPECT_EQ(result.error.value_or(""), memory_error);
    EXPECT_FALSE(result.outputs[0]);
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_EQ(result.blocks_left, 0u);
    EXPECT_EQ(result.arrays_left, 0u);
    // Only the result array is requested after the pass has reported.
    const bool pass_ran = k == requests;
    EXPECT_EQ(result.console.find("QIR performance phase summary") != std::string::npos,
              pass_ran);
  }
  // The module is still sound afterwards.
  EXPECT_EQ(labels_of(three_by_four()), (std::vector<double>{1, 2, 3, -1}));
}

TEST_F(MemoryTest, RefusalsInASplitCallEndCleanly) {
  // Large enough for worker threads: every request is still made by the
  // calling thread, and a refusal ends the call with every thread joined.
  setenv("QIR_THREADS", "3", 1);
  PerfCase c;
  for (int k = 0; k < 200; ++k) {
    c.templates.push_back({k * 0.01, 0.5 * k, 0.0, 1.0, 0.3});
    c.nlabels.push_back(1 + k % 3);
  }
  for (int j = 0; j < 3000; ++j) c.patterns.push_back({j * 0.001, j * 0.03});
  c.vigilance = 0.9;
  c.oflag = 1;
  const qirhost::CallResult full = run(c);
  ASSERT_FALSE(full.error) << full.error.value_or("");
  for (std::size_t k = 1; k <= full.allocation_requests; ++k) {
    SCOPED_TRACE(k);
    qirhost::CallOptions options;
    options.fail_allocation = k;
    const qirhost::CallResult result = run(c, options);
    EXPECT_EQ(result.error.value_or(""), memory_error);
    EXPECT_EQ(result.blocks_left, 0u);
    EXPECT_EQ(result.arrays_left, 0u);
  }
  // The split call gives what one thread gives (in a fresh copy of the
  // module, whose totals start at zero again).
  setenv("QIR_THREADS", "1", 1);
  perf.reset();
  perf = std::make_unique<qirhost::Module>(QIR_PERF_MODULE_PATH);
  qirtest::expect_same_call(run(c), full);
  unsetenv("QIR_THREADS");
}

}  // namespace
}  // namespace perf_test
