// Whatever qir_train returns, qir_perf accepts: generated training runs
// over every result shape (no features, one, two, many; no nodes at all)
// and their Templates and NLabels handed over unchanged. The same runs
// measure how far the learned directions stray from unit length, against
// the tolerance that qir_perf allows.
#include "perf_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>

namespace perf_test {
namespace {

constexpr double direction_length_tolerance = 1e-6;  // as qir_perf allows

struct TrainingRun {
  Rows patterns;
  std::vector<double> labels;
  std::vector<double> scalars;  // D ... oflag
};

TrainingRun make_run(std::mt19937_64 &rng) {
  auto uniform = [&rng](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };
  auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::int32_t Ms[] = {0, 1, 2, 3, 7, 40};
  const std::int32_t M = Ms[pick(6)];
  const std::int32_t N = pick(6) == 0 ? 0 : static_cast<std::int32_t>(1 + pick(80));
  const double scale = std::pow(10.0, uniform(-3, 3));  // far from the unit box too
  TrainingRun run;
  for (std::int32_t j = 0; j < N; ++j) {
    const double label = static_cast<double>(1 + pick(3));
    std::vector<double> x(M);
    for (double &v : x) v = scale * (0.3 * label + uniform(-0.5, 0.5));
    run.patterns.push_back(x);
    run.labels.push_back(label);
  }
  const double D = scale * std::sqrt(M + 1.0) * uniform(0.5, 3);
  run.scalars = {D, uniform(0.05, 1), uniform(0, 0.9), uniform(0, 0.1), uniform(0.1, 1),
                 static_cast<double>(1 + pick(15)), static_cast<double>(pick(2)),
                 static_cast<double>(pick(2)), 0};
  return run;
}

// Largest | |direction| - 1 | over the non-zero directions of a Templates
// array (column-major, K rows of 2M+1).
double direction_deviation(const mxArray *templates, std::size_t K, std::size_t M) {
  const std::vector<double> values = qirhost::values_of(templates);
  double worst = 0;
  for (std::size_t k = 0; k < K; ++k) {
    double sq = 0;
    for (std::size_t i = 0; i < M; ++i) sq += std::pow(values[(M + i) * K + k], 2);
    if (sq > 0) worst = std::max(worst, std::fabs(std::sqrt(sq) - 1));
  }
  return worst;
}

TEST(TrainResultShapesTest, EveryTrainingResultIsAcceptedForClassification) {
  qirhost::Module train(QIR_TRAIN_MODULE_PATH);
  qirhost::Module perf(QIR_PERF_MODULE_PATH);
  std::mt19937_64 rng(20261208);
  double worst = 0;
  std::size_t directions_seen = 0, empty_results = 0, featureless = 0;
  for (int r = 0; r < 400; ++r) {
    const TrainingRun run = make_run(rng);
    const std::size_t M = run.patterns.empty() ? rng() % 4 : run.patterns[0].size();
    std::vector<ArrayPtr> inputs;
    inputs.push_back(qirhost::make_matrix(run.patterns.size(), M, [&] {
      std::vector<double> column_major(run.patterns.size() * M);
      for (std::size_t j = 0; j < run.patterns.size(); ++j)
        for (std::size_t i = 0; i < M; ++i) column_major[i * run.patterns.size() + j] = run.patterns[j][i];
      return column_major;
    }()));
    inputs.push_back(qirhost::make_matrix(run.labels.size(), 1, run.labels));
    for (double value : run.scalars) inputs.push_back(qirhost::make_scalar(value));
    const qirhost::CallResult trained = train.call(3, raw(inputs));
    ASSERT_FALSE(trained.error) << *trained.error;
    const std::vector<std::size_t> shape = qirhost::dims_of(trained.outputs[0].get());
    ASSERT_EQ(shape[1], 2 * M + 1);
    worst = std::max(worst, direction_deviation(trained.outputs[0].get(), shape[0], M));
    directions_seen += M > 0 && shape[0] > 0 ? 1 : 0;
    empty_results += shape[0] == 0 ? 1 : 0;
    featureless += M == 0 && shape[0] > 0 ? 1 : 0;

    std::vector<ArrayPtr> classify = host_inputs(PerfCase{});
    std::vector<const mxArray *> perf_inputs = raw(classify);
    perf_inputs[TEMPLATES] = trained.outputs[0].get();
    perf_inputs[NLABELS] = trained.outputs[1].get();
    perf_inputs[PATTERNS] = inputs[0].get();
    const qirhost::CallResult result = perf.call(1, perf_inputs);
    ASSERT_FALSE(result.error) << *result.error << " (run " << r << ", M = " << M << ")";
    EXPECT_EQ(qirhost::dims_of(result.outputs[0].get()),
              (std::vector<std::size_t>{run.patterns.size(), 1}));
  }
  // The shapes that matter were all produced.
  EXPECT_GT(directions_seen, 100u);
  EXPECT_GT(empty_results, 10u);
  EXPECT_GT(featureless, 10u);
  std::cout << "largest deviation of a learned direction from unit length: " << worst << "\n";
  EXPECT_LT(worst, direction_length_tolerance * 1e-6);
}

}  // namespace
}  // namespace perf_test
