#include "prune_runs.h"

#include "bench_support.h"
#include "workload.h"

#include "model.h"
#include "node.h"
#include "node_competition.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace qirbench {

namespace {

// Share of node evaluations that the module's own search skips, worked out
// in this process with the same code the module runs.
double skipped_share(const ClassificationSet &set, const PerfParams &p) {
  const std::int32_t M = static_cast<std::int32_t>(set.patterns.at(0).size());
  qir::model_params = qir::ModelParams{M, p.D, p.ratio, p.alpha, 1.0};
  std::vector<qir::NodePtr> nodes;
  for (std::size_t k = 0; k < set.nodes.templates.size(); ++k) {
    nodes.push_back(std::make_unique<qir::Node>());
    qir::node_init(*nodes.back(), set.nodes.templates[k].data(),
                   static_cast<std::int32_t>(set.nodes.labels[k]), 1);
  }
  const qir::CompetitionRules rules{p.vigilance, qir::compute_Tu(p.D, p.alpha), p.alpha,
                                    static_cast<std::int32_t>(p.ct_option), 0};
  const std::int32_t P = static_cast<std::int32_t>(set.patterns.size());
  qir::SearchWorkspace workspace;
  std::vector<const double *> rows;
  for (const auto &x : set.patterns) rows.push_back(x.data());
  qir::PackedCompetition competition(nodes, rules, P, rows.data(), workspace);
  qir::BlockMatcher matcher;
  competition.prepare(matcher);
  for (const auto &x : set.patterns) competition.decide(x.data(), rules, matcher);
  return 100.0 * static_cast<double>(matcher.skipped()) /
         (static_cast<double>(P) * static_cast<double>(nodes.size()));
}

TimedCall fresh_classification(const std::string &path, const ClassificationSet &set,
                               const PerfParams &params, std::int32_t repeats) {
  const auto module = load(path);
  if (!module) return {};
  return fastest(repeats, [&] { return run_classification(*module, set.nodes, set.patterns, params); });
}

TimedCall fresh_training(const std::string &path, const Labelled &data, const TrainParams &params,
                         std::int32_t repeats) {
  const auto module = load(path);
  if (!module) return {};
  return fastest(repeats, [&] { return run_training(*module, data, params); });
}

// Runs without and with pruning, prints both times and checks identity.
template <class Run>
void off_and_on(Run run) {
  set_env("QIR_PRUNE", "0");
  const TimedCall off = run();
  set_env("QIR_PRUNE", "1");
  const TimedCall on = run();
  std::printf(" %.3f s without, %.3f s with pruning: %.2fx\n", off.seconds, on.seconds,
              off.seconds / on.seconds);
  check_identical("    with against without", on, off);
}

void classification(const std::string &perf_path, std::int32_t patterns, std::int32_t repeats) {
  // 40 clusters spread over [0,2]^16, 1,000 nodes near them.
  const ClassificationSet set = classification_set(patterns, 1000, 16, 0.5, 81, 2.0);
  std::printf("\npruning, classification: clustered, %d patterns x 1000 nodes, M = 16, box [0,2]^16,"
              " D 4, ratio 0.5, alpha 0.01, CT on, one thread\n", patterns);
  for (double vigilance : {0.0, 0.5, 0.75, 0.9}) {
    PerfParams params;
    params.vigilance = vigilance;
    std::printf("  vigilance %.2f: %5.1f%% of evaluations skipped;", vigilance,
                skipped_share(set, params));
    off_and_on([&] { return fresh_classification(perf_path, set, params, repeats); });
  }
}

void training(const std::string &train_path, std::int32_t train_patterns, std::int32_t repeats) {
  const Labelled data = clustered_patterns(train_patterns, 16, 4, 10, 0.12, 21);
  std::printf("\npruning, training: workload (b), %d patterns\n", train_patterns);
  for (double vigilance : {0.5, 0.75, 0.9}) {
    TrainParams params;
    params.vigilance = vigilance;
    std::printf("  vigilance %.2f:", vigilance);
    off_and_on([&] { return fresh_training(train_path, data, params, repeats); });
  }
}

}  // namespace

void prune(const std::string &perf_path, const std::string &train_path, std::int32_t patterns,
           std::int32_t train_patterns, std::int32_t repeats) {
  set_env("QIR_THREADS", "1");
  classification(perf_path, patterns, repeats);
  training(train_path, train_patterns, repeats);
  set_env("QIR_PRUNE", "");
  set_env("QIR_THREADS", "");
}

}  // namespace qirbench
