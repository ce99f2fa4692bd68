#include "perf_arguments.h"

#include "arguments.h"
#include "data_checks.h"
#include "template_geometry.h"

#include <optional>

namespace qir {

namespace {

constexpr int perf_inputs = 10;
constexpr int perf_outputs = 1;

enum Input { TEMPLATES, NLABELS, D_IN, RATIO, VIGILANCE, ALPHA, CT_OPTION, PATTERNS,
             UNKNOWN_LABEL, OFLAG };

bool refuse(MessageBuffer &message, const char *format) {
  return fail(message, format, perf_module_name);
}

bool check_templates(const mxArray *templates, PerfArguments &args, MessageBuffer &message) {
  if (!is_two_dimensional(templates))
    return refuse(message,
                  "%s: 1st input argument (Templates) must be  a two dimensional array (matrix).");
  if (!is_full_real_double(templates))
    return refuse(message, "%s: 1st input argument (Templates) must be a full real double matrix.");
  const mwSize *dims = mxGetDimensions(templates);
  // A row needs its radius at least: one column gives M = 0, what training
  // returns for patterns without features.
  if (dims[0] > 0 && dims[1] < 1)
    return refuse(message, "%s: 1st input argument (Templates) must have at least 1 column.");
  if (!fits_counts(templates))
    return refuse(message, "%s: 1st input argument (Templates) is too large.");
  args.N = static_cast<std::int32_t>(dims[0]);
  args.K = static_cast<std::int32_t>(dims[1]);
  args.M = (args.K - 1) / 2;  // truncates toward zero: K = 0 gives 0
  // The last column of an even width is never read, so it is not tested.
  return check_template_values(templates, args.N, args.M, "1st input argument (Templates)",
                               perf_module_name, message);
}

// D, ratio, vigilance and alpha as both modules take them.
bool check_real_arguments(const mxArray *const prhs[], PerfArguments &args,
                          MessageBuffer &message) {
  ModelScalars scalars;
  if (!check_model_scalars(&prhs[D_IN], perf_module_name, scalars, message)) return false;
  args.D = scalars.D;
  args.ratio = scalars.ratio;
  args.vigilance = scalars.vigilance;
  args.alpha = scalars.alpha;
  return true;
}

bool check_patterns(const mxArray *patterns, PerfArguments &args, MessageBuffer &message) {
  if (!is_two_dimensional(patterns))
    return refuse(message,
                  "%s: 8th input argument (Patterns) must be  a two dimensional array (matrix).");
  if (!is_full_real_double(patterns))
    return refuse(message, "%s: 8th input argument (Patterns) must be a full real double matrix.");
  if (!fits_counts(patterns))
    return refuse(message, "%s: 8th input argument (Patterns) is too large.");
  const mwSize *dims = mxGetDimensions(patterns);
  const std::int32_t rows = static_cast<std::int32_t>(dims[0]);
  if (dims[1] != static_cast<mwSize>(args.M))
    return fail(message, "%s: 8th input argument (Patterns) must be of type  %dx%d.",
                perf_module_name, rows, args.M);
  args.P = rows;
  return check_finite(patterns, args.M, "8th input argument (Patterns)", pattern_value_advice,
                      perf_module_name, message);
}

bool check_scalar_arguments(const mxArray *const prhs[], PerfArguments &args,
                            MessageBuffer &message) {
  return check_real_arguments(prhs, args, message) &&
         read_int(prhs[CT_OPTION], perf_module_name,
                  "%s: 7th input argument (ct_option) must be a scalar.",
                  "%s: 7th input argument (ct_option) must be either 0 or 1.",
                  [](std::int32_t v) { return v == 0 || v == 1; }, args.ct_option, message);
}

bool check_trailing_arguments(const mxArray *const prhs[], PerfArguments &args,
                              MessageBuffer &message) {
  return read_int(prhs[UNKNOWN_LABEL], perf_module_name,
                  "%s: 9th input argument (unknown_label) must be a scalar.",
                  "%s: 9th input argument (unknown_label) must fit a 32-bit integer.",
                  [](std::int32_t) { return true; }, args.unknown_label, message) &&
         read_int(prhs[OFLAG], perf_module_name,
                  "%s: 10th input argument (oflag) must be scalar.",
                  "%s: 10th input argument (oflag) must be 0,1,2 or 3.",
                  [](std::int32_t v) { return 0 <= v && v <= 3; }, args.oflag, message);
}

}  // namespace

bool check_perf_arguments(int nlhs, int nrhs, const mxArray *const prhs[],
                          PerfArguments &args, MessageBuffer &message) {
  if (nrhs != perf_inputs)
    return fail(message, "%s: %d input arguments required.", perf_module_name, perf_inputs);
  if (!(check_templates(prhs[TEMPLATES], args, message) &&
        check_label_vector(prhs[NLABELS], args.N, "2nd input argument (NLabels)", perf_module_name,
                           message) &&
        check_scalar_arguments(prhs, args, message) &&
        check_patterns(prhs[PATTERNS], args, message) &&
        check_trailing_arguments(prhs, args, message)))
    return false;
  if (nlhs != perf_outputs)
    return fail(message, "%s: %d output argument required.", perf_module_name, perf_outputs);
  return true;
}

}  // namespace qir
