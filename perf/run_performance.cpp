#include "run_performance.h"

#include "interrupt.h"
#include "mex_api.h"
#include "model.h"
#include "node.h"
#include "node_competition.h"
#include "pattern_chunks.h"
#include "performance_report.h"
#include "process_clock.h"

#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>
#include <vector>

namespace qir {

namespace {

// Kept from call to call (calls into a module never overlap).
SearchWorkspace workspace;

// The plain reference build remakes its nodes every call: it is what the
// kept nodes are checked against.
constexpr bool keeps_nodes = std::is_same_v<NodeCompetition, PackedCompetition>;

// Gives the workspace's memory back at the end of a call when it is large,
// and always when the call fails.
struct WorkspaceTrim {
  const int failures = std::uncaught_exceptions();
  ~WorkspaceTrim() {
    if (std::uncaught_exceptions() > failures)
      workspace = SearchWorkspace();
    else
      workspace.trim();
  }
};

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

bool same_bits(const double *a, const double *b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n * sizeof(double)) == 0;
}

// Whether `node` is what node_init makes of this row and label under the
// current model parameters, bit for bit.
bool node_holds(const Node &node, const double *row, std::int32_t label) {
  const std::size_t M = static_cast<std::size_t>(model_params.num_features);
  const double radius = row[M + M];
  const double free_size = model_params.D - (radius + radius);
  return node.label == label && node.center.size() == M && node.direction.size() == M &&
         same_bits(node.center.data(), row, M) && same_bits(node.direction.data(), row + M, M) &&
         same_bits(&node.radius, &radius, 1) && same_bits(&node.free_size, &free_size, 1);
}

// The entry point has checked that every label fits an int.
std::int32_t label_of(const double *labels, std::int32_t k) {
  return static_cast<std::int32_t>(labels[k]);
}

// Whether the nodes left by the last call are those these rows make: a
// model classifying a few patterns per call keeps its nodes and their
// packing.
bool nodes_hold(const std::vector<NodePtr> &nodes, std::int32_t N,
                const double *const *template_rows, const double *labels) {
  if (nodes.size() != static_cast<std::size_t>(N)) return false;
  for (std::int32_t k = 0; k < N; ++k)
    if (!nodes[k] || !node_holds(*nodes[k], template_rows[k], label_of(labels, k))) return false;
  return true;
}

// One inactive node per template row, in row order, into `nodes`; records
// left from an earlier call are filled again. Returns true when they held
// these very nodes already: then only their flags are reset and node_init's
// operations counted, in the same total.
bool make_nodes(std::int32_t N, const double *const *template_rows, const double *labels,
                std::vector<NodePtr> &nodes) {
  // node_init's operations reach count_ops in one amount for all nodes.
  OpTally init_ops{static_cast<std::uint64_t>(N) * node_init_flops, 0};
  if (keeps_nodes && nodes_hold(nodes, N, template_rows, labels)) {
    for (const NodePtr &node : nodes) node->active = 0;
    flush_ops(init_ops);
    return true;
  }
  nodes.resize(static_cast<std::size_t>(N));
  for (std::int32_t k = 0; k < N; ++k) {
    if (!nodes[k]) nodes[k] = std::make_unique<Node>();
    node_from_template(*nodes[k], template_rows[k], label_of(labels, k));
  }
  flush_ops(init_ops);
  return false;
}

// Labels pattern j (counted from 1) by the outcome of its competition and
// reports its comparisons to the host.
void label_pattern(std::int32_t j, const CompetitionResult &outcome, std::vector<NodePtr> &nodes,
                   const CompetitionRules &rules, std::int32_t unknown_label, double &label,
                   PassTally &tally) {
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

// Every pattern's competition and label, in pattern order; over worker
// threads when the search can be split and the call is large.
template <class Competition>
void classify_patterns(Competition &competition, std::vector<NodePtr> &nodes, std::int32_t P,
                       const double *const *patterns, const CompetitionRules &rules,
                       std::int32_t unknown_label, double *labels, PassTally &tally) {
  // Labels are given on the calling thread, in pattern order, so the poll
  // for a stop request stays there too (also between chunks of threads).
  InterruptPoll poll;
  const std::uint64_t work = static_cast<std::uint64_t>(nodes.size()) *
                             (static_cast<std::uint64_t>(model_params.num_features) + 1);
  const auto label = [&](std::int32_t j, const CompetitionResult &outcome) {
    label_pattern(j + 1, outcome, nodes, rules, unknown_label, labels[j], tally);
    poll.after_pattern(work);
  };
  if constexpr (Competition::splittable) {
    const std::int32_t M = model_params.num_features;
    const std::int32_t N = static_cast<std::int32_t>(nodes.size());
    const std::int32_t threads = pass_threads(N, M, P, rules);
    if (threads > 1) return classify_in_chunks(competition, rules, P, patterns, threads, label);
    if (Competition::replayable(rules))
      return classify_in_batches(competition, rules, P, patterns, label);
  }
  for (std::int32_t j = 0; j < P; ++j) label(j, competition.compete(nodes, patterns[j], rules));
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
  const WorkspaceTrim trim;
  std::vector<NodePtr> &nodes = workspace.nodes;
  const bool nodes_kept = make_nodes(N, template_rows, labels, nodes);
  NodeCompetition competition(nodes, rules, P, patterns, workspace, nodes_kept);
  label_array = HostVector{host_calloc<double>(static_cast<std::size_t>(P)), P};

  PassTally tally;
  // The clock is read only for the summary that prints the seconds.
  const std::int64_t start_seconds = oflag >= 1 ? whole_seconds(process_clock_ms()) : 0;
  if (oflag >= 2) mexPrintf("\nList presentation of %d patterns:\n", P);
  classify_patterns(competition, nodes, P, patterns, rules, unknown_label, label_array.data.get(),
                    tally);

  PerformanceSummary summary;
  summary.N = N;
  summary.P = P;
  summary.inactive_count = N - tally.active_count;
  summary.unclassified_count = tally.unclassified_count;
  summary.run_comparisons = tally.run_comparisons;
  if (oflag >= 1) {
    summary.elapsed_seconds = elapsed_seconds(start_seconds, whole_seconds(process_clock_ms()));
    print_performance_summary(summary);
  }
}

}  // namespace qir
