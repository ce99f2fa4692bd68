// The classification module against its plain-search build: many random
// node sets and patterns, every kernel, every verbosity. Labels, console
// text (traces included), the running operation totals of the summaries and
// the host's total must all be identical.
#include "perf_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace perf_test {
namespace {

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
  template <class T>
  T one_of(std::initializer_list<T> values) { return *(values.begin() + pick(values.size())); }

  // Centre, direction (none or unit: the entry point refuses other
  // lengths), radius (mostly ordinary; sometimes 0 or beyond D/2).
  std::vector<double> template_row(std::int32_t M, double D) {
    std::vector<double> row;
    for (std::int32_t i = 0; i < M; ++i) row.push_back(uniform(0.0, 1.0));
    const double length = one_of({0.0, 1.0, 1.0, 1.0});
    std::vector<double> u(M);
    double s = 0.0;
    for (double &x : u) {
      x = uniform(-1.0, 1.0);
      s += x * x;
    }
    for (double x : u) row.push_back(s > 0 ? x * length / std::sqrt(s) : 0.0);
    const std::size_t kind = pick(8);
    row.push_back(kind == 0   ? 0.0
                  : kind == 1 ? D
                              : uniform(0.0, 0.4 * std::sqrt(M + 1.0)));
    return row;
  }

  PerfCase make_case() {
    PerfCase c;
    const std::int32_t M = one_of<std::int32_t>({0, 1, 2, 3, 4, 5, 16, 17});
    const std::int32_t N = one_of<std::int32_t>({0, 1, 2, 3, 4, 5, 7, 8, 9, 31, 64, 65});
    const std::int32_t P = 1 + static_cast<std::int32_t>(pick(25));
    c.D = one_of({4.0, 4.0, 1.0, 0.5, 0.0});
    c.ratio = one_of({0.5, 0.5, 1.0, 0.01});
    c.vigilance = one_of({0.0, 0.3, 0.5, 0.9});
    c.alpha = one_of({0.01, 0.0, 1.0});
    c.ct_option = one_of({0.0, 1.0});
    c.unknown_label = one_of({-1.0, 0.0});
    c.oflag = one_of({0.0, 1.0, 2.0, 3.0});
    for (std::int32_t k = 0; k < N; ++k) {
      // Now and then a copy of an earlier node: equal choice values.
      if (k > 0 && pick(5) == 0)
        c.templates.push_back(c.templates[pick(k)]);
      else
        c.templates.push_back(template_row(M, c.D));
      c.nlabels.push_back(static_cast<double>(1 + pick(4)));
    }
    for (std::int32_t j = 0; j < P; ++j) {
      std::vector<double> x;
      // Half of the patterns near a node, the rest anywhere.
      const bool near = N > 0 && pick(2) == 0;
      const std::size_t k = near ? pick(N) : 0;
      for (std::int32_t i = 0; i < M; ++i)
        x.push_back(near ? c.templates[k][i] + uniform(-0.2, 0.2) : uniform(-0.5, 1.5));
      c.patterns.push_back(x);
    }
    return c;
  }

 private:
  std::mt19937_64 rng_;
};

using PackedSearchTest = qirtest::KernelTest;

TEST_P(PackedSearchTest, RandomCasesMatchThePlainSearch) {
  // One module copy each for the whole sequence: the totals printed by
  // every summary run on across the calls.
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator generator(2024);
  int classified = 0;
  for (int n = 0; n < 300; ++n) {
    const PerfCase c = generator.make_case();
    SCOPED_TRACE("case " + std::to_string(n));
    const std::vector<ArrayPtr> inputs = host_inputs(c);
    const qirhost::CallResult plain_result = plain.call(1, raw(inputs));
    qirtest::expect_same_call(fast.call(1, raw(inputs)), plain_result);
    if (HasFatalFailure()) return;
    if (!plain_result.error) {
      const std::vector<double> labels = qirhost::values_of(plain_result.outputs[0].get());
      for (double label : labels) classified += label != c.unknown_label;
    }
  }
  // The cases must pick winners often, or the decisions go untested.
  EXPECT_GT(classified, 1000);
}

INSTANTIATE_TEST_SUITE_P(Kernels, PackedSearchTest, ::testing::Values("scalar", "sse2", "avx2", "neon"));

}  // namespace
}  // namespace perf_test
