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

// Calls large enough to be split over threads and to group their nodes for
// pruning: clustered nodes, patterns on and beside the nodes' reach,
// duplicate nodes, ratios near their limits, M = 1 and M = 100, every
// verbosity, one to three threads.
PerfCase large_case(Generator &g, std::int32_t M, double ratio, double vigilance, double oflag) {
  PerfCase c;
  c.D = 4.0;
  c.ratio = ratio;
  c.vigilance = vigilance;
  c.alpha = 0.01;
  c.ct_option = g.one_of({0.0, 1.0});
  c.oflag = oflag;
  std::vector<std::vector<double>> centres(8, std::vector<double>(M));
  for (auto &centre : centres)
    for (double &x : centre) x = g.uniform(0.0, 3.0);
  for (std::int32_t k = 0; k < 300; ++k) {
    if (k > 0 && g.pick(6) == 0) {
      c.templates.push_back(c.templates[g.pick(k)]);
    } else {
      std::vector<double> row = g.template_row(M, c.D);
      const auto &centre = centres[g.pick(centres.size())];
      for (std::int32_t i = 0; i < M; ++i) row[i] = centre[i] + g.uniform(-0.2, 0.2);
      c.templates.push_back(row);
    }
    c.nlabels.push_back(static_cast<double>(1 + g.pick(4)));
  }
  for (std::int32_t j = 0; j < 200; ++j) {
    const auto &row = c.templates[g.pick(c.templates.size())];
    std::vector<double> x(row.begin(), row.begin() + M);
    // On the node's reach along its direction (or an axis), at the limit
    // of the vigilance test, or a hair either side of it.
    const double radius = row[2 * M];
    const double reach = (c.D - 2 * radius) + radius - vigilance * c.D;
    const double at = reach * g.one_of({1.0, 1.0 + 1e-15, 1.0 - 1e-15, 1.0 + 1e-9, 0.5, 3.0});
    double length = 0.0;
    for (std::int32_t i = 0; i < M; ++i) length += row[M + i] * row[M + i];
    for (std::int32_t i = 0; i < M; ++i) x[i] += at * (length > 0 ? row[M + i] : i == 0);
    c.patterns.push_back(x);
  }
  return c;
}

TEST(LargeCalls, SplitAndPrunedCallsMatchThePlainSearch) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator generator(99);
  int n = 0;
  for (const char *threads : {"1", "3"}) {
    setenv("QIR_THREADS", threads, 1);
    for (std::int32_t M : {1, 16, 100})
      for (double ratio : {1.0, 0.5, 1e-3, 1e-7})
        for (double vigilance : {0.0, 0.75, 0.95}) {
          const double oflag = generator.one_of({0.0, 1.0, 2.0, 2.0, 3.0});
          const PerfCase c = large_case(generator, M, ratio, vigilance, oflag);
          SCOPED_TRACE("case " + std::to_string(n++) + " threads " + threads);
          const std::vector<ArrayPtr> inputs = host_inputs(c);
          qirtest::expect_same_call(fast.call(1, raw(inputs)), plain.call(1, raw(inputs)));
          if (HasFatalFailure()) break;
        }
  }
  unsetenv("QIR_THREADS");
}

}  // namespace
}  // namespace perf_test
