// Entry point of qir_perf: the argument checks, the conversions in, the
// classification pass, and the labels handed back as a P x 1 array.
#include "environment_settings.h"
#include "marshal.h"
#include "messages.h"
#include "mex_api.h"
#include "perf_arguments.h"
#include "run_performance.h"
#include "worker_pool.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

enum Input { TEMPLATES = 0, NLABELS = 1, PATTERNS = 7 };

// Converts the three arrays, runs the pass and fills the output slot. False
// when a conversion gives no array; the buffer holds the memory message.
bool classify(const qir::PerfArguments &args, const mxArray *const prhs[], mxArray *plhs[]) {
  std::int32_t N = args.N;
  std::int32_t K = args.K;
  std::int32_t M = args.M;
  std::int32_t P = args.P;
  std::optional<qir::HostRows> templates = qir::mxArray2D_to_cArray2D(N, K, prhs[TEMPLATES]);
  if (!templates) return false;
  std::optional<qir::HostVector> labels = qir::mxArray1D_to_cArray1D(N, prhs[NLABELS]);
  if (!labels) return false;
  std::optional<qir::HostRows> patterns = qir::mxArray2D_to_cArray2D(P, M, prhs[PATTERNS]);
  if (!patterns) return false;

  qir::HostVector label_array;
  qir::run_performance(N, M, templates->data(), labels->data.get(), args.D, args.ratio,
                       args.vigilance, args.alpha, args.ct_option, P, patterns->data(),
                       args.unknown_label, label_array, args.oflag);
  plhs[0] = qir::cArray1D_to_mxArray1D(P, label_array);
  return true;
}

// A QIR_THREADS the pass cannot use is named once per value while the
// module stays loaded, not at every call of a loop.
void warn_about_thread_setting() {
  static char warned_about[64] = "";
  const char *setting = qir::unusable_threads_setting();
  if (setting == nullptr || std::strncmp(setting, warned_about, sizeof warned_about - 1) == 0)
    return;
  std::snprintf(warned_about, sizeof warned_about, "%s", setting);
  char text[192];
  std::snprintf(text, sizeof text,
                "QIR_PERF: QIR_THREADS=%.40s is not a whole number from 1 to 256; using the "
                "processor count (%d).",
                setting, static_cast<int>(qir::configured_threads()));
  mexWarnMsgTxt(text);
}

// The whole call short of raising its error. Everything it owned is
// released by the time it returns.
bool perf_call(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[],
               qir::MessageBuffer &message) {
  qir::PerfArguments args;
  if (!qir::check_perf_arguments(nlhs, nrhs, prhs, args, message)) return false;
  warn_about_thread_setting();
  qir::prepare_memory_message(message, qir::perf_module_name);
  return qir::run_guarded(message, qir::perf_module_name,
                          [&] { return classify(args, prhs, plhs); });
}

}  // namespace

QIR_MODULE_ENTRY void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  qir::MessageBuffer message;
  if (!perf_call(nlhs, plhs, nrhs, prhs, message)) mexErrMsgTxt(message);
}
