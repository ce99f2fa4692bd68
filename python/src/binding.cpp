// The _qir extension: the qir command's module runner and model-file code
// for Python. Patterns go from NumPy straight into host arrays (the one copy
// the host needs), labels come back as NumPy arrays, the modules' console
// text is returned to the caller, and module errors become Python exceptions.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <csignal>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "errors.h"
#include "feature_scaling.h"
#include "model_file.h"
#include "module_runner.h"
#include "qirhost/host.h"
#include "training_defaults.h"

namespace py = pybind11;

namespace {

// Any memory layout: patterns are read through their strides, so neither
// C- nor Fortran-ordered arrays are copied before the host's own copy.
using Matrix = py::array_t<double, py::array::forcecast>;
using Vector = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Ctrl-C during a call: Python runs its own handler only once the call has
// returned, so while a call runs on the main thread a handler of ours asks
// the module to stop between patterns; its "Interrupted." becomes
// KeyboardInterrupt. The flag is a lock-free atomic: safe in a handler.
qirhost::InterruptFlag stop_request;

extern "C" void request_stop(int) { stop_request.request(); }

class SigintDuringCall {
 public:
  // Constructed with the GIL held.
  SigintDuringCall() {
#if defined(__unix__) || defined(__APPLE__)
    const py::module_ threading = py::module_::import("threading");
    if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return;
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    installed_ = sigaction(SIGINT, &action, &previous_) == 0;
#endif
  }
  ~SigintDuringCall() {
#if defined(__unix__) || defined(__APPLE__)
    if (installed_) sigaction(SIGINT, &previous_, nullptr);
#endif
  }
  SigintDuringCall(const SigintDuringCall &) = delete;
  SigintDuringCall &operator=(const SigintDuringCall &) = delete;

 private:
#if defined(__unix__) || defined(__APPLE__)
  bool installed_ = false;
  struct sigaction previous_ {};
#endif
};

// One runner per process: the modules are loaded on first use and stay
// loaded. Their state is module-wide, so calls are serialised.
struct Modules {
  std::mutex lock;
  std::optional<qircli::ModuleRunner> runner;
  std::string console;
  std::vector<std::string> warnings;

  qircli::ModuleRunner &get() {
    if (!runner) {
      runner.emplace(qircli::module_directory(std::nullopt));
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
    for (std::size_t r = 0; r < rows; ++r) *out++ = in(r, c);
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

py::array_t<double> templates_to_numpy(const qircli::Model &model) {
  const std::size_t width = 2 * static_cast<std::size_t>(model.features) + 1;
  py::array_t<double> out({model.templates.size(), width});
  auto view = out.mutable_unchecked<2>();
  for (std::size_t k = 0; k < model.templates.size(); ++k)
    for (std::size_t j = 0; j < width; ++j) view(k, j) = model.templates[k][j];
  return out;
}

// The nodes as the runner and the model file hold them.
qircli::Model model_from_numpy(const Matrix &templates, const Vector &labels, int features) {
  if (templates.ndim() != 2 || labels.ndim() != 1 || templates.shape(0) != labels.shape(0))
    throw py::value_error("templates must be K x (2M+1) and labels K values");
  if (templates.shape(1) != 2 * static_cast<py::ssize_t>(features) + 1)
    throw py::value_error("templates must have 2M+1 columns");
  qircli::Model model;
  model.features = features;
  const auto view = templates.unchecked<2>();
  model.templates.assign(static_cast<std::size_t>(view.shape(0)), {});
  for (py::ssize_t k = 0; k < view.shape(0); ++k)
    for (py::ssize_t j = 0; j < view.shape(1); ++j) model.templates[k].push_back(view(k, j));
  model.labels.assign(labels.data(), labels.data() + labels.shape(0));
  return model;
}

// The training arguments that the parameter record and the defaults record
// share, under the modules' argument names.
template <class Record>
std::array<std::pair<const char *, double Record::*>, 7> shared_fields() {
  return {{{"ratio", &Record::ratio},
           {"vigilance", &Record::vigilance},
           {"alpha", &Record::alpha},
           {"learning_rate", &Record::learning_rate},
           {"max_list_presentations", &Record::max_presentations},
           {"trim_option", &Record::trim},
           {"ct_option", &Record::ct}}};
}

template <class Record>
py::dict shared_dict(const Record &record) {
  py::dict d;
  for (const auto &[name, field] : shared_fields<Record>()) d[name] = record.*field;
  return d;
}

qircli::TrainingParams training_params(const py::dict &d) {
  qircli::TrainingParams p;
  p.D = d["D"].cast<double>();
  for (const auto &[name, field] : shared_fields<qircli::TrainingParams>())
    p.*field = d[name].cast<double>();
  return p;
}

py::dict params_dict(const qircli::TrainingParams &p) {
  py::dict d = shared_dict(p);
  d["D"] = p.D;
  return d;
}

// Console text and warnings of one call, for the Python side's logger.
struct CallText {
  std::string console;
  std::vector<std::string> warnings;
  py::tuple to_python() const { return py::make_tuple(console, warnings); }
};

CallText take_text(Modules &m) { return {std::move(m.console), std::move(m.warnings)}; }

py::tuple train(const Matrix &patterns, const Vector &labels, const py::dict &params,
                double oflag) {
  const auto p = training_params(params);
  auto x = host_matrix(patterns);
  auto y = host_column(labels);
  Modules &m = modules();
  qircli::Model model;
  CallText text;
  {
    const SigintDuringCall sigint;
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    model = m.get().train(x.get(), y.get(), p, oflag);
    text = take_text(m);
  }
  return py::make_tuple(templates_to_numpy(model), to_numpy(std::move(model.labels)),
                        model.list_presentations, text.to_python());
}

py::tuple classify(const Matrix &templates, const Vector &labels, const py::dict &params,
                   const Matrix &patterns, double unknown_label, double oflag) {
  const auto features = static_cast<int>((templates.ndim() == 2 ? templates.shape(1) : 1) - 1) / 2;
  const auto model = model_from_numpy(templates, labels, features);
  qircli::ClassifyParams p;
  p.D = params["D"].cast<double>();
  p.ratio = params["ratio"].cast<double>();
  p.vigilance = params["vigilance"].cast<double>();
  p.alpha = params["alpha"].cast<double>();
  p.ct = params["ct_option"].cast<double>();
  p.unknown_label = unknown_label;
  p.oflag = oflag;
  auto x = host_matrix(patterns);
  Modules &m = modules();
  std::vector<double> assigned;
  CallText text;
  {
    const SigintDuringCall sigint;
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> guard(m.lock);
    assigned = m.get().classify(model, x.get(), p);
    text = take_text(m);
  }
  return py::make_tuple(to_numpy(std::move(assigned)), text.to_python());
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
  auto model = model_from_numpy(d["templates"].cast<Matrix>(), d["labels"].cast<Vector>(),
                                d["features"].cast<int>());
  model.params = training_params(d["params"].cast<py::dict>());
  model.list_presentations = d["list_presentations"].cast<double>();
  model.feature_min = optional_values(d["feature_min"]);
  model.feature_max = optional_values(d["feature_max"]);
  model.class_names = d["class_names"].cast<std::vector<std::pair<int, std::string>>>();
  qircli::save_model(path, model);
}

// The file's classes come as the library maps them: labels ascending, their
// names (none for numeric labels) and the class of every node.
py::dict load_model(const std::string &path) {
  auto model = qircli::load_model(path);
  auto classes = qircli::model_classes(model);
  std::vector<double> node_classes(classes.of_node.begin(), classes.of_node.end());
  py::dict d;
  d["class_labels"] = to_numpy(std::move(classes.labels));
  d["class_names"] = classes.names;
  d["node_classes"] = to_numpy(std::move(node_classes));
  d["features"] = model.features;
  d["params"] = params_dict(model.params);
  d["list_presentations"] = model.list_presentations;
  d["templates"] = templates_to_numpy(model);
  d["labels"] = to_numpy(std::move(model.labels));
  d["feature_min"] = optional_array(std::move(model.feature_min));
  d["feature_max"] = optional_array(std::move(model.feature_max));
  return d;
}

// The command's scaling of the patterns, on a C-ordered copy.
py::array_t<double> scale(const Matrix &patterns, const Vector &min, const Vector &max) {
  if (patterns.ndim() != 2 || min.size() != patterns.shape(1) || max.size() != patterns.shape(1))
    throw py::value_error("patterns must have one column per scaling range");
  py::array_t<double> scaled({patterns.shape(0), patterns.shape(1)});
  const auto in = patterns.unchecked<2>();
  double *out = scaled.mutable_data();
  for (py::ssize_t r = 0; r < in.shape(0); ++r)
    for (py::ssize_t c = 0; c < in.shape(1); ++c) *out++ = in(r, c);
  const std::vector<double> lo(min.data(), min.data() + min.size());
  const std::vector<double> hi(max.data(), max.data() + max.size());
  qircli::scale_rows(scaled.mutable_data(), static_cast<std::size_t>(scaled.shape(0)), lo.size(),
                     lo, hi);
  return scaled;
}

py::dict training_defaults() {
  py::dict d = shared_dict(qircli::training_defaults);
  d["oflag"] = qircli::training_defaults.oflag;
  d["scale"] = qircli::training_defaults.scale;
  return d;
}

// The module's message decides the exception: memory, interruption, or a
// refused argument.
void translate_module_error(const qircli::ModuleError &error) {
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
    } catch (const qircli::ModuleError &error) {
      translate_module_error(error);
    } catch (const qircli::InputError &error) {
      PyErr_SetString(PyExc_OSError, error.what());
    }
  });
  m.def("module_directory", [] { return qircli::module_directory(std::nullopt); });
  m.def("training_defaults", &training_defaults);
  m.def("default_D", &qircli::default_D, py::arg("features"));
  m.def("is_class_label", &qircli::is_class_label, py::arg("value"));
  m.def("scale", &scale, py::arg("patterns"), py::arg("feature_min"), py::arg("feature_max"));
  m.def("train", &train, py::arg("patterns"), py::arg("labels"), py::arg("params"),
        py::arg("oflag"));
  m.def("classify", &classify, py::arg("templates"), py::arg("labels"), py::arg("params"),
        py::arg("patterns"), py::arg("unknown_label"), py::arg("oflag"));
  m.def("save_model", &save_model, py::arg("path"), py::arg("model"));
  m.def("load_model", &load_model, py::arg("path"));
}
