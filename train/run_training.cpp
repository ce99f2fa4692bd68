#include "run_training.h"

#include "console_number.h"
#include "interrupt.h"
#include "mex_api.h"
#include "model.h"
#include "node_learn.h"
#include "node_list.h"
#include "process_clock.h"
#include "search.h"
#include "training_report.h"

namespace qir {

namespace {

// One training run's working state.
struct Training {
  const double *const *patterns = nullptr;
  const double *labels = nullptr;
  std::int32_t N = 0;
  double vigilance = 0.0;
  SearchRules rules;
  NodeList nodes;
  TrainingSearch search;  // follows every change to `nodes`
  // Counts of the current presentation.
  std::int32_t new_nodes = 0;
  std::int32_t node_updates = 0;
  TrainingOutcome outcome;
  InterruptPoll poll;
};

// The state of one pattern step.
struct PatternStep {
  std::int32_t J = 0;  // pattern index; its number in messages is J + 1
  const double *pattern = nullptr;
  double label = 0.0;
  double rho = 0.0;
  bool during_mt = false;
  PatternTally tally;
};

void set_model_params(std::int32_t M, double D, double ratio, double alpha,
                      double learning_rate) {
  model_params.num_features = M;
  model_params.D = D;
  model_params.ratio = ratio;
  model_params.alpha = alpha;
  model_params.learning_rate = learning_rate;
}

const char *mt_suffix(const PatternStep &step) { return step.during_mt ? " during MT\n" : "\n"; }

void create_node(Training &run, const PatternStep &step) {
  // Labels are whole after truncation toward zero; the entry point has
  // checked that they fit.
  const std::int32_t label = static_cast<std::int32_t>(step.label);
  node_init(run.nodes.add(), step.pattern, label, 0);
  run.search.node_added(run.nodes);
  run.new_nodes += 1;
  if (run.rules.oflag >= 3) {
    mexPrintf("   Pattern #%d created  node #%d (label %d)", step.J + 1, run.nodes.size(), label);
    mexPrintf("%s", mt_suffix(step));
  }
}

void learn_on_winner(Training &run, const PatternStep &step, std::int32_t winner) {
  Node &node = run.nodes[winner];
  const bool changed = node_learn(node, step.pattern) != 0;
  if (changed) {
    run.node_updates += 1;
    run.search.node_changed(winner, node);
  }
  // Only a choice without MT and without change shows the node is needed
  // as it stands.
  if (!step.during_mt && !changed && node.active == 0) {
    node.active = 1;
    run.outcome.active_count += 1;
  }
  if (run.rules.oflag >= 3) {
    mexPrintf(changed ? "   Pattern #%d updated  node #%d (label %d)"
                      : "   Pattern #%d selected node #%d (label %d)",
              step.J + 1, winner + 1, node.label);
    mexPrintf("%s", mt_suffix(step));
  }
}

// Raises rho to the wrong winner's MFV and chooses again among the nodes
// still eligible.
std::int32_t engage_mt(Training &run, PatternStep &step, std::int32_t winner) {
  const Node &node = run.nodes[winner];
  step.rho = node.mfv;
  step.during_mt = true;
  if (run.rules.oflag == 4)
    mexPrintf("      Node #%d (label %d) misclassifies pattern #%d - Engage MT (set rho=%s)\n",
              winner + 1, node.label, step.J + 1, format_fixed(step.rho).text);
  return run.search.choose_during_mt(run.nodes, step.rho, step.tally);
}

// The given nodes, in row order, as classification makes them from its
// templates.
void add_given_nodes(Training &run, const GivenNodes &given) {
  for (std::int32_t k = 0; k < given.count; ++k) {
    node_init(run.nodes.add(), given.rows[k], static_cast<std::int32_t>(given.labels[k]), 1);
    run.search.node_added(run.nodes);
  }
  run.outcome.num_given = given.count;
}

void present_pattern(Training &run, std::int32_t J) {
  PatternStep step;
  step.J = J;
  step.pattern = run.patterns[J];
  step.label = run.labels[J];
  step.rho = run.vigilance;
  if (run.rules.oflag >= 3)
    mexPrintf("   Pattern #%d is being presented (label %d)\n", J + 1,
              static_cast<std::int32_t>(step.label));
  std::int32_t winner = -1;
  if (run.nodes.size() > 0)
    winner = run.search.search(run.nodes, J, step.pattern, step.rho, run.rules, step.tally);
  // Each MT round drops at least the wrong winner, so this ends.
  for (;;) {
    if (winner < 0) {
      create_node(run, step);
      break;
    }
    if (static_cast<double>(run.nodes[winner].label) == step.label) {
      learn_on_winner(run, step, winner);
      break;
    }
    winner = engage_mt(run, step, winner);
  }
  const std::uint32_t amount = step.tally.pattern_flops + step.tally.pattern_comparisons;
  mexAddFlops(static_cast<int>(amount));
  run.outcome.run_flops += step.tally.pattern_flops;
  run.outcome.run_comparisons += step.tally.pattern_comparisons;
}

// One list presentation; true when it changed nothing.
bool present_list(Training &run) {
  run.new_nodes = 0;
  run.node_updates = 0;
  run.outcome.active_count = 0;
  const std::int32_t presentation = ++run.outcome.num_list_presentations;
  for (std::int32_t i = 0; i < run.nodes.size(); ++i) run.nodes[i].active = 0;
  const std::int32_t oflag = run.rules.oflag;
  if (oflag == 4) mexPrintf("\nList presentation #%d:\n", presentation);
  const std::uint64_t features = static_cast<std::uint64_t>(model_params.num_features) + 1;
  for (std::int32_t J = 0; J < run.N; ++J) {
    present_pattern(run, J);
    run.poll.after_pattern(static_cast<std::uint64_t>(run.nodes.size()) * features);
  }
  if (oflag == 2)
    mexPrintf("List presentation #%d: %d new nodes created, %d node updates\n", presentation,
              run.new_nodes, run.node_updates);
  if (oflag >= 3)
    mexPrintf("   Summary: %d new nodes created, %d node updates\n", run.new_nodes,
              run.node_updates);
  return run.new_nodes == 0 && run.node_updates == 0;
}

}  // namespace

void run_training(std::int32_t N, std::int32_t M, const double *const *patterns,
                  const double *labels, const GivenNodes &given, double D, double ratio,
                  double vigilance, double alpha, double learning_rate,
                  std::int32_t max_list_presentations, std::int32_t trim_option,
                  std::int32_t ct_option, std::int32_t &num_templates,
                  HostRows &template_rows, HostVector &template_labels,
                  std::int32_t &num_list_presentations, std::int32_t oflag,
                  SearchCounts *counts) {
  set_model_params(M, D, ratio, alpha, learning_rate);
  Training run;
  run.patterns = patterns;
  run.labels = labels;
  run.N = N;
  run.vigilance = vigilance;
  run.rules = SearchRules{compute_Tu(D, alpha), alpha, ct_option, oflag};
  run.search.start(vigilance, run.rules, N, patterns);
  mexAddFlops(tu_flops);
  run.outcome.run_flops = tu_flops;
  // The clock is read only for the summary that prints the seconds.
  if (oflag >= 1) run.outcome.start_seconds = whole_seconds(process_clock_ms());
  add_given_nodes(run, given);

  do {
    run.search.last_presentation(run.outcome.num_list_presentations + 1 >= max_list_presentations);
    run.outcome.converged = present_list(run);
  } while (!run.outcome.converged &&
           run.outcome.num_list_presentations < max_list_presentations);
  // The presentation that changed nothing is not counted.
  if (run.outcome.converged) run.outcome.num_list_presentations -= 1;
  num_list_presentations = run.outcome.num_list_presentations;
  if (counts != nullptr) *counts = run.search.counts();

  TrainingResults results;
  close_training(run.nodes, run.outcome, N, M, trim_option, oflag, results);
  num_templates = results.num_templates;
  template_rows = std::move(results.template_rows);
  template_labels = std::move(results.template_labels);
}

}  // namespace qir
