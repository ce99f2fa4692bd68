// The entry point's checks: each refusal with its exact message, their
// order, and how scalar and integer arguments are read.
#include "perf_test_support.h"

#include <cmath>
#include <functional>

namespace perf_test {
namespace {

using qirhost::make_array;
using qirhost::make_column;
using qirhost::make_matrix;
using qirhost::make_row;
using qirhost::make_scalar;
using qirhost::make_string;

const double nan_value = std::nan("");

// Two point nodes on one feature, two patterns: every check passes.
PerfCase valid_case() {
  PerfCase c;
  c.templates = {{0, 0, 1}, {2, 0, 1}};
  c.nlabels = {1, 2};
  c.vigilance = 0.5;
  c.patterns = {{0}, {5}};
  return c;
}

struct Refusal {
  const char *what;
  Input input;
  std::function<ArrayPtr()> replacement;
  const char *message;
};

const std::vector<Refusal> refusals = {
    {"3-D Templates", TEMPLATES, [] { return make_array(mxDOUBLE_CLASS, {1, 3, 2}); },
     "QIR_PERF: 1st input argument (Templates) must be  a two dimensional array (matrix)."},
    {"single Templates", TEMPLATES, [] { return make_array(mxSINGLE_CLASS, {2, 3}); },
     "QIR_PERF: 1st input argument (Templates) must be a full real double matrix."},
    {"complex Templates", TEMPLATES,
     [] { return make_array(mxDOUBLE_CLASS, {2, 3}, {0, 2, 0, 0, 1, 1}, {1}); },
     "QIR_PERF: 1st input argument (Templates) must be a full real double matrix."},
    {"sparse Templates", TEMPLATES,
     [] { return make_array(mxDOUBLE_CLASS, {2, 3}, {0, 2, 0, 0, 1, 1}, {}, true); },
     "QIR_PERF: 1st input argument (Templates) must be a full real double matrix."},
    {"Templates without columns", TEMPLATES, [] { return make_matrix(2, 0, {}); },
     "QIR_PERF: 1st input argument (Templates) must have at least 1 column."},
    {"Templates wider than 32 bits", TEMPLATES,
     [] { return make_array(mxDOUBLE_CLASS, {0, std::size_t{1} << 31}); },
     "QIR_PERF: 1st input argument (Templates) is too large."},
    {"NaN radius", TEMPLATES, [] { return make_matrix(2, 3, {0, 2, 0, 0, 1, nan_value}); },
     "QIR_PERF: 1st input argument (Templates) holds a non-finite value at row 2, column 3; the nodes are damaged; train them again."},
    {"first non-finite in row order, not storage order", TEMPLATES,
     [] { return make_matrix(2, 3, {0, INFINITY, 0, 0, -INFINITY, 1}); },
     "QIR_PERF: 1st input argument (Templates) holds a non-finite value at row 1, column 3; the nodes are damaged; train them again."},
    {"negative radius", TEMPLATES, [] { return make_matrix(2, 3, {0, 2, 0, 0, 1, -0.5}); },
     "QIR_PERF: 1st input argument (Templates) holds a negative radius at row 2."},
    {"direction scaled by 3", TEMPLATES, [] { return make_matrix(2, 3, {0, 2, 0, 3, 1, 1}); },
     "QIR_PERF: 1st input argument (Templates) holds a direction at row 2 that is neither "
     "zero nor of unit length."},
    {"direction just beyond the tolerance", TEMPLATES,
     [] { return make_matrix(2, 3, {0, 2, 1 - 2e-6, 0, 1, 1}); },
     "QIR_PERF: 1st input argument (Templates) holds a direction at row 1 that is neither "
     "zero nor of unit length."},
    {"direction too small to square", TEMPLATES,
     [] { return make_matrix(2, 3, {0, 2, 1e-200, 0, 1, 1}); },
     "QIR_PERF: 1st input argument (Templates) holds a direction at row 1 that is neither "
     "zero nor of unit length."},
    // Rows go four at a time, then one by one: the first failing row in
    // row order is named, whichever of its tests fails.
    {"bad direction before a negative radius, rows in fours", TEMPLATES,
     [] { return make_matrix(6, 3, {0, 0, 0, 0, 0, 0, 1, -1, 3, 0, 1, 1, 1, 1, 1, 1, -1, 1}); },
     "QIR_PERF: 1st input argument (Templates) holds a direction at row 3 that is neither "
     "zero nor of unit length."},
    {"negative radius in the last row of a four", TEMPLATES,
     [] { return make_matrix(5, 3, {0, 0, 0, 0, 0, 1, -1, 0, 1, 0.5, 1, 1, 1, -1, 1}); },
     "QIR_PERF: 1st input argument (Templates) holds a negative radius at row 4."},
    {"negative radius in a row after the fours", TEMPLATES,
     [] { return make_matrix(6, 3, {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, -0.0, 1, 1, 1, 1, 1, -2}); },
     "QIR_PERF: 1st input argument (Templates) holds a negative radius at row 6."},
    {"direction off in a row after the fours", TEMPLATES,
     [] { return make_matrix(9, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                    1, 1, 1, 1, 1, 1, 1, 1, 2,  //
                                    1, 1, 1, 1, 1, 1, 1, 1, 1}); },
     "QIR_PERF: 1st input argument (Templates) holds a direction at row 9 that is neither "
     "zero nor of unit length."},
    {"3-D NLabels", NLABELS, [] { return make_array(mxDOUBLE_CLASS, {2, 1, 2}); },
     "QIR_PERF: 2nd input argument (NLabels) must a vector."},
    {"int32 NLabels", NLABELS, [] { return make_array(mxINT32_CLASS, {2, 1}, {1, 2}); },
     "QIR_PERF: 2nd input argument (NLabels) must be a full real double vector."},
    {"NLabels of N + 1", NLABELS, [] { return make_column({1, 2, 3}); },
     "QIR_PERF: 2nd input argument (NLabels) must be of type  2x1 or 1x2."},
    {"2 x 2 NLabels", NLABELS, [] { return make_matrix(2, 2, {1, 2, 3, 4}); },
     "QIR_PERF: 2nd input argument (NLabels) must be of type  2x1 or 1x2."},
    {"1 x 1 NLabels for two rows", NLABELS, [] { return make_scalar(1); },
     "QIR_PERF: 2nd input argument (NLabels) must be of type  2x1 or 1x2."},
    {"label beyond 32 bits", NLABELS, [] { return make_column({1, 3e9}); },
     "QIR_PERF: 2nd input argument (NLabels) must hold labels that fit a 32-bit integer."},
    {"NaN label", NLABELS, [] { return make_row({nan_value, 1}); },
     "QIR_PERF: 2nd input argument (NLabels) must hold labels that fit a 32-bit integer."},
    {"complex D", D, [] { return make_array(mxDOUBLE_CLASS, {1, 1}, {8}, {5}); },
     "QIR_PERF: 3rd input argument (D) must be a scalar."},
    {"sparse D", D, [] { return make_array(mxDOUBLE_CLASS, {1, 1}, {8}, {}, true); },
     "QIR_PERF: 3rd input argument (D) must be a scalar."},
    {"2 x 2 D", D, [] { return make_matrix(2, 2, {1, 1, 1, 1}); },
     "QIR_PERF: 3rd input argument (D) must be a scalar."},
    {"3-D D", D, [] { return make_array(mxDOUBLE_CLASS, {1, 1, 2}, {8, 8}); },
     "QIR_PERF: 3rd input argument (D) must be a scalar."},
    {"empty D", D, [] { return make_row({}); },
     "QIR_PERF: 3rd input argument (D) must be a scalar."},
    {"text D", D, [] { return make_string("8"); },
     "QIR_PERF: 3rd input argument (D) must be a scalar."},
    {"negative D", D, [] { return make_scalar(-1); },
     "QIR_PERF: 3rd input argument (D) must be non-negative."},
    {"NaN D", D, [] { return make_scalar(nan_value); },
     "QIR_PERF: 3rd input argument (D) must be non-negative."},
    {"row D led by -1", D, [] { return make_row({-1, 5}); },
     "QIR_PERF: 3rd input argument (D) must be non-negative."},
    {"2 x 2 ratio", RATIO, [] { return make_matrix(2, 2, {1, 1, 1, 1}); },
     "QIR_PERF: 4th input argument (ratio) must be a scalar."},
    {"ratio 0", RATIO, [] { return make_scalar(0); },
     "QIR_PERF: 4th input argument (ratio) must be in (0.0, 1.0]."},
    {"ratio above 1", RATIO, [] { return make_scalar(1.5); },
     "QIR_PERF: 4th input argument (ratio) must be in (0.0, 1.0]."},
    {"NaN ratio", RATIO, [] { return make_scalar(nan_value); },
     "QIR_PERF: 4th input argument (ratio) must be in (0.0, 1.0]."},
    {"2 x 2 vigilance", VIGILANCE, [] { return make_matrix(2, 2, {1, 1, 1, 1}); },
     "QIR_PERF: 5th input argument (vigilance) must be a scalar."},
    {"negative vigilance", VIGILANCE, [] { return make_scalar(-0.1); },
     "QIR_PERF: 5th input argument (vigilance) must be in [0.0, 1.0]."},
    {"vigilance above 1", VIGILANCE, [] { return make_scalar(1.1); },
     "QIR_PERF: 5th input argument (vigilance) must be in [0.0, 1.0]."},
    {"NaN vigilance", VIGILANCE, [] { return make_scalar(nan_value); },
     "QIR_PERF: 5th input argument (vigilance) must be in [0.0, 1.0]."},
    {"2 x 2 alpha", ALPHA, [] { return make_matrix(2, 2, {1, 1, 1, 1}); },
     "QIR_PERF: 6th input argument (alpha) must be a scalar."},
    {"negative alpha", ALPHA, [] { return make_scalar(-1e-9); },
     "QIR_PERF: 6th input argument (alpha) must be non-negative."},
    {"NaN alpha", ALPHA, [] { return make_scalar(nan_value); },
     "QIR_PERF: 6th input argument (alpha) must be non-negative."},
    {"2 x 2 ct_option", CT_OPTION, [] { return make_matrix(2, 2, {1, 1, 1, 1}); },
     "QIR_PERF: 7th input argument (ct_option) must be a scalar."},
    {"cell ct_option", CT_OPTION, [] { return make_array(mxCELL_CLASS, {1, 1}); },
     "QIR_PERF: 7th input argument (ct_option) must be a scalar."},
    {"complex ct_option", CT_OPTION, [] { return make_array(mxDOUBLE_CLASS, {1, 1}, {1}, {1}); },
     "QIR_PERF: 7th input argument (ct_option) must be a scalar."},
    {"ct_option 2", CT_OPTION, [] { return make_scalar(2); },
     "QIR_PERF: 7th input argument (ct_option) must be either 0 or 1."},
    {"ct_option -1", CT_OPTION, [] { return make_scalar(-1); },
     "QIR_PERF: 7th input argument (ct_option) must be either 0 or 1."},
    {"NaN ct_option", CT_OPTION, [] { return make_scalar(nan_value); },
     "QIR_PERF: 7th input argument (ct_option) must be either 0 or 1."},
    {"ct_option 2^32 (wraps to 0 in 32 bits)", CT_OPTION, [] { return make_scalar(4294967296.0); },
     "QIR_PERF: 7th input argument (ct_option) must be either 0 or 1."},
    {"3-D Patterns", PATTERNS, [] { return make_array(mxDOUBLE_CLASS, {2, 1, 2}); },
     "QIR_PERF: 8th input argument (Patterns) must be  a two dimensional array (matrix)."},
    {"single Patterns", PATTERNS, [] { return make_array(mxSINGLE_CLASS, {2, 1}); },
     "QIR_PERF: 8th input argument (Patterns) must be a full real double matrix."},
    {"Patterns taller than 32 bits", PATTERNS,
     [] { return make_array(mxDOUBLE_CLASS, {std::size_t{1} << 31, 0}); },
     "QIR_PERF: 8th input argument (Patterns) is too large."},
    {"Patterns of 2 columns against M = 1", PATTERNS, [] { return make_matrix(3, 2, {0, 0, 0, 0, 0, 0}); },
     "QIR_PERF: 8th input argument (Patterns) must be of type  3x1."},
    {"NaN pattern value", PATTERNS, [] { return make_matrix(3, 1, {0, nan_value, 1}); },
     "QIR_PERF: 8th input argument (Patterns) holds a non-finite value at row 2, column 1; drop that pattern or give it a number there."},
    {"infinite pattern value", PATTERNS, [] { return make_matrix(1, 1, {-INFINITY}); },
     "QIR_PERF: 8th input argument (Patterns) holds a non-finite value at row 1, column 1; drop that pattern or give it a number there."},
    {"sparse unknown_label", UNKNOWN_LABEL, [] { return make_array(mxDOUBLE_CLASS, {1, 1}, {0}, {}, true); },
     "QIR_PERF: 9th input argument (unknown_label) must be a scalar."},
    {"complex oflag", OFLAG, [] { return make_array(mxDOUBLE_CLASS, {1, 1}, {0}, {2}); },
     "QIR_PERF: 10th input argument (oflag) must be scalar."},
    {"2 x 2 unknown_label", UNKNOWN_LABEL, [] { return make_matrix(2, 2, {1, 1, 1, 1}); },
     "QIR_PERF: 9th input argument (unknown_label) must be a scalar."},
    {"NaN unknown_label", UNKNOWN_LABEL, [] { return make_scalar(nan_value); },
     "QIR_PERF: 9th input argument (unknown_label) must fit a 32-bit integer."},
    {"unknown_label 2^31", UNKNOWN_LABEL, [] { return make_scalar(2147483648.0); },
     "QIR_PERF: 9th input argument (unknown_label) must fit a 32-bit integer."},
    {"unknown_label below -2^31", UNKNOWN_LABEL, [] { return make_scalar(-2147483649.0); },
     "QIR_PERF: 9th input argument (unknown_label) must fit a 32-bit integer."},
    {"2 x 2 oflag", OFLAG, [] { return make_matrix(2, 2, {1, 1, 1, 1}); },
     "QIR_PERF: 10th input argument (oflag) must be scalar."},
    {"3-D oflag", OFLAG, [] { return make_array(mxDOUBLE_CLASS, {1, 1, 2}); },
     "QIR_PERF: 10th input argument (oflag) must be scalar."},
    {"oflag 4", OFLAG, [] { return make_scalar(4); },
     "QIR_PERF: 10th input argument (oflag) must be 0,1,2 or 3."},
    {"oflag -1", OFLAG, [] { return make_scalar(-1); },
     "QIR_PERF: 10th input argument (oflag) must be 0,1,2 or 3."},
    {"NaN oflag", OFLAG, [] { return make_scalar(nan_value); },
     "QIR_PERF: 10th input argument (oflag) must be 0,1,2 or 3."},
};

class PerfArgumentsTest : public PerfModuleTest {
 protected:
  // A refused call: its one message, no output, nothing printed or counted.
  void expect_refused(const qirhost::CallResult &result, const std::string &message) {
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(*result.error, message);
    for (const ArrayPtr &output : result.outputs) EXPECT_FALSE(output);
    EXPECT_EQ(result.console, "");
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_TRUE(result.flop_reports.empty());
    EXPECT_EQ(result.allocation_requests, 0u);
  }
};

TEST_F(PerfArgumentsTest, EveryRefusalHasItsMessage) {
  for (const Refusal &refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    std::vector<ArrayPtr> inputs = host_inputs(valid_case());
    inputs[refusal.input] = refusal.replacement();
    expect_refused(run(inputs), refusal.message);
  }
}

TEST_F(PerfArgumentsTest, InputCountComesFirst) {
  for (std::size_t count : {0u, 9u, 11u}) {
    std::vector<ArrayPtr> inputs = host_inputs(valid_case());
    inputs[TEMPLATES] = make_array(mxDOUBLE_CLASS, {1, 3, 2});  // not examined
    inputs.resize(std::min(count, inputs.size()));
    while (inputs.size() < count) inputs.push_back(make_scalar(0));
    expect_refused(run(inputs), "QIR_PERF: 10 input arguments required.");
  }
}

TEST_F(PerfArgumentsTest, OutputCountIsTestedAfterEveryInput) {
  for (int nlhs : {0, 2}) {
    expect_refused(run(host_inputs(valid_case()), nlhs),
                   "QIR_PERF: 1 output argument required.");
    std::vector<ArrayPtr> inputs = host_inputs(valid_case());
    inputs[D] = make_scalar(-1);
    expect_refused(run(inputs, nlhs), "QIR_PERF: 3rd input argument (D) must be non-negative.");
  }
}

TEST_F(PerfArgumentsTest, EarlierArgumentIsReportedFirst) {
  std::vector<ArrayPtr> inputs = host_inputs(valid_case());
  inputs[OFLAG] = make_scalar(9);
  inputs[PATTERNS] = make_matrix(1, 4, {0, 0, 0, 0});
  inputs[ALPHA] = make_scalar(-1);
  expect_refused(run(inputs), "QIR_PERF: 6th input argument (alpha) must be non-negative.");
  inputs[TEMPLATES] = make_array(mxDOUBLE_CLASS, {2, 3, 2});
  expect_refused(
      run(inputs),
      "QIR_PERF: 1st input argument (Templates) must be  a two dimensional array (matrix).");
}

// Each value test runs right after the shape and class tests of its own
// argument: a broken earlier argument is reported instead, a broken later
// one is not looked at.
TEST_F(PerfArgumentsTest, ValueTestsTakeTheirArgumentsPlaceInTheOrder) {
  std::vector<ArrayPtr> inputs = host_inputs(valid_case());
  inputs[TEMPLATES] = make_matrix(2, 3, {0, 2, 0, 0, 1, -1});
  inputs[NLABELS] = make_scalar(1);
  inputs[PATTERNS] = make_matrix(1, 1, {nan_value});
  inputs[OFLAG] = make_scalar(9);
  expect_refused(run(inputs), "QIR_PERF: 1st input argument (Templates) holds a negative radius at row 2.");
  inputs[TEMPLATES] = make_matrix(2, 3, {0, 2, 0, 0, nan_value, -1});
  expect_refused(run(inputs),
                 "QIR_PERF: 1st input argument (Templates) holds a non-finite value at row 1, column 3; the nodes are damaged; train them again.");
  inputs[TEMPLATES] = make_matrix(2, 2, {0, 2, nan_value, nan_value});  // shape is not in question
  expect_refused(run(inputs), "QIR_PERF: 2nd input argument (NLabels) must be of type  2x1 or 1x2.");
  inputs[NLABELS] = make_row({1, 2});
  expect_refused(run(inputs),
                 "QIR_PERF: 8th input argument (Patterns) must be of type  1x0.");
  inputs[PATTERNS] = make_matrix(2, 0, {});
  expect_refused(run(inputs), "QIR_PERF: 10th input argument (oflag) must be 0,1,2 or 3.");
  inputs[PATTERNS] = make_matrix(1, 1, {nan_value});
  inputs[TEMPLATES] = make_matrix(2, 3, {0, 2, 0, 0, 1, 1});
  inputs[ALPHA] = make_scalar(-1);
  expect_refused(run(inputs), "QIR_PERF: 6th input argument (alpha) must be non-negative.");
  inputs[ALPHA] = make_scalar(0);
  expect_refused(run(inputs),
                 "QIR_PERF: 8th input argument (Patterns) holds a non-finite value at row 1, column 1; drop that pattern or give it a number there.");
}

// What qir_train can return is accepted right at every bound: one column
// (a radius only) or two (the second never read, NaN or not), zero radii,
// directions within the tolerance, the largest finite values.
TEST_F(PerfArgumentsTest, GeometryAtItsBoundsIsAccepted) {
  const std::vector<std::pair<Rows, Rows>> accepted = {
      {{{0.5}, {2}}, {{}, {}}},
      {{{0.5, nan_value}, {2, 7}}, {{}, {}}},
      {{{0, 0, 0}, {2, 0, -0.0}}, {{1}, {2}}},
      {{{0, 1 + 9e-7, 1}, {2, -(1 - 9e-7), 1}}, {{1}, {2}}},
      {{{0, 0, 0.6, 0.8, 1}, {1, 1, -0.8, 0.6, 2}}, {{1, 1}, {0, 0}}},
      {{{0, 0, 1e300}, {-1e300, 0, 0}}, {{1.7976931348623157e308}, {-1e300}}},
  };
  for (const auto &[templates, patterns] : accepted) {
    PerfCase c = valid_case();
    c.templates = templates;
    c.patterns = patterns;
    const qirhost::CallResult result = run(c);
    EXPECT_FALSE(result.error) << result.error.value_or("") << " with "
                               << templates.front().size() << " columns";
  }
}

TEST_F(PerfArgumentsTest, BoundaryValuesAndShapesAreAccepted) {
  const std::vector<std::pair<Input, std::function<ArrayPtr()>>> accepted = {
      {D, [] { return make_scalar(0); }},
      {D, [] { return make_row({5, -1, 9}); }},  // first element taken
      {ALPHA, [] { return make_scalar(0); }},
      {ALPHA, [] { return make_scalar(INFINITY); }},
      {RATIO, [] { return make_scalar(1); }},
      {VIGILANCE, [] { return make_scalar(0); }},
      {VIGILANCE, [] { return make_scalar(1); }},
      {VIGILANCE, [] { return make_column({0.5, 7}); }},
      {NLABELS, [] { return make_row({1, 2}); }},
      {NLABELS, [] { return make_column({-2147483648.9, 2147483647.9}); }},
      {NLABELS, [] { return make_column({1.5, 2}); }},  // truncated, as the layout says
      {CT_OPTION, [] { return make_array(mxLOGICAL_CLASS, {1, 1}, {1}); }},
      {UNKNOWN_LABEL, [] { return make_scalar(2147483647.9); }},
      {UNKNOWN_LABEL, [] { return make_scalar(-2147483648.0); }},
  };
  for (const auto &[input, replacement] : accepted) {
    SCOPED_TRACE(input);
    std::vector<ArrayPtr> inputs = host_inputs(valid_case());
    inputs[input] = replacement();
    const qirhost::CallResult result = run(inputs);
    EXPECT_FALSE(result.error) << result.error.value_or("");
    ASSERT_TRUE(result.outputs[0]);
    EXPECT_EQ(qirhost::dims_of(result.outputs[0].get()), (std::vector<std::size_t>{2, 1}));
  }
}

TEST_F(PerfArgumentsTest, SingleTemplateRowTakesOneByOneLabels) {
  PerfCase c = valid_case();
  c.templates = {{0, 0, 1}};
  c.nlabels = {3};
  std::vector<ArrayPtr> inputs = host_inputs(c);
  inputs[NLABELS] = make_scalar(3.7);
  const qirhost::CallResult result = run(inputs);
  ASSERT_FALSE(result.error) << result.error.value_or("");
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), (std::vector<double>{3, -1}));
}

// ct_option, oflag and unknown_label are truncated toward zero. A lone node
// whose choice value (0.25) misses Tu (0.5) shows whether CT is applied.
TEST_F(PerfArgumentsTest, IntegerArgumentsAreTruncatedTowardZero) {
  PerfCase c;
  c.templates = {{6, 0, 0}};
  c.nlabels = {4};
  c.vigilance = 0.2;
  c.patterns = {{0}};
  c.unknown_label = -1.7;
  for (const auto &[ct_option, label] :
       std::vector<std::pair<double, double>>{{0.7, 4}, {-0.5, 4}, {1.9, -1}}) {
    c.ct_option = ct_option;
    EXPECT_EQ(labels_of(c), std::vector<double>{label}) << "ct_option " << ct_option;
  }
  c.unknown_label = 2.9;
  EXPECT_EQ(labels_of(c), std::vector<double>{2});

  c.oflag = -0.9;
  EXPECT_EQ(run(c).console, "");
  c.oflag = 1.9;
  EXPECT_EQ(run(c).console.rfind("\nQIR performance phase summary\n", 0), 0u);
  c.oflag = 3.9;
  EXPECT_NE(run(c).console.find("      Node #1 fails CT (CFV=0.250000 < Tu=0.500000)\n"),
            std::string::npos);
}

// M = (K - 1) / 2: an eighth column is never read. Were it read as the
// radius (50), the pattern at distance 2 would lie inside and pass VT
// (MFV 0.75); with radius 1 its MFV is (6 - 1) / 8 = 0.625.
TEST_F(PerfArgumentsTest, SevenAndEightTemplateColumnsBothGiveThreeFeatures) {
  PerfCase c;
  c.nlabels = {6};
  c.vigilance = 0.7;
  c.patterns = {{0, 0, 0.5}, {0, 0, 2}};
  for (const std::vector<double> &row :
       {std::vector<double>{0, 0, 0, 0, 0, 0, 1}, std::vector<double>{0, 0, 0, 0, 0, 0, 1, 50}}) {
    c.templates = {row};
    const qirhost::CallResult result = run(c);
    ASSERT_FALSE(result.error) << result.error.value_or("");
    EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), (std::vector<double>{6, -1}));
    // node_init 2; point match 5M+2 = 17 inside, 5M+4 = 19 outside, each +1
    // comparison, with the CFV's 2 when it passes VT; the pattern's VT
    // comparison.
    EXPECT_EQ(result.flop_reports, (std::vector<std::int64_t>{3, 2, 18 + 2, 1, 20, 1}));

    std::vector<ArrayPtr> inputs = host_inputs(c);
    inputs[PATTERNS] = make_matrix(10, 4, std::vector<double>(40, 0.0));
    EXPECT_EQ(run(inputs).error.value_or(""),
              "QIR_PERF: 8th input argument (Patterns) must be of type  10x3.");
  }
}

}  // namespace
}  // namespace perf_test
