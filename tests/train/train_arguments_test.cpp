// The entry point's checks: each refusal with its message, first failure
// first, and how accepted values are taken.
#include "train_test_support.h"

#include <limits>

namespace train_test {
namespace {

using qirhost::make_array;
using qirhost::make_scalar;

class ArgumentTest : public TrainModuleTest {
 protected:
  // The error of a call whose input `input` is replaced; a refused call
  // prints nothing, allocates nothing and fills no slot.
  std::string refused(Input input, ArrayPtr value, int nlhs = 3,
                      const TrainCase &c = TrainCase{}) const {
    std::vector<ArrayPtr> inputs = host_inputs(c);
    inputs[input] = std::move(value);
    const qirhost::CallResult result = run(inputs, nlhs);
    if (!result.error) return "(accepted)";
    EXPECT_EQ(result.console, "");
    EXPECT_EQ(result.allocation_requests, 0u);
    for (const ArrayPtr &output : result.outputs) EXPECT_FALSE(output);
    return *result.error;
  }
};

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

ArrayPtr three_d() { return make_array(mxDOUBLE_CLASS, {1, 1, 2}, {1, 1}); }
ArrayPtr square() { return qirhost::make_rows({{1, 1}, {1, 1}}); }
ArrayPtr empty_row() { return make_array(mxDOUBLE_CLASS, {1, 0}); }

TEST_F(ArgumentTest, ArraysAreCheckedForShapeClassSizeAndLabels) {
  std::vector<ArrayPtr> ten = host_inputs(TrainCase{});
  ten.pop_back();
  EXPECT_EQ(run(ten).error.value_or(""), "QIR_TRAIN: 11 input arguments required.");
  const std::string p = "QIR_TRAIN: 1st input argument (Patterns) ";
  EXPECT_EQ(refused(PATTERNS, three_d()), p + "must be  a two dimensional array (matrix).");
  EXPECT_EQ(refused(PATTERNS, make_array(mxINT32_CLASS, {2, 1}, {0, 1})),
            p + "must be a full real double matrix.");
  EXPECT_EQ(refused(PATTERNS, make_array(mxDOUBLE_CLASS, {2, 1}, {0, 1}, {0, 1})),
            p + "must be a full real double matrix.");
  EXPECT_EQ(refused(PATTERNS, make_array(mxDOUBLE_CLASS, {2, 1}, {0, 1}, {}, true)),
            p + "must be a full real double matrix.");
  EXPECT_EQ(refused(PATTERNS, make_array(mxDOUBLE_CLASS, {std::size_t{1} << 31, 0})),
            p + "is too large.");
  EXPECT_EQ(refused(PATTERNS, make_array(mxDOUBLE_CLASS, {0, std::size_t{1} << 30})),
            p + "is too large.");  // 2M+1 would not fit

  const std::string l = "QIR_TRAIN: 2nd input argument (PLabels) ";
  EXPECT_EQ(refused(PLABELS, three_d()), l + "must a vector.");
  EXPECT_EQ(refused(PLABELS, make_array(mxSINGLE_CLASS, {2, 1}, {1, 2})),
            l + "must be a full real double vector.");
  EXPECT_EQ(refused(PLABELS, make_scalar(1)), l + "must be of type  2x1 or 1x2.");
  EXPECT_EQ(refused(PLABELS, square()), l + "must be of type  2x1 or 1x2.");
  EXPECT_EQ(refused(PLABELS, qirhost::make_row({1, 2})), "(accepted)");
  for (double bad : {nan, inf, 2147483648.0, -2147483649.0})
    EXPECT_EQ(refused(PLABELS, qirhost::make_column({1, bad})),
              l + "must hold labels that fit a 32-bit integer.");
  EXPECT_EQ(refused(PLABELS, qirhost::make_column({1, -2147483648.0})), "(accepted)");
  for (double fraction : {1.5, -0.25, 2147483647.5})
    EXPECT_EQ(refused(PLABELS, qirhost::make_column({1, fraction})), l + "must hold whole numbers.");

  // Non-finite patterns, reported at the first row holding one, after the
  // shape of Patterns and before anything about PLabels.
  EXPECT_EQ(refused(PATTERNS, qirhost::make_rows({{0, 1}, {inf, nan}})),
            p + "holds a non-finite value at row 2, column 1; drop that pattern or give it a "
                "number there.");
  EXPECT_EQ(refused(PATTERNS, qirhost::make_rows({{0, 1}, {2, -inf}})),
            p + "holds a non-finite value at row 2, column 2; drop that pattern or give it a "
                "number there.");
  EXPECT_EQ(refused(PATTERNS, qirhost::make_rows({{1.7976931348623157e308, -1e300}, {0, 0}})),
            "(accepted)");
  TrainCase late{{{nan}, {0}}, {1.5}, TrainCase{}.scalars};
  late.scalars[0] = -1;
  EXPECT_EQ(refused(OFLAG, make_scalar(9), 1, late),
            p + "holds a non-finite value at row 1, column 1; drop that pattern or give it a "
                "number there.");
  late.patterns = {{0}, {1}};
  late.plabels = {1.5, 2};
  EXPECT_EQ(refused(OFLAG, make_scalar(9), 1, late), l + "must hold whole numbers.");
}

TEST_F(ArgumentTest, ScalarsAreCheckedForShapeThenRange) {
  struct Rule { Input input; const char *name; double bad; const char *range; };
  const Rule rules[] = {
      {D, "3rd input argument (D)", -1, "must be non-negative."},
      {RATIO, "4th input argument (ratio)", 0, "must be in (0.0, 1.0]."},
      {VIGILANCE, "5th input argument (vigilance)", nan, "must be in [0.0, 1.0]."},
      {ALPHA, "6th input argument (alpha)", -0.5, "must be non-negative."},
      {LEARNING_RATE, "7th input argument (learning_rate)", 0, "must be in (0.0, 1.0]."},
      {MAX_LIST, "8th input argument (max_list_presentations)", 0.9,
       "must  be greater than 0."},
      {TRIM, "9th input argument (trim_option)", 2, "must be either 0 or 1."},
      {CT, "10th input argument (ct_option)", -1, "must be either 0 or 1."}};
  for (const Rule &rule : rules) {
    const std::string start = std::string("QIR_TRAIN: ") + rule.name + " ";
    for (ArrayPtr (*shape)() : {three_d, square, empty_row})
      EXPECT_EQ(refused(rule.input, shape()), start + "must be a scalar.");
    EXPECT_EQ(refused(rule.input, qirhost::make_string("1")), start + "must be a scalar.");
    // Never read through the real part alone.
    EXPECT_EQ(refused(rule.input, make_array(mxDOUBLE_CLASS, {1, 1}, {1}, {5})),
              start + "must be a scalar.");
    EXPECT_EQ(refused(rule.input, make_array(mxDOUBLE_CLASS, {1, 1}, {1}, {}, true)),
              start + "must be a scalar.");
    EXPECT_EQ(refused(rule.input, make_scalar(rule.bad)), start + rule.range);
  }
  for (double bad : {1.5, nan}) EXPECT_NE(refused(RATIO, make_scalar(bad)), "(accepted)");
  EXPECT_NE(refused(VIGILANCE, make_scalar(1.01)), "(accepted)");
  for (double bad : {nan, 3e9}) EXPECT_NE(refused(MAX_LIST, make_scalar(bad)), "(accepted)");
  EXPECT_EQ(refused(OFLAG, three_d()), "QIR_TRAIN: 11th input argument (oflag) must be scalar.");
  for (ArrayPtr (*shape)() : {square, empty_row})
    EXPECT_EQ(refused(OFLAG, shape()), "QIR_TRAIN: 11th input argument must be scalar.");
  for (double bad : {-1.0, 5.0, nan})
    EXPECT_EQ(refused(OFLAG, make_scalar(bad)),
              "QIR_TRAIN: 11th input argument (oflag) must be 0,1,2,3 or 4.");
}

TEST_F(ArgumentTest, FirstFailureWinsAndResultsAreCountedLast) {
  TrainCase late_faults = with(with(TrainCase{}, RATIO, 0), OFLAG, 9);
  EXPECT_EQ(refused(D, make_scalar(-1), 2, late_faults),
            "QIR_TRAIN: 3rd input argument (D) must be non-negative.");
  EXPECT_EQ(refused(PLABELS, make_scalar(1), 1, late_faults),
            "QIR_TRAIN: 2nd input argument (PLabels) must be of type  2x1 or 1x2.");
  for (int nlhs : {0, 1, 2, 4})
    EXPECT_EQ(refused(D, make_scalar(1), nlhs), "QIR_TRAIN: 3 output arguments required.");
}

TEST_F(ArgumentTest, BoundsAreInclusiveWhereStatedAndIntegersTruncate) {
  for (auto [input, value] : {std::pair{D, 0.0}, {ALPHA, 0.0}, {VIGILANCE, 0.0},
                              {VIGILANCE, 1.0}, {RATIO, 1.0}, {LEARNING_RATE, 1.0},
                              {D, inf}, {ALPHA, inf}})
    EXPECT_FALSE(run(with(TrainCase{}, input, value)).error) << input << " " << value;

  // The same pattern under two labels never converges: from the second
  // presentation on, MT drops every node and adds one for the second label.
  TrainCase never_matches{{{0.0}, {0.0}}, {1, 2}, {1, 1, 0, 0.001, 1, 2.9, 1.7, 0, 4.5}};
  qirhost::CallResult result = trained(never_matches);
  EXPECT_EQ(qirhost::values_of(result.outputs[2].get()), std::vector<double>{2});
  EXPECT_EQ(qirhost::values_of(result.outputs[1].get()), (std::vector<double>{1, 2, 2}));
  EXPECT_NE(result.console.find("\nList presentation #2:\n"), std::string::npos);
  EXPECT_NE(result.console.find("Trimming option ignored"), std::string::npos);
  EXPECT_EQ(trained(with(never_matches, TRIM, -0.5)).console.find("Trimming"),
            std::string::npos);

  // A row D is read as its first element (the trace shows MFVs and CFVs).
  std::vector<ArrayPtr> row_d = host_inputs(with(TrainCase{}, OFLAG, 4));
  row_d[D] = qirhost::make_row({5, 7, 9});
  reload();  // both runs from a fresh load, so that the totals match
  const std::string from_row = steady(run(row_d).console);
  reload();
  EXPECT_EQ(from_row, trained(with(with(TrainCase{}, OFLAG, 4), D, 5)).console);
}

}  // namespace
}  // namespace train_test
