// Training runs end to end: the trace at each verbosity, match tracking,
// the tests' tolerances, the host's operation reports, trimming, the
// summary figures and the results.
#include "train_test_support.h"

namespace train_test {
namespace {

using qirhost::values_of;
using Sizes = std::vector<std::size_t>;

class TrainingTest : public TrainModuleTest {};

// The worked example's trace: '4' lines print at oflag 4 only, '3' at 3 and
// up, '2' at exactly 2, '1' at 1 and up.
const char *const worked_trace[] = {
    "4\nList presentation #1:\n",
    "3   Pattern #1 is being presented (label 1)\n",
    "3   Pattern #1 created  node #1 (label 1)\n",
    "3   Pattern #2 is being presented (label 2)\n",
    "4      Node #1 is candidate (CFV=0.899101)\n",
    "4      Node #1 (label 1) misclassifies pattern #2 - Engage MT (set rho=0.900000)\n",
    "3   Pattern #2 created  node #2 (label 2) during MT\n",
    "2List presentation #1: 2 new nodes created, 0 node updates\n",
    "3   Summary: 2 new nodes created, 0 node updates\n",
    "4\nList presentation #2:\n",
    "3   Pattern #1 is being presented (label 1)\n",
    "4      Node #1 is candidate (CFV=0.999001)\n",
    "4      Node #2 is candidate (CFV=0.899101)\n",
    "3   Pattern #1 selected node #1 (label 1)\n",
    "3   Pattern #2 is being presented (label 2)\n",
    "4      Node #1 is candidate (CFV=0.899101)\n",
    "4      Node #2 is candidate (CFV=0.999001)\n",
    "3   Pattern #2 selected node #2 (label 2)\n",
    "2List presentation #2: 0 new nodes created, 0 node updates\n",
    "3   Summary: 0 new nodes created, 0 node updates\n",
    "1\nQIR training converged after 1 list presentation\n",
    "10 inactive nodes detected (0.000000% redundacy)\n",
    "12 nodes created (0.000000% compression)\n",
    "159 FLOPs and 13 comparisons in 0 seconds\n\n"};

std::string expected_trace(int oflag) {
  std::string text;
  for (const char *line : worked_trace) {
    const int level = line[0] - '0';
    if (level == 2 ? oflag == 2 : oflag >= level) text += line + 1;
  }
  return text;
}

TEST_F(TrainingTest, WorkedExampleTracesCountsAndResults) {
  for (int oflag = 0; oflag <= 4; ++oflag) {
    reload();
    const qirhost::CallResult result = trained(with(TrainCase{}, OFLAG, oflag));
    EXPECT_EQ(result.console, expected_trace(oflag)) << "oflag " << oflag;
    // Tu; pattern 1 alone; then per pattern the node matches (8 inside, 10
    // outside) and their CFVs (2 each) in one amount, the pattern's own tally.
    EXPECT_EQ(result.flop_reports, (std::vector<std::int64_t>{3, 0, 12, 3, 22, 5, 22, 5}));
    EXPECT_EQ(qirhost::dims_of(result.outputs[0].get()), (Sizes{2, 3}));
    EXPECT_EQ(values_of(result.outputs[0].get()), (std::vector<double>{0, 0.1, 0, 0, 0, 0}));
    EXPECT_EQ(qirhost::dims_of(result.outputs[1].get()), (Sizes{2, 1}));
    EXPECT_EQ(values_of(result.outputs[1].get()), (std::vector<double>{1, 2}));
    EXPECT_EQ(qirhost::dims_of(result.outputs[2].get()), (Sizes{1, 1}));
    EXPECT_EQ(values_of(result.outputs[2].get()), std::vector<double>{1});
    EXPECT_EQ(result.blocks_left + result.arrays_left, 0u);
  }
}

TEST_F(TrainingTest, TotalsSpanCallsUntilTheModuleIsReloaded) {
  const TrainCase summary_only = with(TrainCase{}, OFLAG, 1);
  trained(summary_only);
  // 51 FLOPs and 5 comparisons per call through the counters, plus 8 and 8.
  EXPECT_NE(trained(summary_only).console.find("\n110 FLOPs and 18 comparisons in 0 seconds\n"),
            std::string::npos);
  reload();
  EXPECT_NE(trained(summary_only).console.find("\n59 FLOPs and 13 comparisons in 0 seconds\n"),
            std::string::npos);
}

// Pattern 2 at `x` against a point node at 0 of the same label (D 1).
TrainCase second_pattern_at(double x, double vigilance, double ct_option) {
  TrainCase c{{{0.0}, {x}}, {1, 1}, {1, 1, vigilance, 0, 1, 10, 0, ct_option, 4}};
  return c;
}

TEST_F(TrainingTest, VigilanceAndChoiceTestsAllowTheirTolerance) {
  for (double ct : {0.0, 1.0}) {
    const double vigilance = ct == 1.0 ? 0.0 : 0.5;  // Tu is 0.5 with alpha 0
    EXPECT_EQ(values_of(trained(second_pattern_at(0.50000005, vigilance, ct)).outputs[1].get()),
              std::vector<double>{1});
    EXPECT_EQ(values_of(trained(second_pattern_at(0.5000002, vigilance, ct)).outputs[1].get()),
              (std::vector<double>{1, 1}));
  }
  const qirhost::CallResult vt = trained(second_pattern_at(0.6, 0.5, 0));
  EXPECT_NE(vt.console.find("      Node #1 fails VT (MFV=0.400000 < rho=0.500000)\n"
                            "   Pattern #2 created  node #2 (label 1)\n"),
            std::string::npos);
  const qirhost::CallResult ct = trained(second_pattern_at(0.6, 0, 1));
  EXPECT_NE(ct.console.find("      Node #1 fails CT (CFV=0.400000 < Tu=0.500000)\n"
                            "   Pattern #2 created  node #2 (label 1)\n"),
            std::string::npos);
  // Pattern 2's own tally: 1 FLOP and 1 comparison each for VT and for CT.
  EXPECT_EQ(std::vector<std::int64_t>(ct.flop_reports.begin(), ct.flop_reports.begin() + 4),
            (std::vector<std::int64_t>{3, 0, 12, 4}));
}

// 0 and 0.4 (label 1) make node 1 cover 0.2; 0.2 (label 2) ties with it
// (alpha 0) and, being later, is chosen only through MT.
TrainCase mt_only_winner(double trim_option, int M = 1) {
  TrainCase c{{}, {1, 1, 2}, {1, 1, 0, 0, 1, 10, trim_option, 0, 3}};
  for (double x : {0.0, 0.4, 0.2}) {
    c.patterns.push_back(std::vector<double>(M, 0.0));
    c.patterns.back()[0] = x;
  }
  return c;
}

std::string summary_lines(const std::string &console) {
  const std::size_t start = console.find("\nQIR training ");
  const std::size_t flops = console.rfind('\n', console.size() - 3);
  return console.substr(start, flops + 1 - start);
}

TEST_F(TrainingTest, NodeChosenOnlyDuringMatchTrackingIsTrimmed) {
  const qirhost::CallResult trimmed = trained(mt_only_winner(1));
  EXPECT_EQ(trimmed.console.substr(0, trimmed.console.find("\nQIR")),
            "   Pattern #1 is being presented (label 1)\n"
            "   Pattern #1 created  node #1 (label 1)\n"
            "   Pattern #2 is being presented (label 1)\n"
            "   Pattern #2 updated  node #1 (label 1)\n"
            "   Pattern #3 is being presented (label 2)\n"
            "   Pattern #3 created  node #2 (label 2) during MT\n"
            "   Summary: 2 new nodes created, 1 node updates\n"
            "   Pattern #1 is being presented (label 1)\n"
            "   Pattern #1 selected node #1 (label 1)\n"
            "   Pattern #2 is being presented (label 1)\n"
            "   Pattern #2 selected node #1 (label 1)\n"
            "   Pattern #3 is being presented (label 2)\n"
            "   Pattern #3 selected node #2 (label 2) during MT\n"
            "   Summary: 0 new nodes created, 0 node updates\n");
  EXPECT_EQ(summary_lines(trimmed.console),
            "\nQIR training converged after 1 list presentation\n"
            "1 inactive node trimmed (50.000000% redundacy)\n"
            "1 node created (66.666667% compression)\n");
  EXPECT_EQ(values_of(trimmed.outputs[0].get()), (std::vector<double>{0.2, 1, 0.2}));
  EXPECT_EQ(values_of(trimmed.outputs[1].get()), std::vector<double>{1});

  const qirhost::CallResult kept = trained(mt_only_winner(0));
  EXPECT_EQ(summary_lines(kept.console),
            "\nQIR training converged after 1 list presentation\n"
            "1 inactive node detected (50.000000% redundacy)\n"
            "2 nodes created (33.333333% compression)\n");
  EXPECT_EQ(values_of(kept.outputs[0].get()), (std::vector<double>{0.2, 0.2, 1, 0, 0.2, 0}));
}

// `copies` copies of each point (k, 0, ...) for k = 1, 2, ..., far apart for D 1.
TrainCase separate_points(std::vector<int> copies, int M, double trim_option = 0) {
  TrainCase c{{}, {}, {1, 1, 1, 0.001, 1, 10, trim_option, 0, 1}};
  for (std::size_t k = 0; k < copies.size(); ++k)
    for (int n = 0; n < copies[k]; ++n) {
      c.patterns.push_back(std::vector<double>(M, 0.0));
      if (M > 0) c.patterns.back()[0] = 2.0 * (k + 1);
      c.plabels.push_back(1);
    }
  return c;
}

TEST_F(TrainingTest, SummaryFiguresFollowNodesPatternsAndFeatures) {
  const std::string converged = "\nQIR training converged after 1 list presentation\n";
  const std::string none_inactive = "0 inactive nodes detected (0.000000% redundacy)\n";
  EXPECT_EQ(summary_lines(trained(separate_points(std::vector<int>(10, 10), 4)).console),
            converged + none_inactive + "10 nodes created (82.500000% compression)\n");
  EXPECT_EQ(summary_lines(trained(separate_points({1, 1}, 2)).console),
            converged + none_inactive + "2 nodes created (50.000000% inflation)\n");
  EXPECT_EQ(summary_lines(trained(separate_points({1, 1, 1}, 1)).console),
            converged + none_inactive + "3 nodes created (0.000000% compression)\n");
  // Without features every pattern lies on the first node.
  const qirhost::CallResult featureless = trained(separate_points({4}, 0));
  EXPECT_EQ(summary_lines(featureless.console),
            converged + none_inactive + "1 node created (75.000000% compression)\n");
  EXPECT_EQ(qirhost::dims_of(featureless.outputs[0].get()), (Sizes{1, 1}));

  // 40 patterns of 2 features: the MT-only trio and 8 separate points.
  TrainCase forty = mt_only_winner(1, 2);
  forty.scalars[OFLAG - D] = 1;
  const TrainCase far = separate_points({5, 5, 5, 5, 5, 4, 4, 4}, 2);
  for (const std::vector<double> &p : far.patterns) forty.patterns.push_back({p[0] + 10, 10});
  forty.plabels.resize(40, 3);
  EXPECT_EQ(summary_lines(trained(forty).console),
            converged + "1 inactive node trimmed (10.000000% redundacy)\n"
                        "9 nodes created (66.250000% compression)\n");
}

TEST_F(TrainingTest, StoppingAtTheLimitIgnoresTrimming) {
  const qirhost::CallResult stopped = trained(with(with(with(TrainCase{}, MAX_LIST, 1), TRIM, 1),
                                                   OFLAG, 1));
  EXPECT_EQ(summary_lines(stopped.console),
            "\nQIR training stopped after 1 list presentation\n"
            "Trimming option ignored due to lack of convergence.\n"
            "2 nodes created (0.000000% compression)\n");
  EXPECT_EQ(values_of(stopped.outputs[2].get()), std::vector<double>{1});

  // One pattern under labels 1 and 2: from the second presentation on, node
  // 1 wins it for label 2, MT drops every node (none has MFV above 1) and
  // a node is added. Node evaluations 1 + 4 + 6 = 11 at 7 FLOPs and 1
  // comparison each, 2 FLOPs of CFV each: 99 FLOPs and 11 comparisons
  // through the counters; the search and MT tallies 14 FLOPs (3 for Tu)
  // and 2 + 8 + 13 = 23 comparisons.
  reload();
  TrainCase c{{{0.0}, {0.0}}, {1, 2}, {1, 1, 0, 0.001, 1, 3, 0, 0, 2}};
  const qirhost::CallResult unmatched = trained(c);
  EXPECT_EQ(unmatched.console,
            "List presentation #1: 2 new nodes created, 0 node updates\n"
            "List presentation #2: 1 new nodes created, 0 node updates\n"
            "List presentation #3: 1 new nodes created, 0 node updates\n"
            "\nQIR training stopped after 3 list presentations\n"
            "4 nodes created (100.000000% inflation)\n"
            "113 FLOPs and 34 comparisons in 0 seconds\n\n");
  EXPECT_EQ(values_of(unmatched.outputs[1].get()), (std::vector<double>{1, 2, 2, 2}));
}

TEST_F(TrainingTest, NoPatternsConvergeAtOnceWithEmptyResults) {
  std::vector<ArrayPtr> inputs = host_inputs(with(TrainCase{}, OFLAG, 1));
  inputs[PATTERNS] = qirhost::make_matrix(0, 2, {});
  inputs[PLABELS] = qirhost::make_matrix(0, 1, {});
  const qirhost::CallResult result = run(inputs);
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(steady(result.console),
            "\nQIR training converged after 0 list presentations\n"
            "0 inactive nodes detected (0.000000% redundacy)\n"
            "0 nodes created (0.000000% compression)\n"
            "3 FLOPs and 0 comparisons in 0 seconds\n\n");
  EXPECT_EQ(qirhost::dims_of(result.outputs[0].get()), (Sizes{0, 5}));
  EXPECT_EQ(qirhost::dims_of(result.outputs[1].get()), (Sizes{0, 1}));
  EXPECT_EQ(values_of(result.outputs[2].get()), std::vector<double>{0});
}

}  // namespace
}  // namespace train_test
