#include "perf_arguments.h"

#include "arguments.h"

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
  // A row needs at least a centre, a direction and a radius to be read.
  if (dims[0] > 0 && dims[1] < 3)
    return refuse(message, "%s: 1st input argument (Templates) must have at least 3 columns.");
  if (!fits_counts(templates))
    return refuse(message, "%s: 1st input argument (Templates) is too large.");
  args.N = static_cast<std::int32_t>(dims[0]);
  args.K = static_cast<std::int32_t>(dims[1]);
  args.M = (args.K - 1) / 2;  // truncates toward zero: K = 0 gives 0
  return true;
}

bool check_nlabels(const mxArray *nlabels, std::int32_t N, MessageBuffer &message) {
  if (!is_two_dimensional(nlabels))
    return refuse(message, "%s: 2nd input argument (NLabels) must a vector.");
  if (!is_full_real_double(nlabels))
    return refuse(message, "%s: 2nd input argument (NLabels) must be a full real double vector.");
  const mwSize *dims = mxGetDimensions(nlabels);
  const mwSize n = static_cast<mwSize>(N);
  if (!((dims[0] == 1 && dims[1] == n) || (dims[0] == n && dims[1] == 1)))
    return fail(message, "%s: 2nd input argument (NLabels) must be of type  %dx1 or 1x%d.",
                perf_module_name, N, N);
  if (!all_truncate_to_int(mxGetPr(nlabels), n))
    return refuse(message,
                  "%s: 2nd input argument (NLabels) must hold labels that fit a 32-bit integer.");
  return true;
}

bool read_scalar(const mxArray *array, const char *shape_message, double &value,
                 MessageBuffer &message) {
  if (!is_scalar_shaped(array)) return refuse(message, shape_message);
  value = mxGetScalar(array);
  return true;
}

// A double argument: its shape, then the condition its value must meet
// (written so that NaN fails it).
struct RealRule {
  Input input;
  double PerfArguments::*field;
  const char *shape_message;
  const char *range_message;
  bool (*holds)(double);
};

const RealRule real_rules[] = {
    {D_IN, &PerfArguments::D, "%s: 3rd input argument (D) must be a scalar.",
     "%s: 3rd input argument (D) must be non-negative.", [](double v) { return v >= 0.0; }},
    {RATIO, &PerfArguments::ratio, "%s: 4th input argument (ratio) must be a scalar.",
     "%s: 4th input argument (ratio) must be in (0.0, 1.0].",
     [](double v) { return 0.0 < v && v <= 1.0; }},
    {VIGILANCE, &PerfArguments::vigilance, "%s: 5th input argument (vigilance) must be a scalar.",
     "%s: 5th input argument (vigilance) must be in [0.0, 1.0].",
     [](double v) { return 0.0 <= v && v <= 1.0; }},
    {ALPHA, &PerfArguments::alpha, "%s: 6th input argument (alpha) must be a scalar.",
     "%s: 6th input argument (alpha) must be non-negative.", [](double v) { return v >= 0.0; }},
};

bool check_real_arguments(const mxArray *const prhs[], PerfArguments &args,
                          MessageBuffer &message) {
  for (const RealRule &rule : real_rules) {
    double &value = args.*rule.field;
    if (!read_scalar(prhs[rule.input], rule.shape_message, value, message)) return false;
    if (!rule.holds(value)) return refuse(message, rule.range_message);
  }
  return true;
}

// An integer argument: the value truncated toward zero, refused with
// `range_message` when it is NaN, beyond 32 bits, or fails `holds`.
bool read_int(const mxArray *array, const char *shape_message, const char *range_message,
              bool (*holds)(std::int32_t), std::int32_t &value, MessageBuffer &message) {
  double raw = 0.0;
  if (!read_scalar(array, shape_message, raw, message)) return false;
  const std::optional<std::int32_t> truncated = truncate_to_int(raw);
  if (!truncated || !holds(*truncated)) return refuse(message, range_message);
  value = *truncated;
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
  return true;
}

bool check_scalar_arguments(const mxArray *const prhs[], PerfArguments &args,
                            MessageBuffer &message) {
  return check_real_arguments(prhs, args, message) &&
         read_int(prhs[CT_OPTION], "%s: 7th input argument (ct_option) must be a scalar.",
                  "%s: 7th input argument (ct_option) must be either 0 or 1.",
                  [](std::int32_t v) { return v == 0 || v == 1; }, args.ct_option, message);
}

bool check_trailing_arguments(const mxArray *const prhs[], PerfArguments &args,
                              MessageBuffer &message) {
  return read_int(prhs[UNKNOWN_LABEL], "%s: 9th input argument (unknown_label) must be a scalar.",
                  "%s: 9th input argument (unknown_label) must fit a 32-bit integer.",
                  [](std::int32_t) { return true; }, args.unknown_label, message) &&
         read_int(prhs[OFLAG], "%s: 10th input argument (oflag) must be scalar.",
                  "%s: 10th input argument (oflag) must be 0,1,2 or 3.",
                  [](std::int32_t v) { return 0 <= v && v <= 3; }, args.oflag, message);
}

}  // namespace

bool check_perf_arguments(int nlhs, int nrhs, const mxArray *const prhs[],
                          PerfArguments &args, MessageBuffer &message) {
  if (nrhs != perf_inputs)
    return fail(message, "%s: %d input arguments required.", perf_module_name, perf_inputs);
  if (!(check_templates(prhs[TEMPLATES], args, message) &&
        check_nlabels(prhs[NLABELS], args.N, message) &&
        check_scalar_arguments(prhs, args, message) &&
        check_patterns(prhs[PATTERNS], args, message) &&
        check_trailing_arguments(prhs, args, message)))
    return false;
  if (nlhs != perf_outputs)
    return fail(message, "%s: %d output argument required.", perf_module_name, perf_outputs);
  return true;
}

}  // namespace qir
