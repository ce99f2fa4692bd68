#include "run_performance.h"

#include "interrupt.h"
#include "mex_api.h"
#include "model.h"
#include "node.h"
#include "node_competition.h"
#include "performance_report.h"
#include "process_clock.h"

#include <memory>
#include <vector>

namespace qir {

namespace {

struct PassTally {
  std::int32_t active_count = 0;
  std::int32_t unclassified_count = 0;
  std::uint32_t run_comparisons = 0;  // wraps on very long runs, like the counters
};

void set_model_params(std::int32_t M, double D, double ratio, double alpha) {
  model_params.num_features = M;
  model_params.D = D;
  model_params.ratio = ratio;
  model_params.alpha = alpha;
}

// One inactive node per template row, in row order.
std::vector<NodePtr> make_nodes(std::int32_t N, const double *const *template_rows,
                                const double *labels) {
  std::vector<NodePtr> nodes(static_cast<std::size_t>(N));
  for (std::int32_t k = 0; k < N; ++k) {
    nodes[k] = std::make_unique<Node>();
    // The entry point has checked that every label fits an int.
    node_init(*nodes[k], template_rows[k], static_cast<std::int32_t>(labels[k]), 1);
    nodes[k]->active = 0;
  }
  return nodes;
}

// Runs pattern j's competition (j counted from 1), writes its label and
// reports its comparisons to the host.
void classify_pattern(std::int32_t j, std::vector<NodePtr> &nodes, NodeCompetition &competition,
                      const double *pattern, const CompetitionRules &rules,
                      std::int32_t unknown_label, double &label, PassTally &tally) {
  const CompetitionResult outcome = competition.compete(nodes, pattern, rules);
  if (outcome.winner < 0) {
    label = static_cast<double>(unknown_label);
    tally.unclassified_count += 1;
    if (rules.oflag >= 2) mexPrintf("   Pattern #%d could not be classified\n", j);
  } else {
    Node &winner = *nodes[outcome.winner];
    label = static_cast<double>(winner.label);
    if (winner.active == 0) {
      winner.active = 1;
      tally.active_count += 1;
    }
    if (rules.oflag >= 2)
      mexPrintf("   Pattern #%d selected by node #%d and classified as '%d'\n", j,
                outcome.winner + 1, winner.label);
  }
  mexAddFlops(static_cast<int>(outcome.pattern_comparisons));
  tally.run_comparisons += outcome.pattern_comparisons;
}

// Each node's centre, then its direction, then the record; then the list.
void release_nodes(std::vector<NodePtr> &nodes) {
  for (NodePtr &node : nodes) {
    if (!node) continue;
    std::vector<double>().swap(node->center);
    std::vector<double>().swap(node->direction);
    node.reset();
  }
  std::vector<NodePtr>().swap(nodes);
}

}  // namespace

void run_performance(std::int32_t N, std::int32_t M, const double *const *template_rows,
                     const double *labels, double D, double ratio, double vigilance,
                     double alpha, std::int32_t ct_option, std::int32_t P,
                     const double *const *patterns, std::int32_t unknown_label,
                     HostVector &label_array, std::int32_t oflag) {
  set_model_params(M, D, ratio, alpha);
  const CompetitionRules rules{vigilance, compute_Tu(D, alpha), alpha, ct_option, oflag};
  mexAddFlops(tu_flops);
  std::vector<NodePtr> nodes = make_nodes(N, template_rows, labels);
  NodeCompetition competition(nodes);
  label_array = HostVector{host_calloc<double>(static_cast<std::size_t>(P)), P};

  PassTally tally;
  const std::int64_t start_seconds = whole_seconds(process_clock_ms());
  if (oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", P);
  InterruptPoll poll;
  const std::uint64_t work = static_cast<std::uint64_t>(N) * (static_cast<std::uint64_t>(M) + 1);
  for (std::int32_t j = 1; j <= P; ++j) {
    classify_pattern(j, nodes, competition, patterns[j - 1], rules, unknown_label,
                     label_array.data[j - 1], tally);
    poll.after_pattern(work);
  }

  PerformanceSummary summary;
  summary.N = N;
  summary.P = P;
  summary.inactive_count = N - tally.active_count;
  summary.unclassified_count = tally.unclassified_count;
  summary.run_comparisons = tally.run_comparisons;
  summary.elapsed_seconds =
      elapsed_seconds(start_seconds, whole_seconds(process_clock_ms()));
  if (oflag >= 1) print_performance_summary(summary);
  release_nodes(nodes);
}

}  // namespace qir
