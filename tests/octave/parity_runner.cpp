// Replays a list of module calls in the embedded host and writes what each
// call gave back: its error, its outputs and its console text, in the form
// that the Octave test writes for the same calls in Octave.
//
//   qir_parity_runner <qir_train module> <qir_perf module> <calls> <results>
//
// Calls file, whitespace separated: the number of calls, then per call
//   call <train|perf> <nlhs> <nargs>
// and per argument
//   arg <class> <complex 0|1> <sparse 0|1> <ndims> <dims...>
//       <real parts as 16 hex digits...> [<imaginary parts...>]
// Every double travels as its IEEE bit pattern, so nothing is rounded.
#include "qirhost/host.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double from_hex(const std::string &hex) {
  const std::uint64_t bits = std::stoull(hex, nullptr, 16);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string to_hex(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, bits);
  return text;
}

// Class names as Octave's class() gives them.
const std::map<std::string, mxClassID> &classes() {
  static const std::map<std::string, mxClassID> table = {
      {"double", mxDOUBLE_CLASS}, {"single", mxSINGLE_CLASS}, {"logical", mxLOGICAL_CLASS},
      {"char", mxCHAR_CLASS},     {"int8", mxINT8_CLASS},     {"uint8", mxUINT8_CLASS},
      {"int16", mxINT16_CLASS},   {"uint16", mxUINT16_CLASS}, {"int32", mxINT32_CLASS},
      {"uint32", mxUINT32_CLASS}, {"int64", mxINT64_CLASS},   {"uint64", mxUINT64_CLASS}};
  return table;
}

std::string class_name(mxClassID id) {
  for (const auto &[name, class_id] : classes())
    if (class_id == id) return name;
  return "unknown";
}

template <class T>
T read(std::istream &in, const char *what) {
  T value;
  if (!(in >> value)) throw std::runtime_error(std::string("calls file: expected ") + what);
  return value;
}

void expect(std::istream &in, const std::string &word) {
  if (read<std::string>(in, word.c_str()) != word)
    throw std::runtime_error("calls file: expected '" + word + "'");
}

qirhost::ArrayPtr read_argument(std::istream &in) {
  expect(in, "arg");
  const std::string name = read<std::string>(in, "class");
  const auto found = classes().find(name);
  if (found == classes().end()) throw std::runtime_error("calls file: unknown class " + name);
  const bool complex = read<int>(in, "complex flag") != 0;
  const bool sparse = read<int>(in, "sparse flag") != 0;
  std::vector<std::size_t> dims(read<std::size_t>(in, "ndims"));
  std::size_t count = 1;
  for (std::size_t &d : dims) count *= (d = read<std::size_t>(in, "dimension"));
  std::vector<double> real(count), imag(complex ? count : 0);
  for (double &v : real) v = from_hex(read<std::string>(in, "value"));
  for (double &v : imag) v = from_hex(read<std::string>(in, "value"));
  return qirhost::make_array(found->second, dims, real, imag, sparse);
}

void write_array(std::ostream &out, const mxArray *array) {
  const std::vector<std::size_t> dims = qirhost::dims_of(array);
  out << class_name(mxGetClassID(array)) << ' ' << dims.size();
  for (std::size_t d : dims) out << ' ' << d;
  for (double v : qirhost::values_of(array)) out << ' ' << to_hex(v);
  out << '\n';
}

int run(const std::string &train_path, const std::string &perf_path, const std::string &calls_path,
        const std::string &results_path) {
  const qirhost::Module train(train_path);
  const qirhost::Module perf(perf_path);
  std::ifstream calls(calls_path);
  if (!calls) throw std::runtime_error("cannot read " + calls_path);
  std::ofstream results(results_path, std::ios::binary);
  if (!results) throw std::runtime_error("cannot write " + results_path);

  const int count = read<int>(calls, "number of calls");
  for (int k = 1; k <= count; ++k) {
    expect(calls, "call");
    const std::string module = read<std::string>(calls, "module");
    const int nlhs = read<int>(calls, "nlhs");
    const int nargs = read<int>(calls, "nargs");
    std::vector<qirhost::ArrayPtr> arguments;
    std::vector<const mxArray *> inputs;
    for (int i = 0; i < nargs; ++i) {
      arguments.push_back(read_argument(calls));
      inputs.push_back(arguments.back().get());
    }
    const qirhost::CallResult result = (module == "train" ? train : perf).call(nlhs, inputs);

    std::string console = result.console;
    for (const std::string &warning : result.warnings) console += "warning: " + warning + "\n";
    results << "call " << k << ' ' << module << '\n';
    results << "error " << (result.error ? *result.error : std::string("none")) << '\n';
    for (int i = 0; i < nlhs; ++i) {
      results << "out " << i + 1 << ' ';
      if (result.error || i >= static_cast<int>(result.outputs.size()) || !result.outputs[i])
        results << "none\n";
      else
        write_array(results, result.outputs[i].get());
    }
    results << "console " << console.size() << '\n' << console << '\n';
  }
  return results ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::cerr << "usage: qir_parity_runner <train module> <perf module> <calls> <results>\n";
    return 2;
  }
  try {
    return run(argv[1], argv[2], argv[3], argv[4]);
  } catch (const std::exception &e) {
    std::cerr << "qir_parity_runner: " << e.what() << '\n';
    return 2;
  }
}
