#include "call_runs.h"

#include "bench_support.h"
#include "workload.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace qirbench {

namespace {

// A fresh copy per measurement: the printed totals run on over its calls.
// `cpu` receives the processor time of all threads per call, on average.
TimedCall fresh_run(const std::string &path, const ClassificationSet &set, const PerfParams &params,
                    std::int32_t repeats, double &cpu) {
  const auto module = load(path);
  if (!module) return {};
  const std::clock_t start = std::clock();
  TimedCall t = fastest(repeats, [&] { return run_classification(*module, set.nodes, set.patterns, params); });
  cpu = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / repeats;
  return t;
}

// The ten inputs of a silent classification of the set (D 4, ratio 0.5,
// vigilance 0.5, alpha 0.01, CT on, unknown label -1, oflag 0).
std::vector<qirhost::ArrayPtr> silent_inputs(const ClassificationSet &set) {
  std::vector<qirhost::ArrayPtr> in;
  in.push_back(qirhost::make_rows(set.nodes.templates));
  in.push_back(qirhost::make_column(set.nodes.labels));
  for (double v : {4.0, 0.5, 0.5, 0.01, 1.0}) in.push_back(qirhost::make_scalar(v));
  in.push_back(qirhost::make_rows(set.patterns));
  in.push_back(qirhost::make_scalar(-1.0));
  in.push_back(qirhost::make_scalar(0.0));
  return in;
}

std::vector<const mxArray *> pointers(const std::vector<qirhost::ArrayPtr> &arrays) {
  std::vector<const mxArray *> raw;
  for (const auto &a : arrays) raw.push_back(a.get());
  return raw;
}

}  // namespace

void threads(const std::string &perf_path, std::int32_t patterns, std::int32_t nodes,
             std::int32_t features, std::int32_t repeats) {
  const std::int32_t most = std::max<std::int32_t>(2, std::thread::hardware_concurrency());
  std::printf("\nthreads: workload (a), %d patterns x %d nodes, M = %d, vigilance 0.5\n", patterns,
              nodes, features);
  const ClassificationSet set = classification_set(patterns, nodes, features, 0.5, 11);
  const PerfParams params;
  for (const char *prune : {"0", "1"}) {
    set_env("QIR_PRUNE", prune);
    TimedCall one;
    for (std::int32_t t = 1; t <= most; ++t) {
      set_env("QIR_THREADS", std::to_string(t));
      double cpu = 0.0;
      TimedCall run = fresh_run(perf_path, set, params, repeats, cpu);
      const double speed_up = t == 1 ? 1.0 : one.seconds / run.seconds;
      std::printf("  pruning %-3s %2d thread%s %8.3f s  %5.2fx one thread  (%.3f s of processor"
                  " time)\n", *prune == '1' ? "on" : "off", t, t == 1 ? " " : "s", run.seconds,
                  speed_up, cpu);
      if (t == 1)
        one = std::move(run);
      else
        check_identical("    against one thread", run, one);
    }
  }
  set_env("QIR_THREADS", "");
  set_env("QIR_PRUNE", "");
}

namespace {

// The tiny call's nodes and patterns.
ClassificationSet tiny_set() { return classification_set(10, 10, 16, 0.5, 61); }

bool write_csv(const std::string &path, const Rows &rows) {
  std::FILE *file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  for (const std::vector<double> &row : rows)
    for (std::size_t k = 0; k < row.size(); ++k)
      std::fprintf(file, "%.17g%c", row[k], k + 1 < row.size() ? ',' : '\n');
  return std::fclose(file) == 0;
}

}  // namespace

bool write_tiny_inputs(const std::string &dir) {
  const ClassificationSet set = tiny_set();
  Rows labels;
  for (double label : set.nodes.labels) labels.push_back({label});
  return write_csv(dir + "/templates.csv", set.nodes.templates) &&
         write_csv(dir + "/nlabels.csv", labels) && write_csv(dir + "/patterns.csv", set.patterns);
}

void tiny(const std::string &perf_path, const std::string &compare_path) {
  const auto module = load(perf_path);
  if (!module) return;
  const auto other = compare_path.empty() ? nullptr : load(compare_path);
  if (!compare_path.empty() && !other) return;
  const ClassificationSet set = tiny_set();
  std::vector<qirhost::ArrayPtr> in = silent_inputs(set);
  std::vector<const mxArray *> args = pointers(in);
  const std::vector<const mxArray *> refused(args.begin(), args.begin() + 3);
  qirhost::CallOptions options;
  options.record_flop_reports = false;
  // Rounds of calls; with another build, its rounds take turns with this
  // one's, so that both see the same load on a shared machine.
  const int calls = other ? 2000 : 20000;
  const int rounds = other ? 200 : 5;
  const auto round_time = [&](qirhost::Module &m, const std::vector<const mxArray *> &inputs) {
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < calls; ++k) m.call(1, inputs, options);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return s * 1e6 / calls;
  };
  const auto per_call = [&](const std::vector<const mxArray *> &inputs, double &best_other) {
    double best = 1e9;
    best_other = 1e9;
    for (int round = 0; round < rounds; ++round) {
      best = std::min(best, round_time(*module, inputs));
      if (other) best_other = std::min(best_other, round_time(*other, inputs));
    }
    return best;
  };
  std::printf("\ntiny call: 10 patterns x 10 nodes, M = 16, oflag 0, embedded host (best of %d x %d)\n",
              rounds, calls);
  double host_other = 0.0, oflag0_other = 0.0, oflag1_other = 0.0;
  const double host = per_call(refused, host_other);
  const double oflag0 = per_call(args, oflag0_other);
  in[9] = qirhost::make_scalar(1.0);
  args[9] = in[9].get();
  const double oflag1 = per_call(args, oflag1_other);
  const auto line = [&](const char *what, double us, double other_us) {
    if (other)
      std::printf("  %-37s %6.2f us  (other %6.2f us, %+.1f%%)\n", what, us, other_us,
                  100.0 * (us / other_us - 1.0));
    else
      std::printf("  %-37s %6.2f us\n", what, us);
  };
  line("refused at once (the host's own cost)", host, host_other);
  line("classification, oflag 0", oflag0, oflag0_other);
  line("classification, oflag 1 (summary)", oflag1, oflag1_other);
}

namespace {

// A field of /proc/self/status in KiB.
long status_kib(const char *field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

// Starts the peak-memory figure afresh (Linux: clear_refs 5).
bool reset_peak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear.flush());
}

}  // namespace

void memory(const std::string &perf_path, std::int32_t patterns) {
  const auto module = load(perf_path);
  if (!module) return;
  const ClassificationSet set = classification_set(patterns, 100, 16, 0.5, 71);
  const std::vector<qirhost::ArrayPtr> in = silent_inputs(set);
  const std::vector<const mxArray *> args = pointers(in);
  qirhost::CallOptions options;
  options.record_flop_reports = false;
  const double matrix_mib = static_cast<double>(patterns) * 16 * 8 / (1 << 20);
  std::printf("\nmemory: one classification of %d patterns x 16 (%.1f MiB), 100 nodes\n", patterns,
              matrix_mib);
  if (!reset_peak()) {
    std::printf("  (no peak-memory reset on this system)\n");
    return;
  }
  const long before = status_kib("VmRSS");
  const auto start = std::chrono::steady_clock::now();
  const qirhost::CallResult result = module->call(1, args, options);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double peak_mib = static_cast<double>(status_kib("VmHWM") - before) / 1024.0;
  std::printf("  peak on top of the inputs %.1f MiB = %.2fx the pattern matrix (%.2f s%s)\n",
              peak_mib, peak_mib / matrix_mib, s, result.error ? ", refused" : "");
}

}  // namespace qirbench
