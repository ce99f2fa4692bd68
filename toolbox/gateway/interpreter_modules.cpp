#include "interpreter_modules.h"

#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "mex_api.h"

#ifdef HAVE_OCTAVE
#include <octave/quit.h>
#endif

namespace qir {
namespace {

struct Destroy {
  void operator()(mxArray *array) const { mxDestroyArray(array); }
};
using Array = std::unique_ptr<mxArray, Destroy>;

Array owned(mxArray *array) {
  if (array == nullptr) throw std::bad_alloc();
  return Array(array);
}

Array scalar(double value) { return owned(mxCreateDoubleScalar(value)); }

Array patterns_array(PatternMatrix patterns) {
  Array array = owned(mxCreateDoubleMatrix(patterns.rows, patterns.columns, mxREAL));
  const std::size_t count = patterns.rows * patterns.columns;
  if (count != 0) std::memcpy(mxGetPr(array.get()), patterns.values, count * sizeof(double));
  return array;
}

Array column_array(const std::vector<double> &values) {
  Array array = owned(mxCreateDoubleMatrix(values.size(), 1, mxREAL));
  if (!values.empty())
    std::memcpy(mxGetPr(array.get()), values.data(), values.size() * sizeof(double));
  return array;
}

Array templates_array(const std::vector<std::vector<double>> &rows, std::size_t width) {
  Array array = owned(mxCreateDoubleMatrix(rows.size(), width, mxREAL));
  double *out = mxGetPr(array.get());
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < width; ++c) out[c * rows.size() + r] = rows[r][c];
  return array;
}

#ifndef HAVE_OCTAVE
std::string text_of(const mxArray *array) {
  if (array == nullptr || !mxIsChar(array)) return {};
  char *raw = mxArrayToString(array);
  if (raw == nullptr) return {};
  std::string text(raw);
  mxFree(raw);
  return text;
}

// A failed call's message and identifier, from the MException it hands back.
std::pair<std::string, std::string> failure_of(mxArray *exception) {
  const Array held(exception);
  const Array message(mxGetProperty(exception, 0, "message"));
  const Array identifier(mxGetProperty(exception, 0, "identifier"));
  return {text_of(message.get()), text_of(identifier.get())};
}
#endif

std::vector<double> values_of(const mxArray *array) {
  if (array == nullptr || !mxIsDouble(array) || mxIsComplex(array))
    throw ModuleError("the module returned no real double result");
  const double *data = mxGetPr(array);
  return std::vector<double>(data, data + mxGetNumberOfElements(array));
}

std::vector<std::vector<double>> rows_of(const mxArray *array) {
  const double *data = mxGetPr(array);
  const std::size_t rows = mxGetM(array), cols = mxGetN(array);
  std::vector<std::vector<double>> out(rows, std::vector<double>(cols));
  for (std::size_t c = 0; c < cols; ++c)
    for (std::size_t r = 0; r < rows; ++r) out[r][c] = data[c * rows + r];
  return out;
}

}  // namespace

// One call into the interpreter; the results belong to the caller. Its
// error comes back as ModuleError. MATLAB hands it back as data (the call
// with a trap); Octave's trap keeps no message, so there the error is
// caught as the C++ exception Octave raises it as. An interrupt passes.
struct Caller {
  static std::vector<Array> call(InterpreterModules &modules, const char *function, int outputs,
                                 std::vector<Array> &inputs) {
    std::vector<mxArray *> in;
    for (auto &input : inputs) in.push_back(input.get());
    std::vector<mxArray *> out(static_cast<std::size_t>(outputs), nullptr);
    std::vector<Array> results;
#ifdef HAVE_OCTAVE
    try {
      mexCallMATLAB(outputs, out.data(), static_cast<int>(in.size()), in.data(), function);
    } catch (const octave::execution_exception &error) {
      for (mxArray *result : out) results.emplace_back(result);
      modules.failure_identifier_ = error.identifier();
      throw ModuleError(error.message());
    }
    for (mxArray *result : out) results.emplace_back(result);
#else
    mxArray *exception = mexCallMATLABWithTrap(outputs, out.data(), static_cast<int>(in.size()),
                                               in.data(), function);
    for (mxArray *result : out) results.emplace_back(result);
    if (exception != nullptr) {
      auto [message, identifier] = failure_of(exception);
      modules.failure_identifier_ = identifier;
      throw ModuleError(message);
    }
#endif
    for (const auto &result : results)
      if (!result) throw ModuleError(std::string(function) + " returned too few results");
    return results;
  }
};

Member InterpreterModules::train_member(PatternMatrix patterns,
                                             const std::vector<double> &labels,
                                             const TrainingParams &p, double oflag,
                                             const Member *start) {
  std::vector<Array> inputs;
  inputs.push_back(patterns_array(patterns));
  inputs.push_back(column_array(labels));
  for (double value : training_inputs(p, oflag)) inputs.push_back(scalar(value));
  if (start) {
    inputs.push_back(templates_array(start->templates, 2 * patterns.columns + 1));
    inputs.push_back(column_array(start->labels));
  }
  const auto results = Caller::call(*this, "qir_train", 3, inputs);
  Member nodes;
  nodes.templates = rows_of(results[0].get());
  nodes.labels = values_of(results[1].get());
  const std::vector<double> presentations = values_of(results[2].get());
  nodes.list_presentations = presentations.empty() ? 0 : presentations.front();
  return nodes;
}

std::vector<double> InterpreterModules::classify_member(const Member &member, int features,
                                                        PatternMatrix patterns,
                                                        const ClassifyParams &p) {
  std::vector<Array> inputs;
  inputs.push_back(templates_array(member.templates, 2 * static_cast<std::size_t>(features) + 1));
  inputs.push_back(column_array(member.labels));
  for (double value : {p.D, p.ratio, p.vigilance, p.alpha, p.ct}) inputs.push_back(scalar(value));
  inputs.push_back(patterns_array(patterns));
  inputs.push_back(scalar(p.unknown_label));
  inputs.push_back(scalar(p.oflag));
  return values_of(Caller::call(*this, "qir_perf", 1, inputs)[0].get());
}

void InterpreterModules::print(std::string_view text) const {
  mexPrintf("%s", std::string(text).c_str());
}

void InterpreterModules::warn(std::string_view text) const {
  mexWarnMsgTxt(std::string(text).c_str());
}

Modules &InterpreterModules::worker(std::size_t) {
  throw std::logic_error("calls into the interpreter take turns on its own thread");
}

}  // namespace qir
