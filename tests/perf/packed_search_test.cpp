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

// Split calls over enough nodes to be decided lane by lane and several
// patterns per pass: pattern counts that leave a partial batch and a
// partial grain, ties, and nodes of no free size (NaN choice values with
// alpha 0) met inside a batch.
TEST_P(PackedSearchTest, PatternBatchesMatchThePlainSearch) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator g(77);
  setenv("QIR_THREADS", "2", 1);
  int n = 0;
  for (std::int32_t M : {3, 30})
    for (double alpha : {0.01, 0.0}) {
      PerfCase c;
      c.D = 4.0;
      c.ratio = 0.5;
      c.vigilance = 0.0;
      c.alpha = alpha;
      c.ct_option = g.one_of({0.0, 1.0});
      c.oflag = g.one_of({0.0, 1.0, 2.0});
      for (std::int32_t k = 0; k < 40; ++k) {
        c.templates.push_back(k % 7 == 3 ? c.templates[k - 2] : g.template_row(M, c.D));
        if (k % 13 == 5) c.templates.back()[2 * M] = c.D / 2;
        c.nlabels.push_back(static_cast<double>(1 + g.pick(4)));
      }
      // Enough node features for two threads; a multiple of neither 4 nor 16.
      const std::int32_t P = (1 << 20) / (40 * (M + 4)) / 16 * 16 + 16 + 7;
      for (std::int32_t j = 0; j < P; ++j) {
        const auto &row = c.templates[g.pick(c.templates.size())];
        std::vector<double> x(row.begin(), row.begin() + M);
        for (double &v : x) v += g.uniform(-0.1, 0.1);
        c.patterns.push_back(x);
      }
      SCOPED_TRACE("case " + std::to_string(n++));
      const std::vector<ArrayPtr> inputs = host_inputs(c);
      // Two threads, and the calling thread alone, which decides a few
      // patterns at a time too (the printed totals run on from call to call
      // in both modules).
      for (const char *threads : {"2", "1"}) {
        SCOPED_TRACE(std::string("threads ") + threads);
        setenv("QIR_THREADS", threads, 1);
        const qirhost::CallResult result = fast.call(1, raw(inputs));
        ASSERT_FALSE(result.error) << *result.error;
        qirtest::expect_same_call(result, plain.call(1, raw(inputs)));
      }
      if (HasFatalFailure()) break;
    }
  unsetenv("QIR_THREADS");
}

INSTANTIATE_TEST_SUITE_P(Kernels, PackedSearchTest,
                         ::testing::Values("scalar", "sse2", "avx2", "avx512", "neon"));
// Calls large enough for groups left out by their reach or their choice
// bounds, on geometry made to trip them: copies of nodes (equal
// choice values), patterns on a node's surface (at the radius plus the
// inside tolerance, and one unit in the last place either side), on the
// limits of the vigilance and choice-value tests, directions that are not
// of unit length (NaN distances), tiny ratios, far-apart clusters of small
// nodes (whole groups left out), M = 1 and M = 100. Every kernel, one and
// two threads, against the plain build and against the packed build with
// the choice skipping off.
PerfCase adversarial_case(Generator &g, std::int32_t M, double D, double ratio, double vigilance,
                          double ct_option) {
  PerfCase c;
  c.D = D;
  c.ratio = ratio;
  c.vigilance = vigilance;
  c.alpha = g.one_of({0.01, 0.1, 0.0});
  c.ct_option = ct_option;
  c.oflag = g.one_of({0.0, 1.0, 2.0});
  const std::int32_t clusters = static_cast<std::int32_t>(2 + g.pick(4));
  std::vector<std::vector<double>> centres(clusters, std::vector<double>(M));
  for (std::int32_t k = 0; k < clusters; ++k)
    for (std::int32_t i = 0; i < M; ++i) centres[k][i] = (i == 0 ? 10.0 * k : 0.0) + g.uniform(0.0, 1.0);
  const std::int32_t N = static_cast<std::int32_t>(40 + g.pick(120));
  for (std::int32_t k = 0; k < N; ++k) {
    if (k > 0 && g.pick(5) == 0) {
      c.templates.push_back(c.templates[g.pick(k)]);
    } else {
      std::vector<double> row = g.template_row(M, D);
      const auto &centre = centres[g.pick(centres.size())];
      for (std::int32_t i = 0; i < M; ++i) row[i] = centre[i] + g.uniform(-0.3, 0.3);
      const std::size_t shape = g.pick(10);
      // A direction as long as the module accepts (1e-6 over): with a tiny
      // ratio its radicand may go negative (NaN distances).
      if (shape == 0)
        for (std::int32_t i = 0; i < M; ++i) row[M + i] *= 1.0 + 9e-7;
      row[2 * M] = shape == 1 ? 0.0 : g.uniform(0.0, 0.6);
      c.templates.push_back(row);
    }
    c.nlabels.push_back(static_cast<double>(1 + g.pick(5)));
  }
  const double tu = D / (c.alpha + 2 * D);
  for (std::int32_t j = 0; j < 300; ++j) {
    const auto &row = c.templates[g.pick(c.templates.size())];
    std::vector<double> x(row.begin(), row.begin() + M);
    const double r = row[2 * M];
    // On the surface, on the VT limit (fit = vigilance D) or the CT limit
    // (CFV = Tu), a hair either side, or anywhere near.
    const double limit = g.one_of({r + 1e-8, (D - r) - vigilance * D,
                                   (D - r) - tu * (D - 2 * r + c.alpha), r, g.uniform(0.0, 2.0)});
    const double at = limit * g.one_of({1.0, 1.0, 1.0 + 1e-16, 1.0 - 1e-16, 1.0 + 1e-12});
    double length = 0.0;
    for (std::int32_t i = 0; i < M; ++i) length += row[M + i] * row[M + i];
    const double scale = length > 0 ? 1.0 / std::sqrt(length) : 0.0;
    for (std::int32_t i = 0; i < M; ++i) x[i] += at * (length > 0 ? row[M + i] * scale : i == 0);
    c.patterns.push_back(x);
  }
  return c;
}

using ChoiceSkippingTest = qirtest::KernelTest;

TEST_P(ChoiceSkippingTest, AdversarialGeometryMatchesThePlainSearch) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator generator(31);
  int n = 0, refused = 0;
  for (const char *threads : {"1", "2"}) {
    setenv("QIR_THREADS", threads, 1);
    for (std::int32_t M : {1, 16, 100})
      for (double ratio : {1.0, 0.75, 1e-3})
        for (double vigilance : {0.0, 0.5, 0.9}) {
          const double D = generator.one_of({4.0, 40.0, std::sqrt(static_cast<double>(M))});
          const PerfCase c = adversarial_case(generator, M, D, ratio, vigilance,
                                              generator.one_of({0.0, 1.0}));
          SCOPED_TRACE("case " + std::to_string(n++) + " threads " + threads);
          const std::vector<ArrayPtr> inputs = host_inputs(c);
          const qirhost::CallResult expected = plain.call(1, raw(inputs));
          refused += expected.error.has_value();
          qirtest::expect_same_call(fast.call(1, raw(inputs)), expected);
          // The plain module called again: both keep the same running totals.
          setenv("QIR_CHOICE_BOUNDS", "0", 1);
          qirtest::expect_same_call(fast.call(1, raw(inputs)), plain.call(1, raw(inputs)));
          unsetenv("QIR_CHOICE_BOUNDS");
          if (HasFatalFailure()) break;
        }
  }
  unsetenv("QIR_THREADS");
  // A refused call compares only the message: the geometry must get through.
  EXPECT_EQ(refused, 0);
}

// Nodes as large as D allows leave no free size: with alpha 0, a pattern
// inside one gets a CFV of 0/0, NaN, which changes the winner whenever it
// comes in node order; the decision, made in slot order, must agree.
TEST_P(ChoiceSkippingTest, NaNChoiceValuesPickTheWinnerOfTheNodeOrder) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator g(57);
  std::int64_t nan_nodes = 0;
  for (int k = 0; k < 12; ++k) {
    PerfCase c;
    const std::int32_t M = 2;
    c.D = 4.0;
    c.ratio = 1.0;
    c.vigilance = 0.0;
    c.alpha = 0.0;
    c.ct_option = 0.0;
    c.oflag = g.one_of({0.0, 1.0});
    for (std::int32_t i = 0; i < 150; ++i) {
      std::vector<double> row = g.template_row(M, c.D);
      row[0] = g.uniform(0.0, 3.0);
      row[1] = g.uniform(0.0, 3.0);
      const bool whole = g.pick(4) == 0;
      nan_nodes += whole;
      row[2 * M] = whole ? c.D / 2 : g.uniform(0.0, 0.5);
      c.templates.push_back(row);
      c.nlabels.push_back(static_cast<double>(1 + g.pick(4)));
    }
    for (std::int32_t j = 0; j < 300; ++j)
      c.patterns.push_back({g.uniform(0.0, 3.0), g.uniform(0.0, 3.0)});
    SCOPED_TRACE("case " + std::to_string(k));
    const std::vector<ArrayPtr> inputs = host_inputs(c);
    qirtest::expect_same_call(fast.call(1, raw(inputs)), plain.call(1, raw(inputs)));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(nan_nodes, 100);
}

// Silent classification in node order decides most registers of nodes
// from their radicands (lean_cut.h): the same adversarial geometry, CT
// off, long enough calls for the thresholds, nodes without free size and
// alpha 0 (NaN choice values), against the plain build and against the
// packed build with the thresholds off.
TEST_P(ChoiceSkippingTest, LeanDecisionsMatchThePlainSearch) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator generator(43);
  setenv("QIR_CHOICE_BOUNDS", "0", 1);
  int n = 0;
  for (std::int32_t M : {1, 16, 100})
    for (double ratio : {1.0, 0.75, 1e-3})
      for (double vigilance : {0.0, 0.0, 0.25}) {
        const double D = generator.one_of({4.0, std::sqrt(static_cast<double>(M))});
        PerfCase c = adversarial_case(generator, M, D, ratio, vigilance, 0.0);
        // Unit directions only (the module refuses others), and the
        // clusters moved onto one another (exactly, for nodes and the
        // patterns made on them), so that no group is left out.
        for (auto &row : c.templates) {
          double length = 0.0;
          for (std::int32_t i = 0; i < M; ++i) length += row[M + i] * row[M + i];
          for (std::int32_t i = 0; i < M && length > 0; ++i) row[M + i] /= std::sqrt(length);
          row[0] -= 10.0 * std::round(row[0] / 10.0);
        }
        for (auto &x : c.patterns) x[0] -= 10.0 * std::round(x[0] / 10.0);
        if (n % 3 == 0) {
          c.alpha = 0.0;
          for (std::size_t k = 0; k < c.templates.size(); k += 4) c.templates[k][2 * M] = D / 2;
        }
        SCOPED_TRACE("case " + std::to_string(n++));
        const std::vector<ArrayPtr> inputs = host_inputs(c);
        const qirhost::CallResult expected = plain.call(1, raw(inputs));
        ASSERT_FALSE(expected.error) << expected.error.value_or("") << expected.console;
        qirtest::expect_same_call(fast.call(1, raw(inputs)), expected);
        // Both modules' running totals advance by the same call.
        setenv("QIR_LEAN_CUTS", "0", 1);
        qirtest::expect_same_call(fast.call(1, raw(inputs)), plain.call(1, raw(inputs)));
        unsetenv("QIR_LEAN_CUTS");
        if (HasFatalFailure()) break;
      }
  unsetenv("QIR_CHOICE_BOUNDS");
}

INSTANTIATE_TEST_SUITE_P(Kernels, ChoiceSkippingTest,
                         ::testing::Values("scalar", "sse2", "avx2", "avx512", "neon"));


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


// A model classified block by block orders its nodes for grouping once;
// other nodes of the same number, and the same nodes after a call too
// small to group them, are ordered afresh. In turn against the plain
// build: labels, text and totals agree at every call.
TEST(KeptNodes, GroupedBlocksInTurnMatchThePlainSearch) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator g(31);
  const PerfCase a = large_case(g, 16, 0.5, 0.75, 1.0);
  PerfCase b = large_case(g, 16, 0.5, 0.75, 1.0);
  ASSERT_EQ(a.templates.size(), b.templates.size());
  PerfCase few = a;
  few.patterns.resize(10);
  PerfCase other_patterns = a;
  other_patterns.patterns = b.patterns;
  const std::vector<std::pair<const char *, const PerfCase *>> calls{
      {"A", &a},           {"A again", &a}, {"A, other patterns", &other_patterns},
      {"B", &b},           {"A", &a},       {"A, few patterns", &few},
      {"A, all of them", &a}, {"B", &b},    {"B again", &b}};
  for (const auto &[name, c] : calls) {
    SCOPED_TRACE(name);
    const std::vector<ArrayPtr> inputs = host_inputs(*c);
    qirtest::expect_same_call(fast.call(1, raw(inputs)), plain.call(1, raw(inputs)));
    if (HasFatalFailure()) return;
  }
}

// Calls long enough for the ring of decisions to wrap around many times,
// with the per-pattern trace: every label and line in pattern order; with
// more threads than processors too, so that threads fall asleep waiting
// for each other and must be woken.
TEST(LargeCalls, LongSplitCallsMatchThePlainSearch) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator generator(5);
  for (const char *threads : {"2", "3", "8"}) {
    setenv("QIR_THREADS", threads, 1);
    PerfCase c = generator.make_case();
    c.templates.clear();
    c.nlabels.clear();
    c.patterns.clear();
    const std::int32_t M = 4;
    c.D = 4.0;
    c.ratio = 0.5;
    c.vigilance = 0.5;
    c.oflag = 2.0;
    for (int k = 0; k < 64; ++k) {
      c.templates.push_back(generator.template_row(M, c.D));
      c.nlabels.push_back(static_cast<double>(1 + k % 4));
    }
    for (int j = 0; j < 20000; ++j) {
      std::vector<double> x;
      for (std::int32_t i = 0; i < M; ++i) x.push_back(generator.uniform(-0.5, 1.5));
      c.patterns.push_back(x);
    }
    SCOPED_TRACE(std::string("threads ") + threads);
    const std::vector<ArrayPtr> inputs = host_inputs(c);
    qirtest::expect_same_call(fast.call(1, raw(inputs)), plain.call(1, raw(inputs)));
  }
  unsetenv("QIR_THREADS");
}
// nodes. Calls that differ from the one before in every way that matters
// to the nodes (or does not), in turn, against the plain build, which makes
// its nodes afresh each time: labels, text (inactive counts, running
// totals) and the host's total must agree at every step.
TEST(KeptNodes, CallsInTurnMatchThePlainSearch) {
  const qirhost::Module fast(QIR_PERF_MODULE_PATH);
  const qirhost::Module plain(QIR_PERF_REFERENCE_PATH);
  Generator g(7);
  PerfCase base;
  const std::int32_t M = 3;
  for (std::int32_t k = 0; k < 9; ++k) {
    std::vector<double> row = g.template_row(M, base.D);
    // Node 0 a point, the others each with their own direction.
    const double u[M] = {1.0, 0.5 * k - 2.0, 1.0};
    const double length = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    for (std::int32_t i = 0; i < M; ++i) row[M + i] = k == 0 ? 0.0 : u[i] / length;
    base.templates.push_back(row);
    base.nlabels.push_back(static_cast<double>(1 + k % 3));
  }
  const auto patterns_near = [&](const PerfCase &c, std::int32_t P) {
    Rows x;
    for (std::int32_t j = 0; j < P; ++j) {
      const auto &row = c.templates[g.pick(c.templates.size())];
      std::vector<double> p(row.begin(), row.begin() + M);
      for (double &v : p) v += g.uniform(-0.3, 0.3);
      x.push_back(p);
    }
    return x;
  };
  base.D = 2.0;
  base.vigilance = 0.3;
  base.alpha = 0.01;
  base.oflag = 1;
  base.patterns = patterns_near(base, 6);

  std::vector<std::pair<std::string, PerfCase>> steps;
  const auto step = [&](const std::string &name, const auto &change) {
    PerfCase c = base;
    change(c);
    steps.emplace_back(name, c);
  };
  const auto same = [](PerfCase &) {};
  step("first call", same);
  step("the same call", same);
  step("other patterns", [&](PerfCase &c) { c.patterns = patterns_near(c, 11); });
  step("back", same);
  step("other D", [](PerfCase &c) { c.D = 1.5; });
  step("back", same);
  step("a radius one unit in the last place larger",
       [](PerfCase &c) { c.templates[4][2 * M] = std::nextafter(c.templates[4][2 * M], 9.0); });
  step("back", same);
  step("a centre one unit in the last place off",
       [](PerfCase &c) { c.templates[8][0] = std::nextafter(c.templates[8][0], -9.0); });
  step("a centre moved", [](PerfCase &c) { c.templates[8][1] += 0.01; });
  step("a radius grown", [](PerfCase &c) { c.templates[1][2 * M] += 0.01; });
  step("a direction turned", [](PerfCase &c) {
    std::swap(c.templates[6][M], c.templates[6][M + 1]);
  });
  step("a direction dropped: a point node", [](PerfCase &c) {
    for (std::int32_t i = 0; i < M; ++i) c.templates[2][M + i] = 0.0;
  });
  step("the same point node with -0", [](PerfCase &c) {
    for (std::int32_t i = 0; i < M; ++i) c.templates[2][M + i] = -0.0;
  });
  step("back", same);
  step("another label", [](PerfCase &c) { c.nlabels[5] = 7; });
  step("a label that truncates to the same", [](PerfCase &c) { c.nlabels[5] += 0.75; });
  step("back", same);
  step("one node fewer", [](PerfCase &c) {
    c.templates.pop_back();
    c.nlabels.pop_back();
  });
  step("back", same);
  step("an unread last column", [](PerfCase &c) {
    for (auto &row : c.templates) row.push_back(123.0);
  });
  step("a feature more, same leading values", [&](PerfCase &c) {
    for (auto &row : c.templates) {
      row.insert(row.begin() + 2 * M + 1, 0.0);  // direction gains a zero
      row.insert(row.begin() + M, 0.25);         // centre gains a value
    }
    for (auto &x : c.patterns) x.push_back(0.25);
  });
  step("back", same);
  step("other rules", [](PerfCase &c) {
    c.ratio = 0.5;
    c.vigilance = 0.6;
    c.alpha = 0.0;
    c.ct_option = 1;
  });
  step("no nodes", [](PerfCase &c) {
    c.templates.clear();
    c.nlabels.clear();
  });
  step("back", same);

  std::int32_t n = 0;
  const auto expect_same = [&](const std::string &name, const PerfCase &c,
                               const qirhost::CallOptions &options = {}) {
    SCOPED_TRACE("step " + std::to_string(n++) + ": " + name);
    const std::vector<ArrayPtr> inputs = host_inputs(c);
    qirtest::expect_same_call(fast.call(1, raw(inputs), options),
                              plain.call(1, raw(inputs), options));
  };
  // Each step once with the summary and once more with the trace, whose
  // match and choice values show the geometry the search used.
  for (const auto &[name, c] : steps) {
    expect_same(name, c);
    PerfCase traced = c;
    traced.oflag = 3;
    expect_same(name + ", traced", traced);
    if (::testing::Test::HasFatalFailure()) return;
  }

  // A call refused for its arguments, or ended for want of memory at any
  // request, and then the same nodes again; the kernel changed between
  // calls of the same nodes.
  std::vector<ArrayPtr> refused = host_inputs(base);
  refused[OFLAG] = qirhost::make_scalar(7);
  qirtest::expect_same_call(fast.call(1, raw(refused)), plain.call(1, raw(refused)));
  expect_same("after a refused call", base);
  const std::size_t requests = plain.call(1, raw(host_inputs(base))).allocation_requests;
  fast.call(1, raw(host_inputs(base)));  // keeps the two modules' totals in step
  for (std::size_t k = 1; k <= requests; ++k) {
    qirhost::CallOptions options;
    options.fail_allocation = k;
    expect_same("memory refused at request " + std::to_string(k), base, options);
    expect_same("then the same nodes", base);
  }
  for (const char *kernel : {"scalar", "sse2", "avx2", "neon", ""}) {
    setenv("QIR_MATCH_KERNEL", kernel, 1);
    expect_same(std::string("kernel ") + kernel, base);
  }
  unsetenv("QIR_MATCH_KERNEL");

  // Nodes grouped for skipping (a large, clustered call), the same nodes
  // for a few patterns (not grouped), and grouped once more.
  for (double vigilance : {0.75, 0.95}) {
    PerfCase large = large_case(g, 16, 0.5, vigilance, 1.0);
    PerfCase few = large;
    few.patterns.resize(5);
    expect_same("grouped", large);
    expect_same("the same nodes, few patterns", few);
    expect_same("again", few);
    expect_same("grouped again", large);
  }
}

}  // namespace
}  // namespace perf_test
