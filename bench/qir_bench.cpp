// Benchmarks of the two modules, loaded from their built files into the
// embedded host, and of the evaluation kernels alone.
//
//   qir_bench [classify|train|large|scaling|kernels|threads|prune|tiny|memory|smoke|all]
//             [options]
//
// The "reference" modules are builds of the same sources with the plain
// node-at-a-time search; where they are built, every comparison also checks
// that both give identical results, console text and operation totals.
#include "bench_support.h"
#include "call_runs.h"
#include "kernel_runs.h"
#include "large_runs.h"
#include "prune_runs.h"
#include "module_runs.h"
#include "workload.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace qirbench;

struct Options {
  std::string command = "all";
  std::string perf = QIR_BENCH_PERF;
  std::string train = QIR_BENCH_TRAIN;
  std::string perf_reference = QIR_BENCH_PERF_REFERENCE;
  std::string train_reference = QIR_BENCH_TRAIN_REFERENCE;
  std::int32_t patterns = 100000;
  std::int32_t nodes = 1000;
  std::int32_t features = 16;
  std::int32_t reference_patterns = 10000;  // the plain search is slow
  std::int32_t train_patterns = 5000;
  std::int32_t large_patterns = 50000;
  bool large_reference = false;
  std::string large_sets = "all";
  bool large_sorted = true;
  std::vector<double> large_vigilances{0.0, 0.5, 0.9};
  std::string large_compare;
  bool large_forest = true;
  std::int32_t memory_patterns = 1000000;
  std::int32_t repeats = 1;
  std::string write_inputs;  // tiny: write the inputs there instead of timing
  std::string tiny_compare;
};

void usage() {
  std::puts(
      "usage: qir_bench [classify|train|large|scaling|kernels|threads|prune|tiny|memory|smoke|all]\n"
      "  --patterns N --nodes N --features M   classification size (100000, 1000, 16)\n"
      "  --reference-patterns N                patterns for the plain search (10000)\n"
      "  --train-patterns N                    training size (5000)\n"
      "  --large-patterns N                    overlapping workload of `large` (50000)\n"
      "  --large-reference 1                   `large`: also run the plain search and compare\n"
      "  --large-sets S                        `large`: overlapping, letters or all (all)\n"
      "  --large-sorted 0                      `large`: leave out the class-sorted variants\n"
      "  --large-vigilance V[,V...]            `large`: the vigilances (0,0.5,0.9)\n"
      "  --large-compare FILE                  `large`: time another build in turns with this one\n"
      "  --large-forest 0                      `large`: leave out the random forest\n"
      "  --repeats N                           keep the fastest of N runs (1)\n"
      "  --memory-patterns N                   patterns of the memory run (1000000)\n"
      "  --tiny-compare FILE                   `tiny`: time another build's qir_perf in turns with this one\n"
      "  --write-inputs DIR                    tiny, large: write the inputs as CSV files, no timing\n"
      "  --perf FILE --train FILE --perf-reference FILE --train-reference FILE");
}

// "0,0.5,0.9" as numbers.
std::vector<double> numbers(const std::string &text) {
  std::vector<double> out;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    out.push_back(std::atof(text.substr(at, comma - at).c_str()));
    at = comma + 1;
  }
  return out;
}

std::optional<Options> parse(int argc, char **argv) {
  Options o;
  int i = 1;
  if (i < argc && argv[i][0] != '-') o.command = argv[i++];
  for (; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char *value = argv[i + 1];
    if (key == "--patterns") o.patterns = std::atoi(value);
    else if (key == "--nodes") o.nodes = std::atoi(value);
    else if (key == "--features") o.features = std::atoi(value);
    else if (key == "--reference-patterns") o.reference_patterns = std::atoi(value);
    else if (key == "--train-patterns") o.train_patterns = std::atoi(value);
    else if (key == "--large-patterns") o.large_patterns = std::atoi(value);
    else if (key == "--large-reference") o.large_reference = std::atoi(value) != 0;
    else if (key == "--large-sets") o.large_sets = value;
    else if (key == "--large-sorted") o.large_sorted = std::atoi(value) != 0;
    else if (key == "--large-vigilance") o.large_vigilances = numbers(value);
    else if (key == "--large-compare") o.large_compare = value;
    else if (key == "--tiny-compare") o.tiny_compare = value;
    else if (key == "--large-forest") o.large_forest = std::atoi(value) != 0;
    else if (key == "--repeats") o.repeats = std::max(1, std::atoi(value));
    else if (key == "--memory-patterns") o.memory_patterns = std::atoi(value);
    else if (key == "--perf") o.perf = value;
    else if (key == "--train") o.train = value;
    else if (key == "--perf-reference") o.perf_reference = value;
    else if (key == "--train-reference") o.train_reference = value;
    else if (key == "--write-inputs") o.write_inputs = value;
    else return std::nullopt;
  }
  if (i != argc) return std::nullopt;
  return o;
}

// Selects the kernel that the modules' next calls use; empty: the best.
void use_kernel(const std::string &name) { set_env("QIR_MATCH_KERNEL", name); }

double classified_share(const TimedCall &t, double unknown) {
  if (t.result.error) return 0.0;
  const std::vector<double> labels = qirhost::values_of(t.result.outputs[0].get());
  const auto known = std::count_if(labels.begin(), labels.end(), [&](double x) { return x != unknown; });
  return labels.empty() ? 0.0 : 100.0 * static_cast<double>(known) / static_cast<double>(labels.size());
}

void print_row(const char *label, const char *kernel, std::int32_t P, std::int32_t N,
               const TimedCall &t) {
  const double evals = static_cast<double>(P) * N;
  if (t.result.error) {
    std::printf("  %-16s %-7s error: %s\n", label, kernel, t.result.error->c_str());
    return;
  }
  std::printf("  %-16s %-7s %8d patterns %9.3f s %8.2f ns/eval\n", label, kernel, P, t.seconds,
              evals > 0 ? t.seconds * 1e9 / evals : 0.0);
}

Rows head(const Rows &rows, std::int32_t n) {
  return Rows(rows.begin(), rows.begin() + std::min<std::size_t>(rows.size(), n));
}

// Nodes passing VT and candidates per pattern, from a traced run on the
// first patterns.
void describe_competition(const qirhost::Module &perf, const ClassificationSet &set,
                          PerfParams params) {
  params.oflag = 3;
  const Rows some = head(set.patterns, 200);
  const TimedCall t = run_classification(perf, set.nodes, some, params);
  const std::string &text = t.result.console;
  auto lines = [&](const std::string &key) {
    std::size_t n = 0;
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) ++n;
    return static_cast<double>(n) / static_cast<double>(some.size());
  };
  const double vt_fails = lines("fails VT");
  const double candidates = lines("is candidate");
  std::printf("  per pattern: %.1f nodes pass VT, %.1f candidates (first %zu patterns)\n",
              static_cast<double>(set.nodes.labels.size()) - vt_fails, candidates, some.size());
}

void classify(const Options &o) {
  std::printf("\nclassification: %d patterns x %d nodes, M = %d, D 4, ratio 0.5, vigilance 0.5,"
              " alpha 0.01, ct_option 1\n", o.patterns, o.nodes, o.features);
  const ClassificationSet set = classification_set(o.patterns, o.nodes, o.features, 0.5, 11);
  const Rows &patterns = set.patterns;
  const NodeSet &nodes = set.nodes;
  const PerfParams params;
  auto fast = load(o.perf);
  if (!fast) return;
  for (const char *kernel : {"", "sse2", "scalar"}) {
    use_kernel(kernel);
    const TimedCall t = fastest(o.repeats, [&] { return run_classification(*fast, nodes, patterns, params); });
    print_row("module", *kernel ? kernel : "best", o.patterns, o.nodes, t);
    if (!*kernel) {
      std::printf("  classified: %.1f%% of patterns; host operation total %lld\n",
                  classified_share(t, params.unknown_label), static_cast<long long>(t.result.flops));
      describe_competition(*fast, set, params);
    }
  }
  use_kernel("");
  // Fresh copies of both: the printed totals run on over a module's calls.
  fast.reset();  // unloads it first, or the new copy would be the same
  fast = load(o.perf);
  auto reference = load(o.perf_reference);
  if (!reference) {
    std::printf("  (no plain-search module to compare with)\n");
    return;
  }
  const Rows some = head(patterns, o.reference_patterns);
  const std::int32_t P = static_cast<std::int32_t>(some.size());
  const TimedCall f = fastest(o.repeats, [&] { return run_classification(*fast, nodes, some, params); });
  const TimedCall r = fastest(o.repeats, [&] { return run_classification(*reference, nodes, some, params); });
  print_row("module", "best", P, o.nodes, f);
  print_row("plain search", "-", P, o.nodes, r);
  std::printf("  speed-up on the same %d patterns: %.1fx\n", P, r.seconds / f.seconds);
  check_identical("module vs plain search", f, r);
}

void describe_training(const char *label, const char *kernel, const TimedCall &t) {
  if (t.result.error) {
    std::printf("  %-16s %-7s error: %s\n", label, kernel, t.result.error->c_str());
    return;
  }
  const auto &out = t.result.outputs;
  const std::size_t nodes = out.size() > 1 && out[1] ? qirhost::values_of(out[1].get()).size() : 0;
  const double presentations = out.size() > 2 && out[2] ? qirhost::values_of(out[2].get()).at(0) : 0;
  std::printf("  %-16s %-7s %9.3f s  %zu nodes exported, %g presentations, host operation total %lld\n",
              label, kernel, t.seconds, nodes, presentations, static_cast<long long>(t.result.flops));
}

void train(const Options &o) {
  std::printf("\ntraining: %d patterns, M = 16, 4 classes x 10 clusters, D 4, ratio 0.5,"
              " vigilance 0.5, alpha 0.01, learning_rate 1, 10 presentations, trim and CT on\n",
              o.train_patterns);
  const Labelled data = clustered_patterns(o.train_patterns, 16, 4, 10, 0.12, 21);
  const TrainParams params;
  auto fast = load(o.train);
  if (!fast) return;
  TimedCall best;
  for (const char *kernel : {"", "sse2", "scalar"}) {
    use_kernel(kernel);
    // A fresh copy for each: the printed totals run on over a module's calls.
    fast.reset();
    fast = load(o.train);
    TimedCall t = fastest(o.repeats, [&] { return run_training(*fast, data, params); });
    describe_training("module", *kernel ? kernel : "best", t);
    if (!*kernel) best = std::move(t);
  }
  use_kernel("");
  auto reference = load(o.train_reference);
  if (!reference) {
    std::printf("  (no plain-search module to compare with)\n");
    return;
  }
  const TimedCall r = fastest(o.repeats, [&] { return run_training(*reference, data, params); });
  describe_training("plain search", "-", r);
  std::printf("  speed-up: %.1fx\n", r.seconds / best.seconds);
  check_identical("module vs plain search", best, r);
}

// Cost against nodes and features at a fixed number of patterns; the
// geometry is scaled with M so that the same share of nodes passes VT.
// The slope between neighbouring points is the cost of one more
// evaluation, free of the per-pattern costs of the call.
void scaling(const Options &o) {
  auto fast = load(o.perf);
  if (!fast) return;
  const PerfParams params;
  const std::int32_t P = 5000;
  std::printf("\nscaling (classification module, best kernel, %d patterns)\n", P);
  std::printf("  %6s %4s %10s %10s %14s %16s\n", "nodes", "M", "seconds", "ns/eval",
              "ns/(eval*M)", "slope ns/eval");
  double last_seconds = 0.0, last_evals = 0.0;
  auto point = [&](std::int32_t N, std::int32_t M, bool slope) {
    const ClassificationSet set = classification_set(P, N, M, 0.5, 31, std::sqrt(16.0 / M));
    const TimedCall t = fastest(std::max(o.repeats, 3), [&] {
      return run_classification(*fast, set.nodes, set.patterns, params);
    });
    const double evals = static_cast<double>(P) * N;
    const double ns = t.seconds * 1e9 / evals;
    std::printf("  %6d %4d %10.4f %10.2f %14.3f", N, M, t.seconds, ns, ns / M);
    if (slope) std::printf(" %16.2f", (t.seconds - last_seconds) * 1e9 / (evals - last_evals));
    std::printf("\n");
    last_seconds = t.seconds;
    last_evals = evals;
  };
  bool first = true;
  for (std::int32_t N : {100, 300, 1000, 3000, 10000}) {
    point(N, 16, !first);
    first = false;
  }
  for (std::int32_t M : {2, 4, 8, 16, 32, 64}) point(1000, M, false);
}

void kernels(const Options &o) {
  const std::int32_t P = std::min(o.patterns, 20000);
  std::printf("\nevaluation alone (no module call): %d patterns x %d nodes, M = %d\n", P, o.nodes,
              o.features);
  const ClassificationSet set = classification_set(P, o.nodes, o.features, 0.5, 11);
  const std::vector<KernelTiming> t = time_kernels(set.nodes, set.patterns, 4.0, 0.5);
  for (const KernelTiming &k : t)
    std::printf("  %-10s %8.2f ns/eval  (%.1fx node_match)\n", k.name.c_str(), k.ns_per_eval,
                t[0].ns_per_eval / k.ns_per_eval);
}

// Small runs of both modules on every kernel; fails on any difference.
void smoke(const Options &o) {
  auto perf = load(o.perf), perf_ref = load(o.perf_reference);
  auto tr = load(o.train), tr_ref = load(o.train_reference);
  const ClassificationSet set = classification_set(300, 37, 5, 0.5, 41);
  const Rows &patterns = set.patterns;
  const NodeSet &nodes = set.nodes;
  const Labelled data = clustered_patterns(200, 5, 3, 4, 0.1, 43);
  PerfParams pp;
  pp.oflag = 3;
  TrainParams tp;
  tp.oflag = 4;
  for (const char *kernel : {"scalar", "sse2", "avx2", "neon"}) {
    use_kernel(kernel);
    std::printf("kernel %s\n", kernel);
    if (perf && perf_ref)
      check_identical("classification", run_classification(*perf, nodes, patterns, pp),
                      run_classification(*perf_ref, nodes, patterns, pp));
    if (tr && tr_ref)
      check_identical("training", run_training(*tr, data, tp), run_training(*tr_ref, data, tp));
  }
  use_kernel("");
}

}  // namespace

int main(int argc, char **argv) {
  const std::optional<Options> options = parse(argc, argv);
  if (!options) {
    usage();
    return 2;
  }
  const Options &o = *options;
  const std::string &c = o.command;
  if (!o.write_inputs.empty() && c == "large") {
    if (write_large_inputs(o.write_inputs, o.large_patterns)) return 0;
    std::fprintf(stderr, "qir_bench: cannot write the inputs to %s\n", o.write_inputs.c_str());
    return 1;
  }
  if (!o.write_inputs.empty()) {
    if (c != "tiny") {
      usage();
      return 2;
    }
    if (write_tiny_inputs(o.write_inputs)) return 0;
    std::fprintf(stderr, "qir_bench: cannot write the inputs to %s\n", o.write_inputs.c_str());
    return 1;
  }
  if (c == "smoke") smoke(o);
  if (c == "classify" || c == "all") classify(o);
  if (c == "train" || c == "all") train(o);
  if (c == "large") {
    LargeOptions l;
    l.train_path = o.train;
    if (o.large_reference) l.reference_path = o.train_reference;
    l.compare_path = o.large_compare;
    l.patterns = o.large_patterns;
    l.sets = o.large_sets;
    l.sorted = o.large_sorted;
    l.vigilances = o.large_vigilances;
    l.repeats = o.repeats;
    if (o.large_forest) l.forest_script = QIR_BENCH_FOREST_SCRIPT;
    large(l);
  }
  if (c == "kernels" || c == "all") kernels(o);
  if (c == "scaling" || c == "all") scaling(o);
  if (c == "threads" || c == "all") threads(o.perf, o.patterns, o.nodes, o.features, o.repeats);
  if (c == "prune" || c == "all")
    prune(o.perf, o.train, o.patterns, o.train_patterns, o.repeats);
  if (c == "tiny" || c == "all") tiny(o.perf, o.tiny_compare);
  if (c == "memory" || c == "all") memory(o.perf, o.memory_patterns);
  return mismatches() == 0 ? 0 : 1;
}
