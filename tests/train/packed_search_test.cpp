// The training module against its plain-search build: many random training
// runs, every kernel, every verbosity. Templates, labels, presentation
// counts, console text (traces included), the running operation totals of
// the summaries and the host's total must all be identical.
#include "train_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace train_test {
namespace {

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  template <class T>
  T one_of(std::initializer_list<T> values) {
    return *(values.begin() + pick(values.size()));
  }

  // Overlapping clusters of a few classes; now and then a repeated pattern
  // (equal choice values), sometimes under another label (a conflict that
  // never converges).
  TrainCase make_case() {
    TrainCase c;
    c.patterns.clear();
    c.plabels.clear();
    const std::int32_t M = one_of<std::int32_t>({0, 1, 2, 3, 5, 16, 17});
    const std::int32_t N = static_cast<std::int32_t>(pick(70));
    const std::size_t classes = 1 + pick(3);
    const double spread = one_of({0.05, 0.2, 0.5});
    std::vector<std::vector<double>> centres(2 * classes, std::vector<double>(M));
    for (auto &centre : centres)
      for (double &x : centre) x = uniform(0.0, 1.0);
    for (std::int32_t j = 0; j < N; ++j) {
      if (j > 0 && pick(8) == 0) {
        const std::size_t k = pick(j);
        c.patterns.push_back(c.patterns[k]);
        c.plabels.push_back(pick(5) == 0 ? c.plabels[k] + 1 : c.plabels[k]);
        continue;
      }
      const std::size_t k = pick(centres.size());
      std::vector<double> x(M);
      for (std::int32_t i = 0; i < M; ++i) x[i] = centres[k][i] + uniform(-spread, spread);
      c.patterns.push_back(x);
      c.plabels.push_back(static_cast<double>(1 + k % classes));
    }
    c.scalars = {one_of({1.0, 4.0, 0.5, 0.0}),         // D
                 one_of({0.5, 1.0, 0.2, 0.01}),        // ratio
                 one_of({0.0, 0.3, 0.5, 0.8}),         // vigilance
                 one_of({0.001, 0.01, 0.0, 1.0}),      // alpha
                 one_of({1.0, 1.0, 0.5}),              // learning_rate
                 one_of({1.0, 3.0, 10.0}),             // max_list_presentations
                 one_of({0.0, 1.0}),                   // trim_option
                 one_of({0.0, 1.0}),                   // ct_option
                 one_of({0.0, 1.0, 2.0, 3.0, 4.0})};   // oflag
    return c;
  }

 private:
  std::mt19937_64 rng_;
};

// Runs the case on both modules, expects the same outcome and returns the
// plain one's.
qirhost::CallResult same_on_both(const qirhost::Module &fast, const qirhost::Module &plain,
                                 const TrainCase &c) {
  std::vector<const mxArray *> raw;
  const std::vector<ArrayPtr> inputs = host_inputs(c);
  for (const ArrayPtr &input : inputs) raw.push_back(input.get());
  qirhost::CallResult plain_result = plain.call(3, raw);
  qirtest::expect_same_call(fast.call(3, raw), plain_result);
  return plain_result;
}

using PackedSearchTest = qirtest::KernelTest;

TEST_P(PackedSearchTest, RandomRunsMatchThePlainSearch) {
  // One module copy each for the whole sequence: the totals printed by
  // every summary run on across the calls.
  const qirhost::Module fast(QIR_TRAIN_MODULE_PATH);
  const qirhost::Module plain(QIR_TRAIN_REFERENCE_PATH);
  Generator generator(7);
  int with_mt = 0;
  for (int n = 0; n < 250; ++n) {
    const TrainCase c = generator.make_case();
    SCOPED_TRACE("case " + std::to_string(n));
    const qirhost::CallResult plain_result = same_on_both(fast, plain, c);
    if (HasFatalFailure()) return;
    with_mt += plain_result.console.find("Engage MT") != std::string::npos;
  }
  // The cases must reach match tracking, or half the search goes untested.
  EXPECT_GT(with_mt, 10);
}

INSTANTIATE_TEST_SUITE_P(Kernels, PackedSearchTest, ::testing::Values("scalar", "sse2", "avx2", "avx512", "neon"));

// Runs that make enough nodes to be grouped and pruned: tight clusters far
// apart, repeated patterns, ratios near their limits, M = 1 and M = 50.
TEST(LargeRuns, PrunedRunsMatchThePlainSearch) {
  const qirhost::Module fast(QIR_TRAIN_MODULE_PATH);
  const qirhost::Module plain(QIR_TRAIN_REFERENCE_PATH);
  Generator g(17);
  int n = 0;
  int many_nodes = 0;
  for (std::int32_t M : {1, 16, 50})
    for (double ratio : {1.0, 0.5, 1e-3})
      for (double vigilance : {0.5, 0.8, 0.95}) {
        TrainCase c;
        c.patterns.clear();
        c.plabels.clear();
        std::vector<std::vector<double>> centres(12, std::vector<double>(M));
        for (auto &centre : centres)
          for (double &x : centre) x = g.uniform(0.0, 4.0);
        for (std::int32_t j = 0; j < 300; ++j) {
          const std::size_t k = g.pick(centres.size());
          std::vector<double> x(centres[k]);
          for (double &v : x) v += g.uniform(-0.3, 0.3);
          if (j > 0 && g.pick(10) == 0) x = c.patterns[g.pick(j)];
          c.patterns.push_back(x);
          c.plabels.push_back(static_cast<double>(1 + k % 3));
        }
        c.scalars = {4.0, ratio, vigilance, 0.001, g.one_of({1.0, 0.5}), 4.0, 1.0,
                     g.one_of({0.0, 1.0}), g.one_of({0.0, 1.0, 3.0})};
        SCOPED_TRACE("run " + std::to_string(n++));
        const qirhost::CallResult plain_result = same_on_both(fast, plain, c);
        if (HasFatalFailure()) return;
        if (!plain_result.error)
          many_nodes += qirhost::values_of(plain_result.outputs[1].get()).size() >= 64;
      }
  // Nodes are grouped (and pruned) from 32 on: most runs must get there.
  EXPECT_GT(many_nodes, 12);
}

}  // namespace
}  // namespace train_test
