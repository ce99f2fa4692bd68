// The _qir extension: the qir command's module runner and model-file code
// for Python. Patterns go from NumPy straight into host arrays (the one copy
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
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qir.h"
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

qirhost::ArrayPtr host_matrix(const Matrix &values) {
  if (values.ndim() != 2) throw py::value_error("patterns must be a two-dimensional array");
  const auto rows = static_cast<std::size_t>(values.shape(0));
  const auto cols = static_cast<std::size_t>(values.shape(1));
  qirhost::ArrayPtr array(mxCreateDoubleMatrix(rows, cols, mxREAL));
  if (!array) throw std::bad_alloc();
  double *out = mxGetPr(array.get());
  const auto in = values.unchecked<2>();
  for (std::size_t c = 0; c < cols; ++c)
    for (std::size_t first = 0; first < rows; first += check_interval) {
      Interruptible::check();
      const std::size_t last = std::min(rows, first + check_interval);
      for (std::size_t r = first; r < last; ++r) *out++ = in(r, c);
    }
  return array;
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
  const std::size_t width = 2 * static_cast<std::size_t>(features) + 1;
  py::array_t<double> out({member.templates.size(), width});
  auto view = out.mutable_unchecked<2>();
  for (std::size_t k = 0; k < member.templates.size(); ++k)
    for (std::size_t j = 0; j < width; ++j) view(k, j) = member.templates[k][j];
  return out;
}

// The nodes as the runner and the model file hold them.
qir::Member member_from_numpy(const Matrix &templates, const Vector &labels, int features,
                              double list_presentations = 0) {
  if (templates.ndim() != 2 || labels.ndim() != 1 || templates.shape(0) != labels.shape(0))
    throw py::value_error("templates must be K x (2M+1) and labels K values");
  if (templates.shape(1) != 2 * static_cast<py::ssize_t>(features) + 1)
    throw py::value_error("templates must have 2M+1 columns");
  qir::Member member;
  const auto view = templates.unchecked<2>();
  member.templates.assign(static_cast<std::size_t>(view.shape(0)), {});
  for (py::ssize_t k = 0; k < view.shape(0); ++k)
    for (py::ssize_t j = 0; j < view.shape(1); ++j) member.templates[k].push_back(view(k, j));
  member.labels.assign(labels.data(), labels.data() + labels.shape(0));
  member.list_presentations = list_presentations;
  return member;
}

py::tuple member_to_python(qir::Member &&member, int features) {
  return py::make_tuple(templates_to_numpy(member, features), to_numpy(std::move(member.labels)),
                        member.list_presentations);
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

// The training parameters under their Python keywords.
qir::TrainingParams training_params(const py::dict &d) {
  qir::TrainingParams p;
  for (const qir::Parameter &row : qir::parameter_table)
    if (row.field != nullptr) p.*row.field = d[py::str(std::string(row.python))].cast<double>();
  return p;
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
  return voting;
}

py::dict voting_dict(const qir::VotingSettings &voting) {
  py::dict d;
  d["voters"] = voting.voters;
  d["seed"] = voting.seed;
  d["shuffle"] = voting.shuffle;
  return d;
}

// The members as (templates, labels, list presentations) tuples.
py::list members_to_python(qir::Model &model) {
  py::list members;
  for (auto &member : model.members)
    members.append(member_to_python(std::move(member), model.features));
  return members;
}

// The model that `start` describes for a continuation: every member's
// (templates, labels) and the batches the members have had.
std::optional<qir::Model> earlier_model(const py::object &start, int features,
                                           const qir::VotingSettings &voting) {
  if (start.is_none()) return std::nullopt;
  const auto d = start.cast<py::dict>();
  qir::Model earlier;
  earlier.features = features;
  earlier.voting = voting;
  earlier.batches = d["batches"].cast<std::uint64_t>();
  earlier.members.clear();
  for (const auto &item : d["members"].cast<py::list>()) {
    const auto member = item.cast<py::tuple>();
    earlier.members.push_back(
        member_from_numpy(member[0].cast<Matrix>(), member[1].cast<Vector>(), features));
  }
  return earlier;
}

// Trains the members of an ensemble (one plain member: one qir_train call),
// side by side in private copies of the training module, from no nodes or
// (`start`) each from its own nodes. With `progress`, a progress line is
// shown on a terminal's standard error after a second.
py::tuple train(const Matrix &patterns, const Vector &labels, const py::dict &params,
                double oflag, const py::dict &voting, int workers, bool progress,
                const py::object &start) {
  const SectionScope section("QIR_TRAIN");
  const auto p = training_params(params);
  const auto settings = voting_settings(voting);
  auto x = host_matrix(patterns);
  auto y = host_column(labels);
  const int features = static_cast<int>(qirhost::dims_of(x.get()).at(1));
  const auto earlier = earlier_model(start, features, settings);
  Modules &m = modules();
  qir::Model model;
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
    model = earlier ? qir::continue_ensemble(m.get(), *earlier, x.get(), y.get(), p, oflag,
                                                options)
                    : qir::train_ensemble(m.get(), x.get(), y.get(), p, settings, oflag,
                                             options);
    text = take_text(m);
  }
  const auto batches = model.batches;
  return py::make_tuple(members_to_python(model), text.to_python(), batches);
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

// `qir cv` on patterns and class codes: D and the presentation limit left
// out of `params` are each training fold's defaults, as the command's are.
py::dict cross_validate(const Matrix &patterns, const Vector &labels, const py::dict &params,
                        int folds, std::uint64_t seed, bool scale, const py::dict &voting,
                        int workers) {
  const SectionScope section("QIR_TRAIN");
  const qir::Dataset data = dataset_of(patterns, labels);
  qir::TrainingParams p;
  for (const qir::Parameter &row : qir::parameter_table) {
    const py::str keyword(std::string(row.python));
    if (row.field != nullptr && params.contains(keyword))
      p.*row.field = params[keyword].cast<double>();
  }
  qir::CvSettings settings;
  settings.folds = folds;
  settings.seed = seed;
  settings.scale = scale;
  settings.voting = voting_settings(voting);
  settings.workers = workers;
  settings.default_D_per_fold = !params.contains(std::string(qir::parameter("D").python));
  settings.default_presentations_per_fold =
      !params.contains(std::string(qir::parameter("max_presentations").python));
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

py::dict search(const Matrix &patterns, const Vector &labels, int folds, std::uint64_t seed,
                bool scale) {
  const SectionScope section("QIR_TRAIN");
  const qir::Dataset data = dataset_of(patterns, labels);
  qir::CvSettings settings;
  settings.folds = folds;
  settings.seed = seed;
  settings.scale = scale;
  settings.voting = {qir::training_defaults.voters, seed, qir::training_defaults.shuffle};
  Modules &m = modules();
  qir::SearchOutcome outcome;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    Interruptible::check();
    qir::Progress line;
    outcome = qir::run_search(m.get(), data, settings,
                                 [&line](const std::string &step) { line.show(step); });
    take_text(m);
  }
  const auto rows = [](const std::vector<qir::SearchCandidate> &candidates) {
    py::list out;
    for (const auto &c : candidates) {
      py::dict row = params_dict(c.params);
      row["n_voters"] = c.voting.voters;
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
  d["screened"] = rows(outcome.screened);
  d["finalists"] = rows(outcome.finalists);
  d["defaults"] = rows({outcome.defaults})[0];
  d["params"] = params_dict(outcome.chosen.params);
  d["n_voters"] = outcome.chosen.voting.voters;
  d["accuracy"] = outcome.chosen.result.accuracy_percent();
  d["defaults_accuracy"] = outcome.defaults.result.accuracy_percent();
  d["gain"] = outcome.chosen.gain;
  d["gain_error"] = outcome.chosen.gain_error;
  d["kept_defaults"] = outcome.kept_defaults;
  d["seconds"] = outcome.seconds;
  return d;
}

// The members' vote on patterns (scaled as the model scales) among
// `classes`, the library's predict: (labels, shares, votes). With
// `best_fit`, a pattern that no member classifies gets the vote of the
// members' best-fitting nodes.
py::tuple predict(const py::list &members, const Matrix &patterns, const py::dict &params,
                  const Vector &classes, double unknown_label, bool best_fit, double oflag) {
  const SectionScope section("QIR_PERF");
  if (patterns.ndim() != 2) throw py::value_error("patterns must be a two-dimensional array");
  const auto features = static_cast<int>(patterns.shape(1));
  qir::VotingSettings voting;
  voting.voters = static_cast<int>(members.size());
  py::dict start;
  start["batches"] = 1;
  start["members"] = members;
  const auto model = *earlier_model(start, features, voting);
  qir::ClassifyParams p;
  p.D = params["D"].cast<double>();
  p.ratio = params["ratio"].cast<double>();
  p.vigilance = params["vigilance"].cast<double>();
  p.alpha = params["alpha"].cast<double>();
  p.ct = params["ct_option"].cast<double>();
  p.unknown_label = unknown_label;
  p.oflag = oflag;
  qir::PredictOptions options;
  options.best_fit_for_unknown = best_fit;
  options.classes.assign(classes.data(), classes.data() + classes.size());
  if (!std::is_sorted(options.classes.begin(), options.classes.end()))
    throw py::value_error("the classes must be in ascending order");
  auto x = host_matrix(patterns);
  Modules &m = modules();
  qir::VoteResult result;
  CallText text;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    Interruptible::check();
    result = qir::predict_ensemble(m.get(), model, x.get(), p, options);
    text = take_text(m);
  }
  const auto rows = static_cast<py::ssize_t>(result.labels.size());
  const auto width = static_cast<py::ssize_t>(result.classes.size());
  py::array_t<double> shares({rows, width});
  std::copy(result.shares.begin(), result.shares.end(), shares.mutable_data());
  py::array_t<int> votes(rows);
  std::copy(result.votes.begin(), result.votes.end(), votes.mutable_data());
  return py::make_tuple(to_numpy(std::move(result.labels)), shares, votes, text.to_python());
}

std::vector<double> optional_values(const py::handle &values) {
  if (values.is_none()) return {};
  const auto array = values.cast<Vector>();
  return {array.data(), array.data() + array.size()};
}

py::object optional_array(std::vector<double> &&values) {
  if (values.empty()) return py::none();
  return to_numpy(std::move(values));
}

void save_model(const std::string &path, const py::dict &d) {
  qir::Model model;
  model.features = d["features"].cast<int>();
  model.members.front() =
      member_from_numpy(d["templates"].cast<Matrix>(), d["labels"].cast<Vector>(), model.features,
                        d["list_presentations"].cast<double>());
  model.params = training_params(d["params"].cast<py::dict>());
  model.feature_min = optional_values(d["feature_min"]);
  model.feature_max = optional_values(d["feature_max"]);
  model.class_names = d["class_names"].cast<std::vector<std::pair<int, std::string>>>();
  model.feature_names = d["feature_names"].cast<std::vector<std::string>>();
  model.voting = voting_settings(d["voting"].cast<py::dict>());
  model.batches = d["batches"].cast<std::uint64_t>();
  for (const auto &item : d["further_members"].cast<py::list>()) {
    const auto member = item.cast<py::tuple>();
    model.members.push_back(member_from_numpy(member[0].cast<Matrix>(),
                                              member[1].cast<Vector>(), model.features,
                                              member[2].cast<double>()));
  }
  qir::save_model(path, model);
}

// The file's classes come as the library maps them: labels ascending, their
// names (none for numeric labels) and the class of every node.
py::dict load_model(const std::string &path) {
  auto model = qir::load_model(path);
  auto classes = qir::model_classes(model);
  std::vector<double> node_classes(classes.of_node.begin(), classes.of_node.end());
  py::dict d;
  d["class_labels"] = to_numpy(std::move(classes.labels));
  d["class_names"] = classes.names;
  d["node_classes"] = to_numpy(std::move(node_classes));
  d["features"] = model.features;
  d["params"] = params_dict(model.params);
  // Member 1 in the top-level keys, the others in further_members.
  qir::Member &first = model.members.front();
  d["list_presentations"] = first.list_presentations;
  d["templates"] = templates_to_numpy(first, model.features);
  d["labels"] = to_numpy(std::move(first.labels));
  d["feature_min"] = optional_array(std::move(model.feature_min));
  d["feature_max"] = optional_array(std::move(model.feature_max));
  d["feature_names"] = model.feature_names;
  d["voting"] = voting_dict(model.voting);
  d["batches"] = model.batches;
  py::list further;
  for (std::size_t k = 1; k < model.members.size(); ++k)
    further.append(member_to_python(std::move(model.members[k]), model.features));
  d["further_members"] = further;
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

// A picture of the model in the file at `path` (qir.pictures saves it
// there): the library's pictures, as `qir plot --show` draws them.
std::string picture(const std::string &path, const std::string &what, const Matrix &patterns,
                    const std::vector<std::string> &labels, const std::string &title,
                    const std::vector<double> &features, const py::object &test_patterns,
                    const std::vector<std::string> &test_labels) {
  const SectionScope section("QIR_PERF");
  const qir::Model model = qir::load_model(path);
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
py::array_t<double> scale(const Matrix &patterns, const Vector &min, const Vector &max) {
  if (patterns.ndim() != 2 || min.size() != patterns.shape(1) || max.size() != patterns.shape(1))
    throw py::value_error("patterns must have one column per scaling range");
  py::array_t<double> scaled({patterns.shape(0), patterns.shape(1)});
  const auto in = patterns.unchecked<2>();
  const auto rows = static_cast<std::size_t>(in.shape(0));
  const auto cols = static_cast<std::size_t>(in.shape(1));
  const std::vector<double> lo(min.data(), min.data() + min.size());
  const std::vector<double> hi(max.data(), max.data() + max.size());
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
py::tuple feature_range(const Matrix &patterns) {
  if (patterns.ndim() != 2) throw py::value_error("patterns must be a two-dimensional array");
  const auto in = patterns.unchecked<2>();
  std::vector<std::vector<double>> rows(static_cast<std::size_t>(in.shape(0)));
  for (py::ssize_t r = 0; r < in.shape(0); ++r)
    for (py::ssize_t c = 0; c < in.shape(1); ++c) rows[r].push_back(in(r, c));
  auto range = qir::fit_feature_range(rows);
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
  d["scale"] = qir::training_defaults.scale;
  d["voters"] = qir::training_defaults.voters;
  d["shuffle"] = qir::training_defaults.shuffle;
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
    d["range_text"] = qir::range_text(row.range);
    d["logical"] = row.logical;
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
  m.def("train", &train, py::arg("patterns"), py::arg("labels"), py::arg("params"),
        py::arg("oflag"), py::arg("voting"), py::arg("workers") = 0, py::arg("progress") = false,
        py::arg("start") = py::none());
  m.def("cross_validate", &cross_validate, py::arg("patterns"), py::arg("labels"),
        py::arg("params"), py::arg("folds"), py::arg("seed"), py::arg("scale"), py::arg("voting"),
        py::arg("workers"));
  m.def("search", &search, py::arg("patterns"), py::arg("labels"), py::arg("folds"),
        py::arg("seed"), py::arg("scale"));
  m.def("stratified_folds", &qir::stratified_folds, py::arg("labels"), py::arg("folds"),
        py::arg("seed"));
  m.def("predict", &predict, py::arg("members"), py::arg("patterns"), py::arg("params"),
        py::arg("classes"), py::arg("unknown_label"), py::arg("best_fit"), py::arg("oflag"));
  m.def("save_model", &save_model, py::arg("path"), py::arg("model"));
  m.def("load_model", &load_model, py::arg("path"));
  m.def("stream_plan", &stream_plan, py::arg("labels"), py::arg("batches"), py::arg("seed"));
  m.def("picture", &picture, py::arg("path"), py::arg("what"), py::arg("patterns"),
        py::arg("labels"), py::arg("title"), py::arg("features"), py::arg("test_patterns"),
        py::arg("test_labels"));
  m.def("line_chart", &line_chart, py::arg("title"), py::arg("x_label"), py::arg("x"),
        py::arg("panels"), py::arg("marker_x"), py::arg("marker_text"));
  m.def("bundled_data_folder", &qir::bundled_data_folder);
}
