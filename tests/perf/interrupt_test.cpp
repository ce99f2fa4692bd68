// Stopping a call from outside, as Ctrl-C does in MATLAB or Octave: the
// module ends the call between patterns with its "Interrupted." error,
// releases everything, and the next call is as if nothing had happened.
// Also: two threads calling one module are served one after the other.
#include "perf_test_support.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace perf_test {
namespace {

using Clock = std::chrono::steady_clock;

// Every pattern twice, under two labels: training never converges, and
// each presentation adds nodes, so the run lasts as long as it is allowed.
std::vector<ArrayPtr> endless_training(std::size_t pairs, double max_presentations) {
  Rows patterns;
  std::vector<double> labels;
  for (int label : {1, 2})
    for (std::size_t k = 0; k < pairs; ++k) {
      patterns.push_back({0.001 * k, 0.5});
      labels.push_back(label);
    }
  std::vector<ArrayPtr> inputs;
  inputs.push_back(qirhost::make_rows(patterns));
  inputs.push_back(qirhost::make_column(labels));
  for (double value : {1.0, 0.5, 0.0, 0.001, 1.0, max_presentations, 0.0, 0.0, 2.0})
    inputs.push_back(qirhost::make_scalar(value));
  return inputs;
}

// Many nodes against many patterns: a long classification.
PerfCase long_classification() {
  PerfCase c;
  for (int k = 0; k < 1000; ++k) {
    c.templates.push_back({0.001 * k, 0.5, 0, 0, 0.01});
    c.nlabels.push_back(1 + k % 3);
  }
  for (int j = 0; j < 200000; ++j) c.patterns.push_back({0.000005 * j, 0.5});
  c.D = 1;
  return c;
}

qirhost::CallResult train_call(const qirhost::Module &module, const std::vector<ArrayPtr> &inputs,
                               const qirhost::CallOptions &options = {}) {
  return module.call(3, raw(inputs), options);
}

TEST(InterruptTest, TrainingStopsBetweenPatternsWhenACallbackAsks) {
  const qirhost::Module train(QIR_TRAIN_MODULE_PATH);
  const std::vector<ArrayPtr> small = endless_training(20, 4);
  const qirhost::CallResult before = train_call(train, small);
  ASSERT_FALSE(before.error);

  qirhost::InterruptFlag stop;
  qirhost::CallOptions options;
  options.interrupt = &stop;
  options.on_print = [&stop](std::string_view text) {
    if (text.find("List presentation #3:") != std::string_view::npos) stop.request();
  };
  const qirhost::CallResult stopped = train_call(train, endless_training(300, 1e6), options);
  ASSERT_TRUE(stopped.error);
  EXPECT_EQ(*stopped.error, "QIR_TRAIN: Interrupted.");
  for (const ArrayPtr &output : stopped.outputs) EXPECT_FALSE(output);
  EXPECT_EQ(stopped.console.find("List presentation #5:"), std::string::npos);
  EXPECT_EQ(stopped.arrays_left, 0u);

  // The request stands until its maker clears it; then the next call runs
  // to its end, with the results of the first.
  ASSERT_TRUE(stop.requested());
  options.on_print = nullptr;
  stop.clear();
  const qirhost::CallResult after = train_call(train, small, options);
  ASSERT_FALSE(after.error) << *after.error;
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_EQ(qirhost::values_of(after.outputs[k].get()),
              qirhost::values_of(before.outputs[k].get()));
}

TEST(InterruptTest, ClassificationStopsWhenAnotherThreadAsks) {
  const qirhost::Module perf(QIR_PERF_MODULE_PATH);
  qirhost::InterruptFlag stop;
  qirhost::CallOptions options;
  options.interrupt = &stop;
  // The header line comes once the nodes are made, just before the first
  // pattern: from then on the other thread asks the call to stop.
  // The last line the pass printed tells when it stopped, apart from the
  // host reclaiming the call's 200,000 pattern rows afterwards.
  std::atomic<bool> started{false};
  Clock::time_point last_line{};
  options.on_print = [&started, &last_line](std::string_view text) {
    if (text.find("List presentation of") != std::string_view::npos) started = true;
    last_line = Clock::now();
  };
  std::atomic<bool> done{false};
  Clock::time_point asked{};
  std::thread requester([&] {
    while (!started.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    asked = Clock::now();
    stop.request();
    while (!done.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  });
  std::vector<ArrayPtr> verbose = host_inputs(long_classification());
  verbose[OFLAG] = qirhost::make_scalar(2);
  const qirhost::CallResult stopped = perf.call(1, raw(verbose), options);
  done = true;
  requester.join();
  ASSERT_TRUE(stopped.error);
  EXPECT_EQ(*stopped.error, "QIR_PERF: Interrupted.");
  EXPECT_FALSE(stopped.outputs[0]);
  // Split calls poll between chunks of patterns: a chunk takes a few
  // milliseconds natively, a few hundred under sanitizers or an emulator.
  EXPECT_LT(last_line - asked, std::chrono::milliseconds(3000));
  EXPECT_EQ(stopped.console.find("Pattern #200000 "), std::string::npos);

  PerfCase small = long_classification();
  small.patterns.resize(50);
  const qirhost::Module fresh(QIR_PERF_MODULE_PATH);
  const qirhost::CallResult expected = fresh.call(1, raw(host_inputs(small)));
  options.on_print = nullptr;
  stop.clear();
  const qirhost::CallResult again = perf.call(1, raw(host_inputs(small)), options);
  ASSERT_FALSE(again.error) << *again.error;
  EXPECT_EQ(qirhost::values_of(again.outputs[0].get()),
            qirhost::values_of(expected.outputs[0].get()));
}

// Without the module's lock the second thread's call would overwrite the
// module-wide parameters and counters under the first (a heap overflow
// under ASan). With it, each thread gets exactly the sequential results,
// also when each thread has its own Module object of the one file.
TEST(OverlappingCallsTest, TwoThreadsCallingOneModuleFileGetSequentialResults) {
  const qirhost::Module train(QIR_TRAIN_MODULE_PATH);
  const qirhost::Module same_file(QIR_TRAIN_MODULE_PATH);
  const std::vector<ArrayPtr> narrow = endless_training(40, 6);
  Rows wide_patterns;
  std::vector<double> wide_labels;
  for (int k = 0; k < 60; ++k) {
    wide_patterns.push_back({0.01 * k, 1 - 0.01 * k, 0.5, 0.02 * (k % 7), 0.3});
    wide_labels.push_back(1 + k % 2);
  }
  std::vector<ArrayPtr> wide = endless_training(1, 6);
  wide[0] = qirhost::make_rows(wide_patterns);
  wide[1] = qirhost::make_column(wide_labels);

  const qirhost::Module reference(QIR_TRAIN_MODULE_PATH);
  const std::vector<double> narrow_nodes =
      qirhost::values_of(train_call(reference, narrow).outputs[0].get());
  const std::vector<double> wide_nodes =
      qirhost::values_of(train_call(reference, wide).outputs[0].get());

  std::atomic<int> mismatches{0};
  auto worker = [&](const qirhost::Module &module, const std::vector<ArrayPtr> &inputs,
                    const std::vector<double> &expected) {
    for (int round = 0; round < 15; ++round) {
      const qirhost::CallResult result = train_call(module, inputs);
      if (result.error || qirhost::values_of(result.outputs[0].get()) != expected) ++mismatches;
    }
  };
  std::thread first(worker, std::cref(train), std::cref(narrow), std::cref(narrow_nodes));
  std::thread second(worker, std::cref(same_file), std::cref(wide), std::cref(wide_nodes));
  first.join();
  second.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace perf_test
