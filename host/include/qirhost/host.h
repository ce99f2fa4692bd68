// The embedded host seen from C++: building host arrays, loading modules and
// running calls with captured console text, error, allocation tracking and
// fault injection. Stands in for MATLAB / GNU Octave where neither is present.
#pragma once

#include "mex.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qirhost {

struct ArrayDeleter {
  void operator()(mxArray *array) const;
};
// A host array owned by C++ code outside any call (inputs, returned results).
using ArrayPtr = std::unique_ptr<mxArray, ArrayDeleter>;

// Real double matrix from values in column-major order (values.size() == rows*cols).
ArrayPtr make_matrix(std::size_t rows, std::size_t cols, const std::vector<double> &column_major);
// Real double matrix from rows given row by row (all rows the same length).
ArrayPtr make_rows(const std::vector<std::vector<double>> &rows);
// A real double matrix that reads the caller's column-major values in
// place, no copy: they must outlive the array and stay unchanged. For
// inputs, which modules only read.
ArrayPtr borrow_matrix(std::size_t rows, std::size_t cols, const double *column_major);
ArrayPtr make_scalar(double value);
ArrayPtr make_row(const std::vector<double> &values);     // 1 x n
ArrayPtr make_column(const std::vector<double> &values);  // n x 1
// Any class and number of dimensions. `real` holds the elements in storage
// order as doubles and is converted to the class's element type (missing
// elements are zero). `imag` non-empty makes the array complex.
ArrayPtr make_array(mxClassID class_id, const std::vector<std::size_t> &dims,
                    const std::vector<double> &real = {},
                    const std::vector<double> &imag = {}, bool sparse = false);
// A char row array holding text.
ArrayPtr make_string(std::string_view text);

std::vector<std::size_t> dims_of(const mxArray *array);
// Elements in storage order, converted to double.
std::vector<double> values_of(const mxArray *array);

// A request to stop a call, as Ctrl-C makes one in MATLAB or GNU Octave.
// Request it from any thread, or from a callback of the call (on_print);
// the module sees it when it next polls utIsInterruptPending, between
// patterns, and ends the call with "<MODULE>: Interrupted." The request
// stands until the caller clears it: made just before a call, or between
// the calls of one piece of work (an ensemble's members), it still stops
// them; clear it before work that it must not stop.
class InterruptFlag {
 public:
  void request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  void clear() noexcept { requested_.store(false, std::memory_order_relaxed); }
  bool requested() const noexcept { return requested_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> requested_{false};
};

struct CallOptions {
  // 1-based index of the allocating request (mxCalloc, mxMalloc, mxRealloc,
  // mxCreateNumericArray, mxCreateDoubleMatrix) that returns null; 0: none.
  std::size_t fail_allocation = 0;
  // Receive console text and warnings as they are printed (e.g. to echo them).
  std::function<void(std::string_view)> on_print;
  std::function<void(std::string_view)> on_warning;
  // Keep every mexAddFlops amount in CallResult::flop_reports. Long runs
  // (benchmarks, the command line) turn it off and keep only the sum.
  bool record_flop_reports = true;
  // The call's stop request, if the caller wants to be able to make one.
  InterruptFlag *interrupt = nullptr;
};

struct CallResult {
  std::vector<ArrayPtr> outputs;          // nlhs slots; null where left empty or on error
  std::string console;                    // everything mexPrintf printed
  std::vector<std::string> warnings;      // each mexWarnMsgTxt text
  std::optional<std::string> error;       // mexErrMsgTxt text, if the call ended so
  std::vector<std::int64_t> flop_reports; // each mexAddFlops amount, in order
  std::int64_t flops = 0;                 // their sum
  std::size_t allocation_requests = 0;    // allocating requests made during the call
  std::size_t blocks_left = 0;            // mxCalloc/mxMalloc/mxRealloc blocks the host reclaimed
  std::size_t bytes_left = 0;             // their total size
  std::size_t arrays_left = 0;            // arrays created in the call and not returned
};

// Runs `body` as one host call with `nlhs` output slots: fresh allocation
// tracking, captured console, fault injection, and mexErrMsgTxt caught at the
// boundary. Arrays the body leaves in the slots become the result's outputs.
CallResult run_call(int nlhs, const std::function<void(mxArray **plhs)> &body,
                    const CallOptions &options = {});

// A module file loaded with dlopen; unloading happens on destruction.
// Calls into one loaded module are serialised: a module keeps module-wide
// values (its parameters and operation counters) that two overlapping calls
// would corrupt, so `call` holds the loaded library's lock for the whole
// call and a second thread waits for the first call to end. Two Module
// objects of one file share one loaded library, and so one lock; calls into
// different files (also separate copies of one module file) still run in
// parallel. A module's callbacks (on_print, on_warning) run under that lock
// and must not call the same module.
class Module {
 public:
  explicit Module(const std::string &path);  // throws std::runtime_error
  ~Module();
  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;

  // Throws std::invalid_argument, before entering the module, when an input
  // is a null pointer.
  CallResult call(int nlhs, const std::vector<const mxArray *> &inputs,
                  const CallOptions &options = {}) const;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  void *handle_ = nullptr;
  using Entry = void (*)(int, mxArray **, int, const mxArray **);
  Entry entry_ = nullptr;
  std::shared_ptr<std::mutex> call_lock_;  // shared by every Module of this library
};

// Total of every mexAddFlops amount since the process started; a call's
// amounts join it when the call ends.
std::int64_t flop_counter();

}  // namespace qirhost
