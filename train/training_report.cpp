#include "training_report.h"

#include "console_number.h"
#include "mex_api.h"
#include "model.h"
#include "process_clock.h"

#include <cmath>

namespace qir {

namespace {

struct SummaryFigures {
  std::int32_t inactive_count = 0;
  std::int32_t num_nodes = 0;
  std::int32_t num_templates = 0;
  std::int32_t elapsed = 0;
  std::int32_t num_given = 0;
  std::int32_t inactive_given = 0;  // kept even when trimming
};

// Whether node i leaves the run: given nodes always do, so that classes
// absent from this call's patterns are not forgotten.
bool exported(const Node &node, std::int32_t i, bool trimming, std::int32_t num_given) {
  return !trimming || i < num_given || node.active == 1;
}

std::int32_t count_inactive_given(const NodeList &nodes, std::int32_t num_given) {
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < num_given; ++i) count += nodes[i].active == 0;
  return count;
}

// inactive x 100 / nodes; a run without nodes has no redundancy.
double redundancy(std::int32_t inactive_count, std::int32_t num_nodes) {
  if (num_nodes == 0) return 0.0;
  return static_cast<double>(inactive_count) * 100.0 / static_cast<double>(num_nodes);
}

// (N - K (2 - 1/M)) x 100 / N: the share of the patterns' values saved by
// keeping K templates instead. Without features a template counts as one
// value; without patterns nothing is saved.
double compression(std::int32_t N, std::int32_t M, std::int32_t num_templates) {
  if (N == 0) return 0.0;
  const double per_template = M == 0 ? 1.0 : 2.0 - 1.0 / static_cast<double>(M);
  return (static_cast<double>(N) - static_cast<double>(num_templates) * per_template) * 100.0 /
         static_cast<double>(N);
}

// Trimming removes only the inactive nodes made in this call. The share
// is always of the nodes counted on the line: those trimmed, or those
// detected, against every node the run held.
void print_inactive_line(const SummaryFigures &figures, std::int32_t trim_option) {
  std::int32_t counted = figures.inactive_count;
  if (trim_option == 1) {
    counted -= figures.inactive_given;
    mexPrintf(counted == 1 ? "%d inactive node trimmed " : "%d inactive nodes trimmed ", counted);
  } else {
    mexPrintf(counted == 1 ? "%d inactive node detected " : "%d inactive nodes detected ",
              counted);
  }
  mexPrintf("(%s%% redundacy)\n", format_fixed(redundancy(counted, figures.num_nodes)).text);
}

// A continued run: how many nodes came in, how many were made. Whether a
// given node is inactive is known only after convergence, as for the
// inactive line: before it, a node that learned in the last presentation
// is not yet "chosen" and the count would mean something else.
void print_given_line(const SummaryFigures &figures, bool converged) {
  const std::int32_t created = figures.num_nodes - figures.num_given;
  if (converged)
    mexPrintf(figures.num_given == 1 ? "%d node given (%d inactive), %d created\n"
                                     : "%d nodes given (%d inactive), %d created\n",
              figures.num_given, figures.inactive_given, created);
  else
    mexPrintf(figures.num_given == 1 ? "%d node given, %d created\n"
                                     : "%d nodes given, %d created\n",
              figures.num_given, created);
}

void print_summary(const TrainingOutcome &outcome, const SummaryFigures &figures,
                   std::int32_t N, std::int32_t M, std::int32_t trim_option) {
  mexPrintf("\nQIR training ");
  mexPrintf(outcome.converged ? "converged " : "stopped ");
  mexPrintf(outcome.num_list_presentations == 1 ? "after %d list presentation\n"
                                                : "after %d list presentations\n",
            outcome.num_list_presentations);
  if (outcome.converged)
    print_inactive_line(figures, trim_option);
  else if (trim_option == 1)
    mexPrintf("Trimming option ignored due to lack of convergence.\n");

  const double P = compression(N, M, figures.num_templates);
  const bool one = figures.num_templates == 1;
  if (figures.num_given > 0) {
    print_given_line(figures, outcome.converged);
    mexPrintf(one ? "%d node returned (%s%% " : "%d nodes returned (%s%% ", figures.num_templates,
              format_fixed(std::fabs(P)).text);
  } else {
    mexPrintf(one ? "%d node created (%s%% " : "%d nodes created (%s%% ", figures.num_templates,
              format_fixed(std::fabs(P)).text);
  }
  mexPrintf(P >= 0.0 ? "compression)\n" : "inflation)\n");

  // Unsigned 32-bit sums: the totals wrap like the counters themselves.
  const std::uint32_t flops = op_counters.flop_count + outcome.run_flops;
  const std::uint32_t comparisons = op_counters.comparison_count + outcome.run_comparisons;
  mexPrintf("%lu FLOPs and %lu comparisons in %d seconds\n\n", static_cast<unsigned long>(flops),
            static_cast<unsigned long>(comparisons), figures.elapsed);
}

// Writes the surviving nodes, in creation order, as template rows and
// labels, releasing each node once visited.
void export_nodes(NodeList &nodes, bool trimming, std::int32_t num_given, std::int32_t M,
                  TrainingResults &results) {
  const std::int32_t width = template_width(M);
  results.template_rows = HostRows::with_row_slots(results.num_templates, width);
  results.template_labels =
      HostVector{host_calloc<double>(static_cast<std::size_t>(results.num_templates)),
                 results.num_templates};
  std::int32_t k = 0;
  for (std::int32_t i = 0; i < nodes.size(); ++i) {
    const Node &node = nodes[i];
    if (exported(node, i, trimming, num_given)) {
      results.template_rows.adopt_row(k, host_calloc<double>(static_cast<std::size_t>(width)));
      node_to_template(node, results.template_rows[k]);
      results.template_labels.data[k] = static_cast<double>(node.label);
      ++k;
    }
    nodes.release_node(i);
  }
  nodes.release_all();
}

}  // namespace

void close_training(NodeList &nodes, const TrainingOutcome &outcome, std::int32_t N,
                    std::int32_t M, std::int32_t trim_option, std::int32_t oflag,
                    TrainingResults &results) {
  const bool trimming = trim_option == 1 && outcome.converged;
  SummaryFigures figures;
  figures.num_nodes = nodes.size();
  figures.inactive_count = figures.num_nodes - outcome.active_count;
  figures.num_given = outcome.num_given;
  figures.inactive_given = count_inactive_given(nodes, outcome.num_given);
  figures.num_templates =
      trimming ? outcome.active_count + figures.inactive_given : figures.num_nodes;
  results.num_templates = figures.num_templates;
  if (oflag >= 1) {
    figures.elapsed = elapsed_seconds(outcome.start_seconds, whole_seconds(process_clock_ms()));
    print_summary(outcome, figures, N, M, trim_option);
  }
  export_nodes(nodes, trimming, outcome.num_given, M, results);
}

}  // namespace qir
