// Nodes trained by qir_train classify through qir_perf exactly as their
// geometry says: each label is checked against a plain reading of the
// competition rules applied to the template rows.
#include "perf_test_support.h"

#include <cmath>
#include <cstdint>

namespace perf_test {
namespace {

struct Geometry {
  double D, ratio, vigilance, alpha;
  bool ct;
};

// Distance of a pattern from the node of one template row (M features).
double distance_from(const std::vector<double> &row, const std::vector<double> &x,
                     double ratio) {
  const std::size_t M = x.size();
  double sq = 0, proj = 0;
  bool has_direction = false;
  for (std::size_t i = 0; i < M; ++i) {
    const double d = row[i] - x[i];
    sq = sq + d * d;
    proj = proj + row[M + i] * d;
    has_direction = has_direction || row[M + i] != 0;
  }
  if (!has_direction) return std::sqrt(sq);
  return std::sqrt(sq - ((1 - ratio * ratio) * proj) * proj) / ratio;
}

// The label the rules give: VT on fit / D, CT on fit / (free + alpha)
// against D / (alpha + 2 D), the highest choice value winning, the first
// of equals kept.
double reference_label(const Rows &templates, const std::vector<double> &labels,
                       const std::vector<double> &x, const Geometry &g, double unknown) {
  const std::size_t M = x.size();
  const double Tu = g.D / (g.alpha - g.D * -2);
  double label = unknown, best = 0;
  bool found = false;
  for (std::size_t k = 0; k < templates.size(); ++k) {
    const double radius = templates[k][2 * M];
    const double free_size = g.D - (radius + radius);
    const double distance = distance_from(templates[k], x, g.ratio);
    const double fit = distance - 1e-8 > radius ? free_size - (distance - radius) : free_size;
    if (!(fit / g.D >= g.vigilance)) continue;
    const double cfv = fit / (free_size + g.alpha);
    if (g.ct && !(cfv >= Tu)) continue;
    if (found && best >= cfv) continue;
    found = true;
    best = cfv;
    label = std::trunc(labels[k]);
  }
  return label;
}

// Deterministic cloud: class 1 stretched along the diagonal near the
// origin, class 2 a rounder cluster further out.
void make_training_set(Rows &patterns, std::vector<double> &labels) {
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) / 16777216.0;
  };
  for (int n = 0; n < 30; ++n) {
    const double t = next();
    patterns.push_back({0.1 + 0.4 * t + 0.05 * next(), 0.1 + 0.4 * t + 0.05 * next()});
    labels.push_back(1);
    patterns.push_back({0.7 + 0.2 * next(), 0.2 + 0.2 * next()});
    labels.push_back(2);
  }
}

Rows grid(int steps) {
  Rows points;
  for (int i = 0; i <= steps; ++i)
    for (int j = 0; j <= steps; ++j)
      points.push_back({1.0 * i / steps, 1.0 * j / steps});
  return points;
}

TEST(RoundTripTest, TrainedNodesClassifyByTheirGeometry) {
  Rows training;
  std::vector<double> plabels;
  make_training_set(training, plabels);

  qirhost::Module train(QIR_TRAIN_MODULE_PATH);
  std::vector<ArrayPtr> train_inputs;
  train_inputs.push_back(qirhost::make_rows(training));
  train_inputs.push_back(qirhost::make_column(plabels));
  // D, ratio, vigilance, alpha, learning_rate, max_list_presentations,
  // trim_option, ct_option, oflag
  for (double value : {1.0, 0.5, 0.85, 0.01, 1.0, 20.0, 0.0, 0.0, 0.0})
    train_inputs.push_back(qirhost::make_scalar(value));
  const qirhost::CallResult trained = train.call(3, raw(train_inputs));
  ASSERT_FALSE(trained.error) << trained.error.value_or("");
  const std::vector<std::size_t> shape = qirhost::dims_of(trained.outputs[0].get());
  ASSERT_EQ(shape.size(), 2u);
  ASSERT_EQ(shape[1], 5u);
  ASSERT_GT(shape[0], 1u);  // several nodes, so that they compete

  Rows templates(shape[0], std::vector<double>(5));
  const std::vector<double> stored = qirhost::values_of(trained.outputs[0].get());
  for (std::size_t k = 0; k < shape[0]; ++k)
    for (std::size_t c = 0; c < 5; ++c) templates[k][c] = stored[c * shape[0] + k];
  const std::vector<double> nlabels = qirhost::values_of(trained.outputs[1].get());
  bool any_ellipsoid = false;
  for (const auto &row : templates) any_ellipsoid = any_ellipsoid || row[2] != 0 || row[3] != 0;
  ASSERT_TRUE(any_ellipsoid) << "no node grew a direction; the data no longer covers them";

  qirhost::Module perf(QIR_PERF_MODULE_PATH);
  for (const Geometry &g : {Geometry{1.0, 0.5, 0.6, 0.01, false},
                            Geometry{1.0, 0.5, 0.3, 0.01, true},
                            Geometry{1.2, 0.8, 0.0, 0.0, true}}) {
    for (const Rows &patterns : {training, grid(20)}) {
      std::vector<ArrayPtr> inputs = host_inputs(PerfCase{});
      inputs[TEMPLATES] = qirhost::make_rows(templates);
      inputs[NLABELS] = qirhost::make_column(nlabels);
      inputs[D] = qirhost::make_scalar(g.D);
      inputs[RATIO] = qirhost::make_scalar(g.ratio);
      inputs[VIGILANCE] = qirhost::make_scalar(g.vigilance);
      inputs[ALPHA] = qirhost::make_scalar(g.alpha);
      inputs[CT_OPTION] = qirhost::make_scalar(g.ct ? 1 : 0);
      inputs[PATTERNS] = qirhost::make_rows(patterns);
      inputs[UNKNOWN_LABEL] = qirhost::make_scalar(-7);
      const qirhost::CallResult result = perf.call(1, raw(inputs));
      ASSERT_FALSE(result.error) << result.error.value_or("");
      const std::vector<double> got = qirhost::values_of(result.outputs[0].get());
      ASSERT_EQ(got.size(), patterns.size());
      for (std::size_t p = 0; p < patterns.size(); ++p)
        EXPECT_EQ(got[p], reference_label(templates, nlabels, patterns[p], g, -7))
            << "pattern " << p << " vigilance " << g.vigilance;
    }
  }
}

}  // namespace
}  // namespace perf_test
