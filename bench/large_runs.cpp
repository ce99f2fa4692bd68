#include "large_runs.h"

#include "bench_support.h"
#include "module_runs.h"
#include "workload.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace qirbench {

namespace {

// The qir command's defaults, at the given vigilance.
TrainParams defaults(std::int32_t M, double vigilance) {
  TrainParams p;
  p.D = std::sqrt(static_cast<double>(M));
  p.ratio = 0.5;
  p.vigilance = vigilance;
  p.alpha = 0.1;
  p.learning_rate = 1.0;
  p.max_list_presentations = 100.0;
  p.trim_option = 0.0;
  p.ct_option = 0.0;
  p.oflag = 1.0;
  return p;
}

// Seconds of the forest's fit as the script prints them; negative when it
// cannot run.
double forest_seconds(const Labelled &data, const std::string &script) {
  if (script.empty() || std::system("/usr/bin/python3 -c 'import sklearn' 2>/dev/null") != 0)
    return -1.0;
  const std::string csv = "qir_bench_forest.csv", result = "qir_bench_forest.txt";
  {
    std::ofstream out(csv);
    out.precision(17);
    for (std::size_t j = 0; j < data.patterns.size(); ++j) {
      for (double x : data.patterns[j]) out << x << ',';
      out << data.labels[j] << '\n';
    }
  }
  const std::string command = "/usr/bin/python3 " + script + " " + csv + " > " + result;
  double seconds = -1.0;
  if (std::system(command.c_str()) == 0) std::ifstream(result) >> seconds;
  std::remove(csv.c_str());
  std::remove(result.c_str());
  return seconds;
}

void run_one(const char *name, const Labelled &data, const std::string &train_path,
             const std::string &reference_path, const std::string &forest_script) {
  const std::int32_t M = static_cast<std::int32_t>(data.patterns[0].size());
  const double forest = forest_seconds(data, forest_script);
  if (forest >= 0)
    std::printf("  %-22s random forest (100 trees, 2 jobs) fit %8.2f s\n", name, forest);
  for (double vigilance : {0.0, 0.5, 0.9}) {
    auto module = load(train_path);
    if (!module) return;
    const TimedCall t = run_training(*module, data, defaults(M, vigilance));
    const auto &out = t.result.outputs;
    const std::size_t nodes = out.size() > 1 && out[1] ? qirhost::values_of(out[1].get()).size() : 0;
    const double presentations = out.size() > 2 && out[2] ? qirhost::values_of(out[2].get()).at(0) : 0;
    std::printf("  %-22s vigilance %.1f  %8.2f s  %6zu nodes  %3g presentations\n", name, vigilance,
                t.seconds, nodes, presentations);
    if (reference_path.empty()) continue;
    auto reference = load(reference_path);
    if (!reference) continue;
    const TimedCall r = run_training(*reference, data, defaults(M, vigilance));
    std::printf("  %-22s   plain search %8.2f s  (%.1fx)\n", "", r.seconds, r.seconds / t.seconds);
    check_identical(name, t, r);
  }
}

}  // namespace

void large(const std::string &train_path, const std::string &reference_path,
           std::int32_t patterns, const std::string &forest_script) {
  std::printf("\ntraining at scale (defaults: D sqrt(M), ratio 0.5, alpha 0.1, 100 presentations,"
              " patterns scaled to [0, 1])\n");
  for (bool sorted : {false, true}) {
    const std::string tag = sorted ? ", by class" : "";
    run_one(("overlapping " + std::to_string(patterns) + tag).c_str(),
            overlapping_clusters(patterns, 2026, sorted), train_path, reference_path, forest_script);
    run_one(("letters-like 16000" + tag).c_str(), letters_like(16000, 2026, sorted), train_path,
            reference_path, forest_script);
  }
}

}  // namespace qirbench
