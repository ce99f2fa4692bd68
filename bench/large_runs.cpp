#include "large_runs.h"

#include "bench_support.h"
#include "module_runs.h"
#include "model/training_defaults.h"
#include "workload.h"

#include "host_memory.h"
#include "qirhost/host.h"
#include "run_training.h"
#include "search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace qirbench {

namespace {

// The qir command's defaults for one member, at the given vigilance, but
// up to the most list presentations, whatever the data's size: the search's
// workload from one release to the next. Every generated feature varies,
// so D counts all M.
TrainParams defaults(std::int32_t M, double vigilance) {
  const qir::TrainingDefaults &d = qir::training_defaults;
  TrainParams p;
  p.D = qir::default_D(static_cast<std::size_t>(M));
  p.ratio = d.ratio;
  p.vigilance = vigilance;
  p.alpha = d.alpha;
  p.learning_rate = d.learning_rate;
  p.max_list_presentations = d.max_presentations;
  p.trim_option = d.trim;
  p.ct_option = d.ct;
  p.oflag = d.oflag;
  return p;
}

// The patterns, then the label, one pattern per line; false when the file
// cannot be written.
bool write_csv(const Labelled &data, const std::string &path) {
  std::ofstream out(path);
  out.precision(17);
  for (std::size_t j = 0; j < data.patterns.size(); ++j) {
    for (double x : data.patterns[j]) out << x << ',';
    out << data.labels[j] << '\n';
  }
  return static_cast<bool>(out);
}

// Seconds of the forest's fit as the script prints them; negative when it
// cannot run.
double forest_seconds(const Labelled &data, const std::string &script) {
  if (script.empty() || std::system("/usr/bin/python3 -c 'import sklearn' 2>/dev/null") != 0)
    return -1.0;
  const std::string csv = "qir_bench_forest.csv", result = "qir_bench_forest.txt";
  write_csv(data, csv);
  const std::string command = "/usr/bin/python3 " + script + " " + csv + " > " + result;
  double seconds = -1.0;
  if (std::system(command.c_str()) == 0) std::ifstream(result) >> seconds;
  std::remove(csv.c_str());
  std::remove(result.c_str());
  return seconds;
}

double process_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One training call of a fresh copy of the module; seconds of process
// time (training runs on the calling thread), which a busy machine
// disturbs less than wall time.
TimedCall train_once(const std::string &path, const Labelled &data, double vigilance) {
  auto module = load(path);
  if (!module) return TimedCall{};
  const std::int32_t M = static_cast<std::int32_t>(data.patterns[0].size());
  const double start = process_seconds();
  TimedCall t = run_training(*module, data, defaults(M, vigilance));
  t.seconds = process_seconds() - start;
  return t;
}

// What the module's own training search left out, run in this process on
// the same data (the module gives no such figure).
qir::SearchCounts left_out(const Labelled &data, const TrainParams &p) {
  const auto N = static_cast<std::int32_t>(data.patterns.size());
  const auto M = static_cast<std::int32_t>(data.patterns[0].size());
  std::vector<const double *> rows;
  for (const auto &x : data.patterns) rows.push_back(x.data());
  qir::SearchCounts counts;
  qirhost::run_call(0, [&](mxArray **) {
    std::int32_t templates = 0, presentations = 0;
    qir::HostRows template_rows;
    qir::HostVector template_labels;
    qir::run_training(N, M, rows.data(), data.labels.data(), qir::GivenNodes{}, p.D, p.ratio,
                      p.vigilance, p.alpha, p.learning_rate,
                      static_cast<std::int32_t>(p.max_list_presentations),
                      static_cast<std::int32_t>(p.trim_option),
                      static_cast<std::int32_t>(p.ct_option), templates, template_rows,
                      template_labels, presentations, 0, &counts);
  });
  return counts;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

void run_one(const std::string &name, const Labelled &data, const LargeOptions &o) {
  const double forest = forest_seconds(data, o.forest_script);
  if (forest >= 0)
    std::printf("  %-24s random forest (100 trees, 2 jobs) fit %8.2f s (wall)\n", name.c_str(),
                forest);
  for (double vigilance : o.vigilances) {
    std::vector<double> times, others;
    TimedCall t, other;
    for (std::int32_t r = 0; r < o.repeats; ++r) {
      t = train_once(o.train_path, data, vigilance);
      times.push_back(t.seconds);
      if (o.compare_path.empty()) continue;
      other = train_once(o.compare_path, data, vigilance);
      others.push_back(other.seconds);
    }
    const auto &out = t.result.outputs;
    const std::size_t nodes = out.size() > 1 && out[1] ? qirhost::values_of(out[1].get()).size() : 0;
    const double presentations = out.size() > 2 && out[2] ? qirhost::values_of(out[2].get()).at(0) : 0;
    std::printf("  %-24s vigilance %.1f  %8.2f s  %6zu nodes  %3g presentations\n", name.c_str(),
                vigilance, median(times), nodes, presentations);
    const std::int32_t M = static_cast<std::int32_t>(data.patterns[0].size());
    const qir::SearchCounts counts = left_out(data, defaults(M, vigilance));
    std::printf("  %-24s   node evaluations left out %5.1f %% (%llu of %llu)\n", "",
                100.0 * static_cast<double>(counts.left_out) /
                    static_cast<double>(std::max<std::uint64_t>(counts.evaluations, 1)),
                static_cast<unsigned long long>(counts.left_out),
                static_cast<unsigned long long>(counts.evaluations));
    if (!o.compare_path.empty()) {
      std::printf("  %-24s   compared build %8.2f s  (this build %.3fx as fast)\n", "",
                  median(others), median(others) / median(times));
      check_identical(name.c_str(), t, other);
    }
    if (o.reference_path.empty()) continue;
    const TimedCall ref = train_once(o.reference_path, data, vigilance);
    std::printf("  %-24s   plain search %8.2f s  (%.1fx)\n", "", ref.seconds,
                ref.seconds / median(times));
    check_identical(name.c_str(), t, ref);
  }
}

}  // namespace

bool write_large_inputs(const std::string &dir, std::int32_t patterns) {
  bool ok = true;
  for (bool sorted : {false, true}) {
    const std::string tag = sorted ? "_sorted" : "";
    ok = write_csv(overlapping_clusters(patterns, 2026, sorted),
                   dir + "/overlapping_" + std::to_string(patterns) + tag + ".csv") && ok;
    ok = write_csv(letters_like(16000, 2026, sorted), dir + "/letters_16000" + tag + ".csv") && ok;
  }
  return ok;
}

void large(const LargeOptions &o) {
  const qir::TrainingDefaults &d = qir::training_defaults;
  std::printf("\ntraining at scale (one member with the qir command's defaults: D sqrt(M), ratio %g,"
              " alpha %g, but up to %g presentations, patterns scaled to [0, 1]; process time,"
              " median of %d)\n",
              d.ratio, d.alpha, d.max_presentations, o.repeats);
  const bool overlapping = o.sets == "all" || o.sets == "overlapping";
  const bool letters = o.sets == "all" || o.sets == "letters";
  for (bool sorted : {false, true}) {
    if (sorted && !o.sorted) break;
    const std::string tag = sorted ? ", by class" : "";
    if (overlapping)
      run_one("overlapping " + std::to_string(o.patterns) + tag,
              overlapping_clusters(o.patterns, 2026, sorted), o);
    if (letters) run_one("letters-like 16000" + tag, letters_like(16000, 2026, sorted), o);
  }
}

}  // namespace qirbench
