#include "train_arguments.h"

#include "arguments.h"
#include "data_checks.h"
#include "node.h"
#include "template_geometry.h"

#include <limits>
#include <optional>

namespace qir {

namespace {

constexpr int train_outputs = 3;

enum Input { PATTERNS, PLABELS, D_IN, RATIO, VIGILANCE, ALPHA, LEARNING_RATE,
             MAX_LIST_PRESENTATIONS, TRIM_OPTION, CT_OPTION, OFLAG };

bool refuse(MessageBuffer &message, const char *format) {
  return fail(message, format, train_module_name);
}

// A template row of 2M+1 values must be countable too.
bool fits_template_width(mwSize M) {
  return M <= static_cast<mwSize>((std::numeric_limits<std::int32_t>::max() - 1) / 2);
}

bool check_patterns(const mxArray *patterns, TrainArguments &args, MessageBuffer &message) {
  if (!is_two_dimensional(patterns))
    return refuse(message,
                  "%s: 1st input argument (Patterns) must be  a two dimensional array (matrix).");
  if (!is_full_real_double(patterns))
    return refuse(message, "%s: 1st input argument (Patterns) must be a full real double matrix.");
  const mwSize *dims = mxGetDimensions(patterns);
  if (!fits_counts(patterns) || !fits_template_width(dims[1]))
    return refuse(message, "%s: 1st input argument (Patterns) is too large.");
  args.N = static_cast<std::int32_t>(dims[0]);
  args.M = static_cast<std::int32_t>(dims[1]);
  return check_finite(patterns, args.M, "1st input argument (Patterns)", pattern_value_advice,
                      train_module_name, message);
}

// Node labels are whole numbers, so a fractional label would never match
// its own node and every presentation would add a node for it.
bool check_plabels(const mxArray *plabels, std::int32_t N, MessageBuffer &message) {
  if (!check_label_vector(plabels, N, "2nd input argument (PLabels)", train_module_name, message))
    return false;
  if (!all_whole(mxGetPr(plabels), static_cast<std::size_t>(N)))
    return refuse(message, "%s: 2nd input argument (PLabels) must hold whole numbers.");
  return true;
}

// D, ratio, vigilance and alpha as both modules take them, then
// learning_rate.
bool check_real_arguments(const mxArray *const prhs[], TrainArguments &args,
                          MessageBuffer &message) {
  ModelScalars scalars;
  if (!check_model_scalars(&prhs[D_IN], train_module_name, scalars, message)) return false;
  args.D = scalars.D;
  args.ratio = scalars.ratio;
  args.vigilance = scalars.vigilance;
  args.alpha = scalars.alpha;
  return read_real(prhs[LEARNING_RATE], train_module_name,
                   "%s: 7th input argument (learning_rate) must be a scalar.",
                   "%s: 7th input argument (learning_rate) must be in (0.0, 1.0].",
                   [](double v) { return 0.0 < v && v <= 1.0; }, args.learning_rate, message);
}

// An integer argument: its shape, then its value truncated toward zero,
// refused with the range message when NaN, beyond 32 bits or outside
// what `holds` allows.
struct IntRule {
  Input input;
  std::int32_t TrainArguments::*field;
  const char *shape_message;
  const char *range_message;
  bool (*holds)(std::int32_t);
};

bool is_flag(std::int32_t v) { return v == 0 || v == 1; }

const IntRule int_rules[] = {
    {MAX_LIST_PRESENTATIONS, &TrainArguments::max_list_presentations,
     "%s: 8th input argument (max_list_presentations) must be a scalar.",
     "%s: 8th input argument (max_list_presentations) must  be greater than 0.",
     [](std::int32_t v) { return v >= 1; }},
    {TRIM_OPTION, &TrainArguments::trim_option,
     "%s: 9th input argument (trim_option) must be a scalar.",
     "%s: 9th input argument (trim_option) must be either 0 or 1.", is_flag},
    {CT_OPTION, &TrainArguments::ct_option,
     "%s: 10th input argument (ct_option) must be a scalar.",
     "%s: 10th input argument (ct_option) must be either 0 or 1.", is_flag},
};

bool check_int_arguments(const mxArray *const prhs[], TrainArguments &args,
                         MessageBuffer &message) {
  for (const IntRule &rule : int_rules) {
    if (!read_int(prhs[rule.input], train_module_name, rule.shape_message, rule.range_message,
                  rule.holds, args.*rule.field, message))
      return false;
  }
  return true;
}

// oflag words its two shape failures apart.
bool check_oflag(const mxArray *oflag, TrainArguments &args, MessageBuffer &message) {
  if (!is_two_dimensional(oflag))
    return refuse(message, "%s: 11th input argument (oflag) must be scalar.");
  return read_int(oflag, train_module_name, "%s: 11th input argument must be scalar.",
                  "%s: 11th input argument (oflag) must be 0,1,2,3 or 4.",
                  [](std::int32_t v) { return 0 <= v && v <= 4; }, args.oflag, message);
}

// Nodes to continue from, tested as qir_perf tests its own, and made for
// these Patterns: 2M+1 columns. No rows at all is no nodes, whatever the
// width ([] in MATLAB).
bool check_given_templates(const mxArray *templates, TrainArguments &args,
                           MessageBuffer &message) {
  constexpr const char *argument = "12th input argument (Templates)";
  if (!is_two_dimensional(templates))
    return fail(message, "%s: %s must be  a two dimensional array (matrix).", train_module_name,
                argument);
  if (!is_full_real_double(templates))
    return fail(message, "%s: %s must be a full real double matrix.", train_module_name, argument);
  if (!fits_counts(templates))
    return fail(message, "%s: %s is too large.", train_module_name, argument);
  const mwSize *dims = mxGetDimensions(templates);
  const std::int32_t rows = static_cast<std::int32_t>(dims[0]);
  const std::int32_t width = template_width(args.M);
  if (rows > 0 && dims[1] != static_cast<mwSize>(width))
    return fail(message,
                "%s: %s has %d columns; Patterns of %d columns need templates of 2M+1 = %d.",
                train_module_name, argument, static_cast<std::int32_t>(dims[1]), args.M, width);
  if (!check_template_values(templates, rows, args.M, argument, train_module_name, message))
    return false;
  args.num_given = rows;
  return true;
}

// Node labels are whole numbers: a fraction would be cut off silently. No
// nodes take the labels qir_perf takes for none (0x1, 1x0) and also [],
// MATLAB's "nothing"; any other empty shape (0x3) is refused as qir_perf
// refuses it.
bool check_given_labels(const mxArray *nlabels, std::int32_t N, MessageBuffer &message) {
  constexpr const char *argument = "13th input argument (NLabels)";
  if (N == 0 && is_two_dimensional(nlabels) && is_full_real_double(nlabels) &&
      mxGetDimensions(nlabels)[0] == 0 && mxGetDimensions(nlabels)[1] == 0)
    return true;
  if (!check_label_vector(nlabels, N, argument, train_module_name, message)) return false;
  if (!all_whole(mxGetPr(nlabels), static_cast<std::size_t>(N)))
    return fail(message, "%s: %s must hold whole numbers.", train_module_name, argument);
  return true;
}

}  // namespace

bool check_train_arguments(int nlhs, int nrhs, const mxArray *const prhs[],
                           TrainArguments &args, MessageBuffer &message) {
  // The optional pair is not advertised here: a call with a wrong count
  // most likely meant the usual eleven.
  if (nrhs != train_inputs && nrhs != train_inputs_with_nodes)
    return fail(message, "%s: %d input arguments required.", train_module_name, train_inputs);
  if (!(check_patterns(prhs[PATTERNS], args, message) &&
        check_plabels(prhs[PLABELS], args.N, message) &&
        check_real_arguments(prhs, args, message) &&
        check_int_arguments(prhs, args, message) && check_oflag(prhs[OFLAG], args, message)))
    return false;
  args.num_given = 0;
  if (nrhs == train_inputs_with_nodes &&
      !(check_given_templates(prhs[TRAIN_TEMPLATES], args, message) &&
        check_given_labels(prhs[TRAIN_NLABELS], args.num_given, message)))
    return false;
  if (nlhs != train_outputs)
    return fail(message, "%s: %d output arguments required.", train_module_name, train_outputs);
  return true;
}

}  // namespace qir
