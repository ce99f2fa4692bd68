// The _qir extension: the library's fit, continuation, predict, cv, search
// and model files for Python, the model held as the library's own record. Patterns go from NumPy straight into host arrays (the one copy
// the host needs), labels come back as NumPy arrays, the modules' console
// text is returned to the caller, and module errors become Python exceptions.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qir.h"
#include "qirhost/host.h"

namespace py = pybind11;

namespace {

// Any memory layout: patterns are read through their strides, so neither
// C- nor Fortran-ordered arrays are copied before the host's own copy.
using Matrix = py::array_t<double, py::array::forcecast>;
using Vector = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Ctrl-C while QIR works on any thread. Python runs its own SIGINT handler
// only on the main thread and only between bytecodes, so a module call, or
// the copying and scaling before it, would otherwise run to its end: on a
// Dask worker thread, or on the main thread inside one long C++ step. While
// any thread is inside an interruptible section (a fit or predict), a
// handler of ours takes SIGINT: it asks the running module call to stop
// between patterns, and every section open at that moment ends at its next
// check with KeyboardInterrupt("<MODULE>: Interrupted."), also the calls
// still waiting for their turn. A second Ctrl-C while the first is still
// pending goes on to Python's own handler.
// The handler touches only lock-free atomics.
qirhost::InterruptFlag stop_request;
std::atomic<unsigned> sigint_count{0};
std::atomic<bool> sigint_pending{false};  // taken, and no fit or predict has ended since
static_assert(std::atomic<unsigned>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the SIGINT handler may only touch lock-free atomics");

struct PreviousHandler {
  struct sigaction action {};
  std::atomic<bool> is_function{false};
};

#if defined(__unix__) || defined(__APPLE__)
PreviousHandler previous_sigint;

extern "C" void on_sigint(int signal) {
  if (sigint_pending.load() && previous_sigint.is_function.load()) {
    previous_sigint.action.sa_handler(signal);
    return;
  }
  sigint_pending.store(true);
  sigint_count.fetch_add(1);
  stop_request.request();
}
#endif

// Our handler stays in place while at least one section is open.
class SigintHook {
 public:
  // The stop request lasts while a section that a Ctrl-C caught is open,
  // between the members of an ensemble too; the first section after it
  // starts without it.
  static void enter() {
    const std::lock_guard<std::mutex> guard(lock());
    if (open_sections()++ > 0) return;
    stop_request.clear();
#if defined(__unix__) || defined(__APPLE__)
    struct sigaction action {};
    action.sa_handler = on_sigint;
    sigemptyset(&action.sa_mask);
    struct sigaction before {};
    if (sigaction(SIGINT, &action, &before) != 0) return;
    previous_sigint.action = before;
    previous_sigint.is_function.store(!(before.sa_flags & SA_SIGINFO) &&
                                      before.sa_handler != SIG_DFL &&
                                      before.sa_handler != SIG_IGN);
    installed() = true;
#endif
  }
  static void leave() {
    const std::lock_guard<std::mutex> guard(lock());
    if (--open_sections() > 0) return;
    stop_request.clear();
#if defined(__unix__) || defined(__APPLE__)
    if (installed()) sigaction(SIGINT, &previous_sigint.action, nullptr);
    installed() = false;
#endif
  }

 private:
  static std::mutex &lock() {
    static auto *mutex = new std::mutex;
    return *mutex;
  }
  static int &open_sections() {
    static int count = 0;
    return count;
  }
  static bool &installed() {
    static bool flag = false;
    return flag;
  }
};

// Raised by a section's checks; becomes KeyboardInterrupt.
struct SectionInterrupted {
  std::string message;
};

// A Ctrl-C that our handler took belongs to the main thread too, as it
// would without us: when the interrupted work ran on another thread and no
// section of the main thread will raise it there, the main thread gets the
// same KeyboardInterrupt at its next step (once per Ctrl-C).
unsigned long main_thread = 0;  // Python's id of its main thread
std::atomic<int> main_sections{0};
std::atomic<unsigned> passed_on{0};  // the sigint_count last raised on the main thread

bool on_main_thread() { return PyThread_get_thread_ident() == main_thread; }

int raise_on_main_thread(void *message) {
  PyErr_SetString(PyExc_KeyboardInterrupt, static_cast<const char *>(message));
  return -1;
}

void pass_on_to_main_thread(const std::string &module) {
  unsigned seen = passed_on.load();
  const unsigned now = sigint_count.load();
  if (seen == now) return;
  if (on_main_thread() || main_sections.load() > 0) {
    passed_on.store(now);  // the main thread's own section raises it
    return;
  }
  if (!passed_on.compare_exchange_strong(seen, now)) return;
  static const char train[] = "QIR_TRAIN: Interrupted.", perf[] = "QIR_PERF: Interrupted.";
  Py_AddPendingCall(raise_on_main_thread,
                    const_cast<char *>(module == "QIR_PERF" ? perf : train));
}

// One fit or predict, from its first Python step to its last: sections
// nest on a thread, and the outermost one decides, so a call that began
// waiting or copying before a Ctrl-C is stopped by it.
class Interruptible {
 public:
  explicit Interruptible(std::string module) : module_(std::move(module)) {}
  void enter() {
    SigintHook::enter();
    start_ = sigint_count.load();
    outer_ = outermost;
    if (outer_ == nullptr) outermost = this;
    main_ = on_main_thread();
    if (main_) ++main_sections;
  }
  void leave() {
    if (outermost == this) {
      outermost = outer_;
      if (interrupted()) pass_on_to_main_thread(module_);
      sigint_pending.store(false);
    }
    if (main_) --main_sections;
    SigintHook::leave();
  }
  bool interrupted() const { return sigint_count.load() != start_; }
  std::string message() const { return module_ + ": Interrupted."; }

  // Throws when the thread's outermost section was interrupted.
  static void check() {
    if (outermost != nullptr && outermost->interrupted())
      throw SectionInterrupted{outermost->message()};
  }

 private:
  static thread_local Interruptible *outermost;
  std::string module_;
  unsigned start_ = 0;
  Interruptible *outer_ = nullptr;
  bool main_ = false;
};
thread_local Interruptible *Interruptible::outermost = nullptr;

// A section for the length of one binding call, inside the caller's own if
// there is one.
class SectionScope {
 public:
  explicit SectionScope(const char *module) : section_(module) { section_.enter(); }
  ~SectionScope() { section_.leave(); }
  SectionScope(const SectionScope &) = delete;
  SectionScope &operator=(const SectionScope &) = delete;

 private:
  Interruptible section_;
};

// Long copies look at the stop request every this many elements.
constexpr std::size_t check_interval = std::size_t{1} << 16;

// The package's own copy of the module files (qir/modules), when it has
// one: installed packages do, the build tree's does not.
std::string &packaged_modules() {
  static auto *folder = new std::string;
  return *folder;
}

std::string modules_folder() { return qir::module_directory(std::nullopt, packaged_modules()); }

// One runner per process: the modules are loaded on first use and stay
// loaded. Their state is module-wide, so calls are serialised.
struct Modules {
  std::mutex lock;
  std::optional<qir::ModuleRunner> runner;
  std::string console;
  std::vector<std::string> warnings;

  qir::ModuleRunner &get() {
    if (!runner) {
      runner.emplace(modules_folder());
      runner->set_console({[this](std::string_view text) { console.append(text); },
                           [this](std::string_view text) { warnings.emplace_back(text); }});
      runner->set_interrupt(&stop_request);
    }
    console.clear();
    warnings.clear();
    return *runner;
  }
};

Modules &modules() {
  static Modules *instance = new Modules;  // never destroyed: modules stay until exit
  return *instance;
}

qirhost::ArrayPtr host_column(const Vector &values) {
  if (values.ndim() != 1) throw py::value_error("labels must be a one-dimensional array");
  const auto rows = static_cast<std::size_t>(values.shape(0));
  qirhost::ArrayPtr array(mxCreateDoubleMatrix(rows, 1, mxREAL));
  if (!array) throw std::bad_alloc();
  if (rows != 0) std::memcpy(mxGetPr(array.get()), values.data(), rows * sizeof(double));
  return array;
}

// Hands a vector to NumPy without copying it.
py::array_t<double> to_numpy(std::vector<double> &&values) {
  auto *owned = new std::vector<double>(std::move(values));
  py::capsule release(owned, [](void *p) { delete static_cast<std::vector<double> *>(p); });
  return py::array_t<double>(static_cast<py::ssize_t>(owned->size()), owned->data(), release);
}

py::array_t<double> templates_to_numpy(const qir::Member &member, int features) {
  const std::size_t width = 2 * member.width(features) + 1;
  py::array_t<double> out({member.templates.size(), width});
  auto view = out.mutable_unchecked<2>();
  for (std::size_t k = 0; k < member.templates.size(); ++k)
    for (std::size_t j = 0; j < width; ++j) view(k, j) = member.templates[k][j];
  return out;
}

// The training defaults under the Python keywords of their parameters; the
// most list presentations as the largest default limit.
py::dict defaults_dict(const qir::TrainingDefaults &defaults) {
  py::dict d;
  for (const qir::Parameter &row : qir::parameter_table)
    if (row.field != nullptr && !std::isnan(row.default_value))
      d[py::str(std::string(row.python))] = row.default_value;
  const qir::Parameter &limit = qir::parameter("max_presentations");
  d[py::str(std::string(limit.python))] = defaults.max_presentations;
  return d;
}

py::dict params_dict(const qir::TrainingParams &p) {
  py::dict d;
  for (const qir::Parameter &row : qir::parameter_table)
    if (row.field != nullptr) d[py::str(std::string(row.python))] = p.*row.field;
  return d;
}

// Console text and warnings of one call, for the Python side's logger.
struct CallText {
  std::string console;
  std::vector<std::string> warnings;
  py::tuple to_python() const { return py::make_tuple(console, warnings); }
};

CallText take_text(Modules &m) { return {std::move(m.console), std::move(m.warnings)}; }

qir::VotingSettings voting_settings(const py::dict &d) {
  qir::VotingSettings voting;
  voting.voters = d["voters"].cast<int>();
  voting.seed = d["seed"].cast<std::uint64_t>();
  voting.shuffle = d["shuffle"].cast<bool>();
  if (d.contains("max_features")) voting.max_features = d["max_features"].cast<double>();
  if (d.contains("bootstrap")) voting.bootstrap = d["bootstrap"].cast<bool>();
  if (d.contains("oob_weights")) voting.oob_weights = d["oob_weights"].cast<bool>();
  if (d.contains("max_samples")) voting.max_samples = d["max_samples"].cast<double>();
  if (d.contains("screen")) voting.screen = d["screen"].cast<bool>();
  return voting;
}

py::dict voting_dict(const qir::VotingSettings &voting) {
  py::dict d;
  d["voters"] = voting.voters;
  d["seed"] = voting.seed;
  d["shuffle"] = voting.shuffle;
  d["max_features"] = voting.max_features;
  d["bootstrap"] = voting.bootstrap;
  d["oob_weights"] = voting.oob_weights;
  d["max_samples"] = voting.max_samples;
  return d;
}

// `qir search` on patterns and class codes: the chosen setting (the
// defaults unless a setting beats them by more than its standard error).
qir::Dataset dataset_of(const Matrix &patterns, const Vector &labels) {
  if (patterns.ndim() != 2 || labels.ndim() != 1 || labels.shape(0) != patterns.shape(0))
    throw py::value_error("patterns must be N x M and labels N values");
  qir::Dataset data;
  const auto view = patterns.unchecked<2>();
  for (py::ssize_t r = 0; r < view.shape(0); ++r) {
    std::vector<double> row;
    for (py::ssize_t c = 0; c < view.shape(1); ++c) row.push_back(view(r, c));
    data.patterns.push_back(std::move(row));
  }
  data.labels.assign(labels.data(), labels.data() + labels.shape(0));
  return data;
}

// The training arguments given; D and the presentation limit left out of
// `params` are each training fold's defaults, as the command's are.
qir::TrainingParams cv_params(const py::dict &params, qir::CvSettings &settings) {
  qir::TrainingParams p;
  for (const qir::Parameter &row : qir::parameter_table) {
    const py::str keyword(std::string(row.python));
    if (row.field != nullptr && params.contains(keyword))
      p.*row.field = params[keyword].cast<double>();
  }
  settings.default_D_per_fold = !params.contains(std::string(qir::parameter("D").python));
  settings.default_presentations_per_fold =
      !params.contains(std::string(qir::parameter("max_presentations").python));
  return p;
}

// The scaling's code, the parameter table's place of its word (True: 1, minmax).
qir::Scaling scaling_of(int code) {
  if (!(code >= 0 && code <= static_cast<int>(qir::Scaling::automatic)))
    throw py::value_error("scale must be " + qir::allowed_text(qir::parameter("scale")) +
                          " (True: minmax, False: none)");
  return static_cast<qir::Scaling>(code);
}

qir::CvSettings cv_settings(int folds, std::uint64_t seed, int scale, const py::dict &voting,
                            int workers) {
  qir::CvSettings settings;
  settings.folds = folds;
  settings.seed = seed;
  settings.scaling = scaling_of(scale);
  settings.voting = voting_settings(voting);
  settings.workers = workers;
  return settings;
}

py::dict cv_dict(qir::CvResult &&result) {
  std::vector<double> accuracy, unknown, nodes, presentations, seconds;
  for (const auto &fold : result.folds) {
    accuracy.push_back(fold.accuracy_percent());
    unknown.push_back(fold.unknown_percent());
    nodes.push_back(static_cast<double>(fold.nodes));
    presentations.push_back(fold.presentations);
    seconds.push_back(fold.train_seconds + fold.classify_seconds);
  }
  py::dict d;
  d["accuracy"] = result.accuracy_percent();
  d["unknown"] = result.unknown_percent();
  d["nodes"] = result.nodes();
  d["seconds"] = result.seconds();
  d["fold_accuracy"] = to_numpy(std::move(accuracy));
  d["fold_unknown"] = to_numpy(std::move(unknown));
  d["fold_nodes"] = to_numpy(std::move(nodes));
  d["fold_presentations"] = to_numpy(std::move(presentations));
  d["fold_seconds"] = to_numpy(std::move(seconds));
  d["true_labels"] = to_numpy(std::move(result.true_labels));
  d["assigned_labels"] = to_numpy(std::move(result.assigned_labels));
  d["unknown_label"] = result.unknown_label;
  return d;
}

// A fold's outcome as plain values, to travel between processes exactly.
py::tuple fold_to_python(qir::FoldOutcome &&outcome) {
  const auto &r = outcome.result;
  return py::make_tuple(r.patterns, r.correct, r.unknown, r.nodes, r.presentations,
                        r.train_seconds, r.classify_seconds,
                        to_numpy(std::move(outcome.true_labels)),
                        to_numpy(std::move(outcome.assigned_labels)));
}

qir::FoldOutcome fold_from_python(const py::handle &item) {
  const auto t = item.cast<py::tuple>();
  qir::FoldOutcome outcome;
  auto &r = outcome.result;
  r.patterns = t[0].cast<std::size_t>();
  r.correct = t[1].cast<std::size_t>();
  r.unknown = t[2].cast<std::size_t>();
  r.nodes = t[3].cast<std::size_t>();
  r.presentations = t[4].cast<double>();
  r.train_seconds = t[5].cast<double>();
  r.classify_seconds = t[6].cast<double>();
  outcome.true_labels = t[7].cast<std::vector<double>>();
  outcome.assigned_labels = t[8].cast<std::vector<double>>();
  return outcome;
}

// `qir cv` on patterns and class codes.
py::dict cross_validate(const Matrix &patterns, const Vector &labels, const py::dict &params,
                        int folds, std::uint64_t seed, int scale, const py::dict &voting,
                        int workers) {
  const SectionScope section("QIR_TRAIN");
  const qir::Dataset data = dataset_of(patterns, labels);
  auto settings = cv_settings(folds, seed, scale, voting, workers);
  const qir::TrainingParams p = cv_params(params, settings);
  Modules &m = modules();
  qir::CvResult result;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    Interruptible::check();
    qir::Progress line;
    result = qir::cross_validate(m.get(), data, p, settings, [&](int fold) {
      line.show("fold " + std::to_string(fold + 1) + "/" + std::to_string(folds));
    });
    take_text(m);
  }
  return cv_dict(std::move(result));
}

// The outcomes of the given folds of `qir cv` (all when `only` is None), for
// folds and settings run as tasks in other processes.
py::list cross_validate_folds(const Matrix &patterns, const Vector &labels,
                              const py::dict &params, int folds, std::uint64_t seed, int scale,
                              const py::dict &voting, const py::dict &defaults_per_fold,
                              const py::object &only) {
  const SectionScope section("QIR_TRAIN");
  const qir::Dataset data = dataset_of(patterns, labels);
  auto settings = cv_settings(folds, seed, scale, voting, 1);
  const qir::TrainingParams p = cv_params(params, settings);
  if (!defaults_per_fold.empty()) {
    settings.default_D_per_fold = defaults_per_fold["D"].cast<bool>();
    settings.default_presentations_per_fold =
        defaults_per_fold["max_list_presentations"].cast<bool>();
  }
  std::vector<int> wanted;
  if (only.is_none()) {
    for (int k = 0; k < folds; ++k) wanted.push_back(k);
  } else {
    wanted = only.cast<std::vector<int>>();
  }
  Modules &m = modules();
  std::vector<qir::FoldOutcome> outcomes;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    for (int fold : wanted) {
      Interruptible::check();
      outcomes.push_back(qir::cross_validate_fold(m.get(), data, p, settings, fold));
    }
    take_text(m);
  }
  py::list out;
  for (auto &outcome : outcomes) out.append(fold_to_python(std::move(outcome)));
  return out;
}

// cross-validation's result from its folds' outcomes, in fold order.
py::dict combine_folds(const Vector &labels, const py::list &outcomes) {
  qir::Dataset data;
  data.labels.assign(labels.data(), labels.data() + labels.shape(0));
  std::vector<qir::FoldOutcome> folds;
  for (const auto &item : outcomes) folds.push_back(fold_from_python(item));
  return cv_dict(qir::combine_folds(data, std::move(folds)));
}

// The search's settings cross-validated by `evaluate` (a Python callable
// given [(params, voting)] and the cross-validation's settings, returning
// each setting's fold outcomes), when given; by this process otherwise.
qir::CandidateEvaluator candidate_evaluator(const py::object &evaluate, const qir::Dataset &data) {
  if (evaluate.is_none()) return {};
  return [evaluate, &data](std::vector<qir::SearchCandidate> &candidates,
                    const qir::CvSettings &settings) {
    py::gil_scoped_acquire locked;
    py::list given;
    for (const auto &c : candidates) {
      // The screen travels with the setting, though a model does not keep it.
      py::dict voting = voting_dict(c.voting);
      voting["screen"] = c.voting.screen;
      given.append(py::make_tuple(params_dict(c.params), voting));
    }
    py::dict shared;
    shared["folds"] = settings.folds;
    shared["seed"] = settings.seed;
    shared["scale"] = static_cast<int>(settings.scaling);
    shared["defaults_per_fold"] =
        py::dict(py::arg("D") = settings.default_D_per_fold,
                 py::arg("max_list_presentations") = settings.default_presentations_per_fold);
    const py::list results = evaluate(given, shared);
    if (results.size() != candidates.size())
      throw py::value_error("the search's evaluator returned the wrong number of results");
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      std::vector<qir::FoldOutcome> folds;
      for (const auto &item : results[k].cast<py::list>()) folds.push_back(fold_from_python(item));
      candidates[k].result = qir::combine_folds(data, std::move(folds));
    }
  };
}

py::dict search(const Matrix &patterns, const Vector &labels, int folds, std::uint64_t seed,
                int scale, const py::object &evaluate, bool choose_scaling) {
  const SectionScope section("QIR_TRAIN");
  const qir::Dataset data = dataset_of(patterns, labels);
  qir::CvSettings settings;
  settings.folds = folds;
  settings.seed = seed;
  settings.scaling = scaling_of(scale);
  settings.voting = qir::default_voting(seed);
  Modules &m = modules();
  qir::SearchOutcome outcome;
  {
    const auto evaluator = candidate_evaluator(evaluate, data);
    py::gil_scoped_release unlocked;
    // Settings evaluated elsewhere leave this process's modules free.
    std::unique_lock<std::mutex> guard(m.lock);
    qir::ModuleRunner &runner = m.get();
    if (evaluator) guard.unlock();
    Interruptible::check();
    qir::Progress line;
    outcome = qir::run_search(runner, data, settings,
                              [&line](const std::string &step) { line.show(step); }, evaluator,
                              choose_scaling);
    if (!evaluator) take_text(m);
  }
  const auto rows = [](const std::vector<qir::SearchCandidate> &candidates) {
    py::list out;
    for (const auto &c : candidates) {
      py::dict row = params_dict(c.params);
      row["n_voters"] = c.voting.voters;
      row["scale"] = static_cast<int>(c.scaling);
      row["accuracy"] = c.result.accuracy_percent();
      row["unknown"] = c.result.unknown_percent();
      row["nodes"] = c.result.nodes();
      row["gain"] = c.gain;
      row["gain_error"] = c.gain_error;
      out.append(row);
    }
    return out;
  };
  py::dict d;
  d["scalings"] = rows(outcome.scalings);
  d["screened"] = rows(outcome.screened);
  d["finalists"] = rows(outcome.finalists);
  d["defaults"] = rows({outcome.defaults})[0];
  d["params"] = params_dict(outcome.chosen.params);
  d["n_voters"] = outcome.chosen.voting.voters;
  d["scale"] = static_cast<int>(outcome.chosen.scaling);
  d["accuracy"] = outcome.chosen.result.accuracy_percent();
  d["defaults_accuracy"] = outcome.defaults.result.accuracy_percent();
  d["gain"] = outcome.chosen.gain;
  d["gain_error"] = outcome.chosen.gain_error;
  d["kept_defaults"] = outcome.kept_defaults;
  d["seconds"] = outcome.seconds;
  return d;
}

// The stream demos' batches: (test rows, [rows of each batch], late class,
// 0-based batch where it first appears).
py::tuple stream_plan(const Vector &labels, int batches, std::uint64_t seed) {
  const auto plan =
      qir::stream_plan({labels.data(), labels.data() + labels.size()}, batches, seed);
  const auto rows = [](const std::vector<std::size_t> &values) {
    py::array_t<py::ssize_t> out(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
  };
  py::list batch_rows;
  for (const auto &batch : plan.batches) batch_rows.append(rows(batch));
  return py::make_tuple(rows(plan.test), batch_rows, plan.late_class, plan.late_batch);
}

// Patterns and labels given as text (class names, or numbers when the
// model's classes are numbers) as the library's data, labelled as the model is.
qir::Dataset picture_data(const qir::Model &model, const Matrix &patterns,
                          const std::vector<std::string> &labels) {
  qir::Dataset data;
  if (patterns.ndim() != 2) throw py::value_error("X must be a two-dimensional array");
  const auto in = patterns.unchecked<2>();
  for (py::ssize_t r = 0; r < patterns.shape(0); ++r) {
    std::vector<double> row(static_cast<std::size_t>(patterns.shape(1)));
    for (py::ssize_t c = 0; c < patterns.shape(1); ++c) row[static_cast<std::size_t>(c)] = in(r, c);
    data.patterns.push_back(std::move(row));
  }
  if (labels.empty()) return data;
  if (labels.size() != data.patterns.size())
    throw py::value_error("y has " + std::to_string(labels.size()) + " labels for " +
                          std::to_string(data.patterns.size()) + " patterns");
  if (!model.class_names.empty()) {
    data.class_names = model.class_names;
    data.labels = qir::labels_of_names(labels, data.class_names);
    return data;
  }
  for (const auto &text : labels) {
    const auto number = qir::parse_number(text);
    if (!number) throw py::value_error("label '" + text + "' is not a number, as the model's classes are");
    data.labels.push_back(*number);
  }
  return data;
}

// A picture of the model: the library's pictures, as `qir plot --show`
// draws them.
std::string picture(const qir::Model &model, const std::string &what, const Matrix &patterns,
                    const std::vector<std::string> &labels, const std::string &title,
                    const std::vector<double> &features, const py::object &test_patterns,
                    const std::vector<std::string> &test_labels) {
  const SectionScope section("QIR_PERF");
  const qir::Dataset data = picture_data(model, patterns, labels);
  std::optional<qir::Dataset> test;
  if (!test_patterns.is_none())
    test = picture_data(model, test_patterns.cast<Matrix>(), test_labels);
  Modules &m = modules();
  py::gil_scoped_release unlocked;
  std::lock_guard<std::mutex> guard(m.lock);
  Interruptible::check();
  std::string svg = qir::draw_picture(m.get(), model, what, data, test ? &*test : nullptr, title,
                                      features);
  take_text(m);
  return svg;
}


// The command's line chart: panels as (title, y label, [(name, values,
// dashed)], y from zero).
std::string line_chart(const std::string &title, const std::string &x_label,
                       const std::vector<double> &x, const py::list &panels, double marker_x,
                       const std::string &marker_text) {
  qir::LineChart chart{title, x_label, x, {}, marker_x, marker_text};
  for (const auto &item : panels) {
    const auto panel = item.cast<py::tuple>();
    qir::ChartPanel drawn{panel[0].cast<std::string>(), panel[1].cast<std::string>(), {},
                             panel[3].cast<bool>()};
    for (const auto &line : panel[2].cast<py::list>()) {
      const auto l = line.cast<py::tuple>();
      drawn.lines.push_back(
          {l[0].cast<std::string>(), l[1].cast<std::vector<double>>(), l[2].cast<bool>()});
    }
    chart.panels.push_back(std::move(drawn));
  }
  return qir::render_line_chart(chart);
}

// The command's scaling of the patterns, on a C-ordered copy.
py::array_t<double> scale(const Matrix &patterns, const std::vector<double> &lo,
                          const std::vector<double> &hi) {
  if (patterns.ndim() != 2 || lo.size() != static_cast<std::size_t>(patterns.shape(1)) ||
      hi.size() != static_cast<std::size_t>(patterns.shape(1)))
    throw py::value_error("patterns must have one column per scaling range");
  py::array_t<double> scaled({patterns.shape(0), patterns.shape(1)});
  const auto in = patterns.unchecked<2>();
  const auto rows = static_cast<std::size_t>(in.shape(0));
  const auto cols = static_cast<std::size_t>(in.shape(1));
  const std::size_t rows_per_check = std::max<std::size_t>(1, check_interval / std::max<std::size_t>(1, cols));
  double *out = scaled.mutable_data();
  for (std::size_t first = 0; first < rows; first += rows_per_check) {
    Interruptible::check();
    const std::size_t count = std::min(rows_per_check, rows - first);
    double *block = out + first * cols;
    for (std::size_t r = 0; r < count; ++r)
      for (std::size_t c = 0; c < cols; ++c)
        block[r * cols + c] = in(static_cast<py::ssize_t>(first + r), static_cast<py::ssize_t>(c));
    qir::scale_rows(block, count, cols, lo, hi);
  }
  return scaled;
}

// The training range of each feature, as the command fits it.
// Taken a few rows at a time, so that no row-by-row copy of the whole data
// is made (its many small pieces would stay with the process once freed).
py::tuple feature_range(const Matrix &patterns) {
  if (patterns.ndim() != 2) throw py::value_error("patterns must be a two-dimensional array");
  const auto in = patterns.unchecked<2>();
  const auto cols = static_cast<std::size_t>(in.shape(1));
  const std::size_t step = std::max<std::size_t>(1, check_interval / std::max<std::size_t>(1, cols));
  std::vector<std::vector<double>> rows;
  qir::FeatureRange range;
  for (py::ssize_t first = 0; first < in.shape(0); first += static_cast<py::ssize_t>(step)) {
    const auto last = std::min(in.shape(0), first + static_cast<py::ssize_t>(step));
    rows.resize(static_cast<std::size_t>(last - first), std::vector<double>(cols));
    for (py::ssize_t r = first; r < last; ++r)
      for (py::ssize_t c = 0; c < in.shape(1); ++c)
        rows[static_cast<std::size_t>(r - first)][static_cast<std::size_t>(c)] = in(r, c);
    const auto part = qir::fit_feature_range(rows);
    if (range.min.empty()) {
      range = part;
      continue;
    }
    for (std::size_t k = 0; k < cols; ++k) {
      range.min[k] = std::min(range.min[k], part.min[k]);
      range.max[k] = std::max(range.max[k], part.max[k]);
    }
  }
  return py::make_tuple(to_numpy(std::move(range.min)), to_numpy(std::move(range.max)));
}

// A view of `patterns` for the library's scans. NumPy views may step
// backwards or by odd byte counts: those are copied into `copy` first.
qir::PatternView pattern_view(const Matrix &patterns,
                                 py::array_t<double, py::array::c_style | py::array::forcecast> &copy) {
  if (patterns.ndim() != 2) throw py::value_error("patterns must be a two-dimensional array");
  const py::array *data = &patterns;
  if (patterns.strides(0) < 0 || patterns.strides(1) < 0 ||
      patterns.strides(0) % sizeof(double) != 0 || patterns.strides(1) % sizeof(double) != 0) {
    copy = std::remove_reference_t<decltype(copy)>::ensure(patterns);
    data = &copy;
  }
  return {static_cast<const double *>(data->data()), static_cast<std::size_t>(data->shape(0)),
          static_cast<std::size_t>(data->shape(1)),
          static_cast<std::size_t>(data->strides(0)) / sizeof(double),
          static_cast<std::size_t>(data->strides(1)) / sizeof(double)};
}

std::size_t varying_features(const Matrix &patterns) {
  py::array_t<double, py::array::c_style | py::array::forcecast> copy;
  return qir::varying_features(pattern_view(patterns, copy));
}

// The library's model as Python holds it (qir._qir.Model): QIRClassifier's
// fitted attributes are read from it, as read-only views where its layout
// is one block of memory. A model never changes once made (training makes
// a new one), so the views stay valid while they keep it alive.
using HeldModel = std::shared_ptr<qir::Model>;

py::array read_only(py::array array) {
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

py::array view_of(const std::vector<double> &values, const py::handle &owner) {
  if (values.empty()) return read_only(py::array_t<double>(0));
  return read_only(py::array_t<double>(static_cast<py::ssize_t>(values.size()), values.data(),
                                       owner));
}

py::object optional_view(const std::vector<double> &values, const py::handle &owner) {
  if (values.empty()) return py::none();
  return view_of(values, owner);
}

// The rows of `blocks`, one after the other, as the model's members see
// them: scaled by `range` when it has one, straight into the one host
// array, through a buffer of a few rows (no scaled copy of the whole data
// beside it: on a Dask worker the blocks are often all it can hold).
qirhost::ArrayPtr model_patterns(const std::vector<Matrix> &blocks,
                                 const qir::FeatureScaling &scaling) {
  if (blocks.empty()) throw py::value_error("patterns must have at least one block");
  std::size_t rows = 0;
  const Matrix &front = blocks.front();
  const auto cols = static_cast<std::size_t>(front.ndim() == 2 ? front.shape(1) : 0);
  for (const Matrix &block : blocks) {
    if (block.ndim() != 2) throw py::value_error("patterns must be a two-dimensional array");
    if (static_cast<std::size_t>(block.shape(1)) != cols)
      throw py::value_error("the blocks of patterns must have the same columns");
    rows += static_cast<std::size_t>(block.shape(0));
  }
  const std::size_t scaled = scaling.kind == qir::Scaling::rank ? scaling.values.size()
                                                                 : scaling.low.size();
  const bool paired = scaling.kind == qir::Scaling::rank || scaling.high.size() == scaled;
  if (scaling.kind != qir::Scaling::none && (scaled != cols || !paired))
    throw py::value_error("patterns must have one column per scaling range");
  qirhost::ArrayPtr array(mxCreateDoubleMatrix(rows, cols, mxREAL));
  if (!array) throw std::bad_alloc();
  double *out = mxGetPr(array.get());
  const std::size_t step = std::max<std::size_t>(1, check_interval / std::max<std::size_t>(1, cols));
  std::vector<double> buffer(std::min(step, rows) * cols);
  std::size_t placed = 0;
  for (const Matrix &block : blocks) {
    const auto in = block.unchecked<2>();
    const auto count = static_cast<std::size_t>(in.shape(0));
    for (std::size_t first = 0; first < count; first += step) {
      Interruptible::check();
      const std::size_t taken = std::min(step, count - first);
      for (std::size_t r = 0; r < taken; ++r)
        for (std::size_t c = 0; c < cols; ++c)
          buffer[r * cols + c] =
              in(static_cast<py::ssize_t>(first + r), static_cast<py::ssize_t>(c));
      qir::scale_rows(buffer.data(), taken, cols, scaling);
      for (std::size_t c = 0; c < cols; ++c)
        for (std::size_t r = 0; r < taken; ++r) out[c * rows + placed + r] = buffer[r * cols + c];
      placed += taken;
    }
  }
  return array;
}

qirhost::ArrayPtr model_patterns(const Matrix &patterns, const qir::FeatureScaling &scaling) {
  return model_patterns(std::vector<Matrix>{patterns}, scaling);
}

// A host matrix as the modules' seam takes it, borrowed.
qir::PatternMatrix pattern_matrix(const mxArray *matrix) {
  const auto dims = qirhost::dims_of(matrix);
  return {mxGetPr(matrix), dims.at(0), dims.at(1)};
}

// The training arguments given (D and the presentation limit may be left
// out) with the rest as the data decide: a first fit takes the defaults for
// its scaled data and ensemble, a continuation keeps what the model had.
qir::TrainingParams resolved_params(const py::dict &given, const qir::Model *start,
                                    const mxArray *patterns, const qir::VotingSettings &voting) {
  qir::TrainingParams p;
  for (const qir::Parameter &row : qir::parameter_table) {
    const py::str keyword(std::string(row.python));
    if (row.field == nullptr) continue;
    if (given.contains(keyword)) {
      p.*row.field = given[keyword].cast<double>();
    } else if (start != nullptr) {
      p.*row.field = start->params.*row.field;
    } else if (row.field == &qir::TrainingParams::D) {
      const auto dims = qirhost::dims_of(patterns);
      p.D = qir::default_D(qir::varying_features(
          qir::PatternView{mxGetPr(patterns), dims.at(0), dims.at(1), 1, dims.at(0)}));
    } else if (row.field == &qir::TrainingParams::max_presentations) {
      p.max_presentations = qir::default_max_presentations(
          qir::member_rows(qirhost::dims_of(patterns).at(0), voting), voting.voters);
    } else {
      throw py::value_error("missing training argument " + std::string(row.python));
    }
  }
  return p;
}

// None or (min, max): the ranges that members trained apart share.
qir::FeatureScaling range_of(const py::object &scaling) {
  if (scaling.is_none()) return {};
  const auto given = scaling.cast<std::pair<std::vector<double>, std::vector<double>>>();
  return {qir::Scaling::min_max, given.first, given.second, {}, {}};
}

// None, (min, max), or the code of a scaling fitted on `patterns` (standard
// and rank take the rows whole, which min-max ranges need not).
qir::FeatureScaling scaling_given(const py::object &scaling, const Matrix &patterns) {
  if (scaling.is_none()) return {};
  if (py::isinstance<py::int_>(scaling)) {
    const auto in = patterns.unchecked<2>();
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(in.shape(0)),
                                          std::vector<double>(static_cast<std::size_t>(in.shape(1))));
    for (py::ssize_t r = 0; r < in.shape(0); ++r)
      for (py::ssize_t c = 0; c < in.shape(1); ++c)
        rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = in(r, c);
    return qir::fit_scaling(scaling_of(scaling.cast<int>()), rows);
  }
  const auto given = scaling.cast<std::pair<std::vector<double>, std::vector<double>>>();
  return {qir::Scaling::min_max, given.first, given.second, {}, {}};
}

// What a fit adds to the members: its scaling ranges, the class names that
// label a node (in label order), the names of its features.
void finish_model(qir::Model &model, qir::FeatureScaling scaling, qir::ClassNames class_names,
                  std::vector<std::string> feature_names) {
  qir::keep_scaling(model, std::move(scaling));
  model.feature_names = std::move(feature_names);
  std::sort(class_names.begin(), class_names.end());
  model.class_names = std::move(class_names);
  qir::keep_names_with_nodes(model);
}

// fit (no `start`) and partial_fit (going on from `start`): the library's
// ensemble training on patterns scaled by `scaling` ((min, max) or None; a
// continuation keeps start's), labelled as the model file labels them. The
// model keeps those of `class_names` that label a node, and the feature
// names (start's when going on). With `progress`, a progress line is shown
// on a terminal's standard error after a second.
py::tuple fit(const Matrix &patterns, const Vector &labels, const py::dict &params, double oflag,
              const py::object &voting, int workers, bool progress, const py::object &scaling,
              qir::ClassNames class_names, std::vector<std::string> feature_names,
              const HeldModel &start) {
  const SectionScope section("QIR_TRAIN");
  const qir::FeatureScaling fitted =
      start ? qir::model_scaling(*start) : scaling_given(scaling, patterns);
  // A continuation keeps the model's ensemble but draws the rows this call
  // asks for: the draw is the training's, not the model's.
  HeldModel going_on = start;
  if (start && !voting.is_none()) {
    const double rows = voting.cast<py::dict>()["max_samples"].cast<double>();
    if (rows != start->voting.max_samples) {
      auto copy = std::make_shared<qir::Model>(*start);
      copy->voting.max_samples = rows;
      going_on = copy;
    }
  }
  const auto settings = going_on ? going_on->voting : voting_settings(voting.cast<py::dict>());
  auto x = model_patterns(patterns, fitted);
  auto y = host_column(labels);
  const auto p = resolved_params(params, going_on.get(), x.get(), settings);
  Modules &m = modules();
  auto model = std::make_shared<qir::Model>();
  CallText text;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    Interruptible::check();
    qir::Progress line(1.0);
    qir::EnsembleOptions options;
    options.workers = workers;
    if (progress && line.shown())
      options.on_progress = [&line](const qir::MemberProgress &step) {
        line.show(qir::training_step(step.member, step.members, step.presentation, step.nodes));
      };
    const qir::PatternMatrix xs = pattern_matrix(x.get());
    const std::vector<double> ys = qirhost::values_of(y.get());
    *model = going_on ? qir::continue_ensemble(m.get(), *going_on, xs, ys, p, oflag, options)
                   : qir::train_ensemble(m.get(), xs, ys, p, settings, oflag, options);
    text = take_text(m);
  }
  finish_model(*model, fitted, std::move(class_names),
               start ? start->feature_names : std::move(feature_names));
  return py::make_tuple(model, text.to_python());
}

// Member `member` of the ensemble that fit (no `start`) or partial_fit
// (`start`: the member's nodes before the model's batch `batch`) trains:
// the library's own member, so that members trained in other processes
// make fit's model. Parameters left out of `params` are resolved from these
// patterns as fit resolves them. `patterns` is a list of row blocks, taken
// one after the other. (member, the training parameters used, the modules'
// warnings, which the caller shows where fit would have.)
//
// `features`: the ensemble's features (ensemble_features below, of the same
// patterns, labels, voting and scaling), found once for all the members;
// None: found here, for this member alone.
py::tuple train_member(const std::vector<Matrix> &patterns, const Vector &labels,
                       const py::dict &params, const py::dict &voting, int member,
                       const py::object &scaling, const std::shared_ptr<qir::Member> &start,
                       std::uint64_t batch,
                       const std::optional<std::vector<std::size_t>> &features) {
  const SectionScope section("QIR_TRAIN");
  const auto settings = voting_settings(voting);
  auto x = model_patterns(patterns, range_of(scaling));
  auto y = host_column(labels);
  const auto p = resolved_params(params, nullptr, x.get(), settings);
  Modules &m = modules();
  auto trained = std::make_shared<qir::Member>();
  CallText text;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    Interruptible::check();
    *trained = qir::train_ensemble_member(m.get(), pattern_matrix(x.get()),
                                          qirhost::values_of(y.get()), p, settings, member,
                                          start.get(), batch, features ? &*features : nullptr);
    text = take_text(m);
  }
  return py::make_tuple(trained, params_dict(p), text.warnings);
}

// The features every new member of the ensemble that train_member trains
// chooses among (the screen's, when `voting` asks for it), the patterns
// scaled as there: ascending 0-based columns, empty for all of them.
std::vector<std::size_t> ensemble_features(const std::vector<Matrix> &patterns,
                                           const Vector &labels, const py::dict &voting,
                                           const py::object &scaling) {
  const SectionScope section("QIR_TRAIN");
  const auto settings = voting_settings(voting);
  auto x = model_patterns(patterns, range_of(scaling));
  auto y = host_column(labels);
  py::gil_scoped_release unlocked;
  return qir::ensemble_features(pattern_matrix(x.get()), qirhost::values_of(y.get()), settings);
}

// The model of members trained apart, as fit would have made it.
HeldModel assemble_model(const std::vector<std::shared_ptr<qir::Member>> &members, int features,
                         const py::dict &params, const py::dict &voting, std::uint64_t batches,
                         const py::object &scaling, qir::ClassNames class_names,
                         std::vector<std::string> feature_names) {
  std::vector<qir::Member> copies;
  for (const auto &member : members) copies.push_back(*member);
  qir::TrainingParams p;
  for (const qir::Parameter &row : qir::parameter_table)
    if (row.field != nullptr) p.*row.field = params[py::str(std::string(row.python))].cast<double>();
  auto model = std::make_shared<qir::Model>(qir::assemble_ensemble(
      std::move(copies), features, p, voting_settings(voting), batches));
  finish_model(*model, range_of(scaling), std::move(class_names), std::move(feature_names));
  return model;
}

// The members' vote on patterns (scaled here as the model scales) among
// `classes` (ascending model-file labels), the library's predict: (labels,
// shares, votes). With `best_fit`, a pattern that no member classifies gets
// the vote of the members' best-fitting nodes. With `labels_only`, each
// pattern's vote ends once it is settled: no shares (patterns x 0), and
// votes are 0 exactly where no member voted.
py::tuple predict(const HeldModel &model, const Matrix &patterns, const Vector &classes,
                  double unknown_label, bool best_fit, double oflag, bool labels_only) {
  const SectionScope section("QIR_PERF");
  if (patterns.ndim() != 2 || patterns.shape(1) != model->features)
    throw py::value_error("patterns must have one column per feature of the model");
  qir::ClassifyParams p;
  p.D = model->params.D;
  p.ratio = model->params.ratio;
  p.vigilance = model->params.vigilance;
  p.alpha = model->params.alpha;
  p.ct = model->params.ct;
  p.unknown_label = unknown_label;
  p.oflag = oflag;
  qir::PredictOptions options;
  options.best_fit_for_unknown = best_fit;
  options.needs = labels_only ? qir::VoteNeeds::labels : qir::VoteNeeds::everything;
  options.classes.assign(classes.data(), classes.data() + classes.size());
  if (!std::is_sorted(options.classes.begin(), options.classes.end()))
    throw py::value_error("the classes must be in ascending order");
  auto x = model_patterns(patterns, qir::model_scaling(*model));
  Modules &m = modules();
  qir::VoteResult result;
  CallText text;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    Interruptible::check();
    result = qir::predict_ensemble(m.get(), *model, pattern_matrix(x.get()), p, options);
    text = take_text(m);
  }
  const auto rows = static_cast<py::ssize_t>(result.labels.size());
  const auto width =
      static_cast<py::ssize_t>(rows > 0 && result.shares.empty() ? 0 : result.classes.size());
  py::array_t<double> shares({rows, width});
  std::copy(result.shares.begin(), result.shares.end(), shares.mutable_data());
  py::array_t<int> votes(rows);
  std::copy(result.votes.begin(), result.votes.end(), votes.mutable_data());
  return py::make_tuple(to_numpy(std::move(result.labels)), shares, votes, text.to_python());
}

// Every node's label, member after member, and each member's node count.
py::tuple node_labels(const qir::Model &model) {
  std::vector<double> labels;
  py::array_t<py::ssize_t> counts(static_cast<py::ssize_t>(model.members.size()));
  auto count = counts.mutable_unchecked<1>();
  for (std::size_t k = 0; k < model.members.size(); ++k) {
    const auto &member = model.members[k].labels;
    labels.insert(labels.end(), member.begin(), member.end());
    count(static_cast<py::ssize_t>(k)) = static_cast<py::ssize_t>(member.size());
  }
  return py::make_tuple(read_only(to_numpy(std::move(labels))), read_only(counts));
}

void bind_model(py::module_ &m) {
  py::class_<qir::Model, HeldModel>(m, "Model",
                                    "The library's model: what fit learned, as the model file "
                                    "holds it. Read-only.")
      .def_property_readonly("features", [](const qir::Model &model) { return model.features; })
      .def_property_readonly("batches", [](const qir::Model &model) { return model.batches; })
      .def_property_readonly("voting", [](const qir::Model &model) { return voting_dict(model.voting); })
      .def_property_readonly("params", [](const qir::Model &model) { return params_dict(model.params); })
      .def_property_readonly("scaling", [](const qir::Model &model) {
        return qir::choice_word(qir::parameter("scale"), static_cast<double>(model.scaling()));
      })
      .def_property_readonly("feature_min", [](const py::object &self) {
        return optional_view(self.cast<const qir::Model &>().feature_min, self);
      })
      .def_property_readonly("feature_max", [](const py::object &self) {
        return optional_view(self.cast<const qir::Model &>().feature_max, self);
      })
      .def_property_readonly("feature_names",
                             [](const qir::Model &model) { return model.feature_names; })
      .def_property_readonly("class_names",
                             [](const qir::Model &model) { return model.class_names; })
      // Each member's template rows (copies: a member keeps a row per node).
      .def_property_readonly("member_templates", [](const qir::Model &model) {
        py::list out;
        for (const auto &member : model.members)
          out.append(read_only(templates_to_numpy(member, model.features)));
        return out;
      })
      // The features each member sees (0-based, ascending); None: all.
      .def_property_readonly("member_features", [](const qir::Model &model) {
        py::list out;
        for (const auto &member : model.members) {
          if (member.features.empty()) {
            out.append(py::none());
            continue;
          }
          py::array_t<std::int64_t> indexes(static_cast<py::ssize_t>(member.features.size()));
          auto view = indexes.mutable_unchecked<1>();
          for (std::size_t k = 0; k < member.features.size(); ++k)
            view(static_cast<py::ssize_t>(k)) = static_cast<std::int64_t>(member.features[k]);
          out.append(read_only(indexes));
        }
        return out;
      })
      .def_property_readonly("first_templates", [](const qir::Model &model) {
        return read_only(templates_to_numpy(model.members.front(), model.features));
      })
      .def_property_readonly("first_labels", [](const py::object &self) {
        return view_of(self.cast<const qir::Model &>().members.front().labels, self);
      })
      .def_property_readonly("list_presentations", [](const qir::Model &model) {
        std::vector<double> counts;
        for (const auto &member : model.members) counts.push_back(member.list_presentations);
        return read_only(to_numpy(std::move(counts)));
      })
      .def("node_labels", &node_labels)
      // The classes as the library maps them: labels ascending, and their
      // names (none for numeric labels).
      .def("classes", [](const qir::Model &model) {
        auto classes = qir::model_classes(model);
        return py::make_tuple(to_numpy(std::move(classes.labels)), classes.names);
      })
      .def("save", [](const qir::Model &model, const std::string &path) {
        qir::save_model(path, model);
      }, py::arg("path"))
      .def("__eq__", [](const qir::Model &model, const qir::Model &other) {
        return qir::format_model(model) == qir::format_model(other);
      })
      // Pickled as its model file's text, which reads back to the same model.
      .def(py::pickle(
          [](const qir::Model &model) { return py::bytes(qir::format_model(model)); },
          [](const py::bytes &text) {
            return std::make_shared<qir::Model>(
                qir::parse_model(std::string(text), "a pickled model"));
          }));
  // One member's nodes, pickled as its arrays (exact).
  py::class_<qir::Member, std::shared_ptr<qir::Member>>(m, "Member")
      .def_property_readonly("nodes", [](const qir::Member &member) {
        return member.labels.size();
      })
      .def_property_readonly("list_presentations",
                             [](const qir::Member &member) { return member.list_presentations; })
      .def(py::pickle(
          [](const qir::Member &member) {
            const int features = member.templates.empty()
                                     ? 0
                                     : static_cast<int>(member.templates.front().size() - 1) / 2;
            return py::make_tuple(templates_to_numpy(member, features),
                                  to_numpy(std::vector<double>(member.labels)),
                                  member.list_presentations, member.features);
          },
          [](const py::tuple &state) {
            auto member = std::make_shared<qir::Member>();
            const auto templates = state[0].cast<py::array_t<double, py::array::c_style>>();
            const auto rows = templates.unchecked<2>();
            for (py::ssize_t k = 0; k < rows.shape(0); ++k)
              member->templates.emplace_back(templates.data(k, 0),
                                             templates.data(k, 0) + rows.shape(1));
            member->labels = state[1].cast<std::vector<double>>();
            member->list_presentations = state[2].cast<double>();
            if (state.size() > 3) member->features = state[3].cast<std::vector<std::size_t>>();
            return member;
          }));
  m.def("train_member", &train_member, py::arg("patterns"), py::arg("labels"), py::arg("params"),
        py::arg("voting"), py::arg("member"), py::arg("scaling"), py::arg("start") = py::none(),
        py::arg("batch") = 0, py::arg("features") = py::none());
  m.def("ensemble_features", &ensemble_features, py::arg("patterns"), py::arg("labels"),
        py::arg("voting"), py::arg("scaling"));
  m.def("assemble_model", &assemble_model, py::arg("members"), py::arg("features"),
        py::arg("params"), py::arg("voting"), py::arg("batches"), py::arg("scaling"),
        py::arg("class_names"), py::arg("feature_names"));
  m.def("read_model", [](const std::string &path) {
    return std::make_shared<qir::Model>(qir::load_model(path));
  }, py::arg("path"));
  m.def("fit", &fit, py::arg("patterns"), py::arg("labels"), py::arg("params"),
        py::arg("oflag"), py::arg("voting"), py::arg("workers"), py::arg("progress"),
        py::arg("scaling"), py::arg("class_names"), py::arg("feature_names"),
        py::arg("start") = py::none());
  m.def("predict", &predict, py::arg("model"), py::arg("patterns"), py::arg("classes"),
        py::arg("unknown_label"), py::arg("best_fit"), py::arg("oflag"),
        py::arg("labels_only") = false);
}

// The library's warnings about training data: a list of (kind, text).
py::list data_warnings(const Matrix &patterns, const Vector &labels) {
  py::array_t<double, py::array::c_style | py::array::forcecast> copy;
  const qir::PatternView view = pattern_view(patterns, copy);
  if (labels.ndim() != 1 || labels.shape(0) != patterns.shape(0))
    throw py::value_error("data_warnings needs one label per pattern");
  py::list out;
  for (const auto &warning :
       qir::training_data_warnings(view, labels.data(), qir::python_feature_naming()))
    out.append(py::make_tuple(warning.kind, warning.text));
  return out;
}

py::dict training_defaults() {
  py::dict d = defaults_dict(qir::training_defaults);
  d["oflag"] = qir::training_defaults.oflag;
  const qir::Scaling scaling = qir::training_defaults.scaling;
  if (scaling == qir::Scaling::min_max || scaling == qir::Scaling::none)
    d["scale"] = scaling == qir::Scaling::min_max;
  else
    d["scale"] = qir::choice_word(qir::parameter("scale"), static_cast<double>(scaling));
  d["voters"] = qir::training_defaults.voters;
  d["shuffle"] = qir::training_defaults.shuffle;
  d["max_features"] = qir::training_defaults.max_features;
  d["bootstrap"] = qir::training_defaults.bootstrap;
  d["oob_weights"] = qir::training_defaults.oob_weights;
  d["max_samples"] = qir::training_defaults.max_samples;
  d["screen"] = qir::training_defaults.screen;
  d["seed"] = qir::training_defaults.seed;
  d["training_work"] = qir::training_defaults.training_work;
  d["fewest_presentations"] = qir::training_defaults.fewest_presentations;
  return d;
}

// The parameter table (parameters.h), one dict per parameter; `default`
// is None where the data decide (`default_text` says how).
py::list parameter_table() {
  py::list rows;
  for (const qir::Parameter &row : qir::parameter_table) {
    py::dict d;
    d["name"] = std::string(row.name);
    d["train_input"] = row.train_input;
    d["perf_input"] = row.perf_input;
    d["module_name"] = std::string(row.module_name);
    d["flag"] = std::string(row.flag);
    d["toolbox"] = std::string(row.toolbox);
    d["python"] = std::string(row.python);
    d["model_key"] = std::string(row.model_key);
    d["default"] = std::isnan(row.default_value) ? py::object(py::none())
                                                 : py::object(py::float_(row.default_value));
    d["default_text"] = qir::default_text(row);
    d["range_low"] = row.range.low;
    d["range_high"] = row.range.high;
    d["low_open"] = row.range.low_open;
    d["high_open"] = row.range.high_open;
    d["whole"] = row.range.whole;
    d["range_text"] = qir::allowed_text(row);
    d["logical"] = row.logical;
    d["choices"] = std::string(row.choices);
    d["description"] = std::string(row.description);
    rows.append(d);
  }
  return rows;
}

// The module's message decides the exception: memory, interruption, or a
// refused argument.
void translate_module_error(const qir::ModuleError &error) {
  const std::string text = error.what();
  if (text.find("Not enough memory") != std::string::npos) {
    PyErr_SetString(PyExc_MemoryError, text.c_str());
  } else if (text.find("Interrupted.") != std::string::npos) {
    PyErr_SetString(PyExc_KeyboardInterrupt, text.c_str());
  } else {
    PyErr_SetString(PyExc_ValueError, text.c_str());
  }
}

}  // namespace

PYBIND11_MODULE(_qir, m) {
  m.doc() = "The QIR modules through the embedded host (used by the qir package).";
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const qir::ModuleError &error) {
      translate_module_error(error);
    } catch (const qir::InputError &error) {
      PyErr_SetString(PyExc_OSError, error.what());
    } catch (const SectionInterrupted &stop) {
      PyErr_SetString(PyExc_KeyboardInterrupt, stop.message.c_str());
    } catch (const qir::UsageError &error) {
      PyErr_SetString(PyExc_ValueError, error.what());
    }
  });
  // with _qir.Interruptible("QIR_PERF"): ... (see SigintHook)
  py::class_<Interruptible>(m, "Interruptible")
      .def(py::init<std::string>(), py::arg("module"))
      .def("__enter__", [](Interruptible &section) -> Interruptible & {
        section.enter();
        return section;
      }, py::return_value_policy::reference)
      .def("__exit__", [](Interruptible &section, const py::object &type, const py::object &,
                          const py::object &) {
        const bool interrupted = section.interrupted();
        section.leave();
        // A Ctrl-C that our handler took must not vanish, even when it
        // came after the last module call.
        if (type.is_none() && interrupted) throw SectionInterrupted{section.message()};
        return false;
      });
  main_thread = py::module_::import("threading").attr("main_thread")().attr("ident")
                    .cast<unsigned long>();
  m.attr("__version__") = QIR_VERSION;
  m.def("use_packaged_modules", [](const std::string &folder) { packaged_modules() = folder; },
        py::arg("folder"));
  m.def("module_directory", &modules_folder);
  m.def("training_defaults", &training_defaults);
  m.def("parameter_table", &parameter_table);
  m.def("data_warnings", &data_warnings, py::arg("patterns"), py::arg("labels"));
  m.def("default_D", &qir::default_D, py::arg("varying"));
  m.def("default_max_presentations", &qir::default_max_presentations, py::arg("patterns"),
        py::arg("voters"));
  m.def(
      "member_rows",
      [](std::size_t patterns, const py::dict &voting) {
        return qir::member_rows(patterns, voting_settings(voting));
      },
      py::arg("patterns"), py::arg("voting"));
  m.def("varying_features", &varying_features, py::arg("patterns"));
  m.attr("most_presentations") = qir::most_presentations;
  m.def("is_class_label", &qir::is_class_label, py::arg("value"));
  // The class numbers that name labels get in a model file: `known` keep
  // theirs, new names follow in name order (as the command numbers them).
  m.def("number_names", [](const std::vector<std::string> &names, qir::ClassNames known) {
    qir::labels_of_names(names, known);
    return known;
  }, py::arg("names"), py::arg("known"));
  // A batch's labels are the caller's values, not a file: ValueError.
  m.def("check_label_kinds", [](bool model_has_names, bool data_has_names) {
    try {
      qir::check_label_kinds(model_has_names, data_has_names);
    } catch (const qir::InputError &error) {
      throw py::value_error(error.what());
    }
  }, py::arg("model_has_names"), py::arg("data_has_names"));
  m.def("feature_range", &feature_range, py::arg("patterns"));
  m.def("scale", &scale, py::arg("patterns"), py::arg("feature_min"), py::arg("feature_max"));
  bind_model(m);
  m.def("cross_validate", &cross_validate, py::arg("patterns"), py::arg("labels"),
        py::arg("params"), py::arg("folds"), py::arg("seed"), py::arg("scale"), py::arg("voting"),
        py::arg("workers"));
  m.def("search", &search, py::arg("patterns"), py::arg("labels"), py::arg("folds"),
        py::arg("seed"), py::arg("scale"), py::arg("evaluate") = py::none(),
        py::arg("choose_scaling") = false);
  m.def("cross_validate_folds", &cross_validate_folds, py::arg("patterns"), py::arg("labels"),
        py::arg("params"), py::arg("folds"), py::arg("seed"), py::arg("scale"),
        py::arg("voting"), py::arg("defaults_per_fold"), py::arg("only") = py::none());
  m.def("combine_folds", &combine_folds, py::arg("labels"), py::arg("outcomes"));
  m.def("stratified_folds", &qir::stratified_folds, py::arg("labels"), py::arg("folds"),
        py::arg("seed"));
  m.def("stream_plan", &stream_plan, py::arg("labels"), py::arg("batches"), py::arg("seed"));
  m.def("picture", &picture, py::arg("model"), py::arg("what"), py::arg("patterns"),
        py::arg("labels"), py::arg("title"), py::arg("features"), py::arg("test_patterns"),
        py::arg("test_labels"));
  m.def("line_chart", &line_chart, py::arg("title"), py::arg("x_label"), py::arg("x"),
        py::arg("panels"), py::arg("marker_x"), py::arg("marker_text"));
  m.def("bundled_data_folder", &qir::bundled_data_folder);
}
