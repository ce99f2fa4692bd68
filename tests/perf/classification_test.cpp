// The classification pass seen through the module: winners, labels, the
// operation counts reported to the host, the trace and the summary. Every
// expected figure is worked out by hand in the comments beside it.
#include "perf_test_support.h"

namespace perf_test {
namespace {

using Reports = std::vector<std::int64_t>;

// D = 8, alpha = 0 (so Tu = 8 / 16 = 0.5), vigilance 0.2, one feature, point
// nodes (free size 8 - 2 radius). Pattern 0 against:
//   node 1 at 6, r 0: distance 6, excess 6, fit 2, MFV 0.25, CFV 0.25 < Tu
//   node 2 at 0, r 1: inside, fit 6, MFV 0.75, CFV 1
//   node 3 at 2, r 1: excess 1, fit 5, MFV 0.625, CFV 0.833333
//   node 4 at 20, r 0: excess 20, fit -12, MFV -1.5 < 0.2
// Pattern 20: nodes 1-3 fail VT (MFV -0.75, -1.625, -1.375); node 4 holds it.
PerfCase four_node_case(double ct_option, double oflag) {
  PerfCase c;
  c.templates = {{6, 0, 0}, {0, 0, 1}, {2, 0, 1}, {20, 0, 0}};
  c.nlabels = {10, 20, 30, 40};
  c.vigilance = 0.2;
  c.ct_option = ct_option;
  c.patterns = {{0}, {20}};
  c.oflag = oflag;
  return c;
}

const char *four_node_header = "\nList presentation of 2 patterns:\n";
const char *four_node_pattern1_nodes =
    "      Node #1 fails CT (CFV=0.250000 < Tu=0.500000)\n"
    "      Node #2 is candidate (CFV=1.000000)\n"
    "      Node #3 is candidate (CFV=0.833333)\n"
    "      Node #4 fails VT (MFV=-1.500000 < rho=0.200000)\n";
const char *four_node_pattern1 = "   Pattern #1 selected by node #2 and classified as '20'\n";
const char *four_node_pattern2_nodes =
    "      Node #1 fails VT (MFV=-0.750000 < rho=0.200000)\n"
    "      Node #2 fails VT (MFV=-1.625000 < rho=0.200000)\n"
    "      Node #3 fails VT (MFV=-1.375000 < rho=0.200000)\n"
    "      Node #4 is candidate (CFV=1.000000)\n";
const char *four_node_pattern2 = "   Pattern #2 selected by node #4 and classified as '40'\n";
// FLOPs: 4 x 2 (nodes) + pattern 1: 9 + 7 + 9 + 9 matches, 3 CFVs
// + pattern 2: 9 + 9 + 9 + 7, 1 CFV = 8 + 40 + 36 = 84, + 3 for Tu.
// Comparisons: 8 matches + pattern 1 (1 + 2 + 3 + 1) + pattern 2 (1 + 1 + 1 + 2).
const char *four_node_summary =
    "\nQIR performance phase summary\n"
    "2 inactive nodes detected (50.000000%)\n"
    "87 FLOPs and 20 comparisons in 0 seconds\n\n";

using CompetitionTest = PerfModuleTest;

TEST_F(CompetitionTest, ChoiceValueTestCountsOnlyPassingNodes) {
  const qirhost::CallResult result = run(four_node_case(1, 0));
  ASSERT_FALSE(result.error) << result.error.value_or("");
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), (std::vector<double>{20, 40}));
  // Tu; the four nodes in one amount; then per pattern the matches of all
  // nodes and the CFVs in one amount (flops + 1 comparison each: 10 + 8 +
  // 10 + 10, and 2 per CFV), and the pattern's own comparisons last: node 1
  // fails CT (1), nodes 2 and 3 pass
  // (2 each) and node 3 is compared with the winner (1), node 4 fails VT
  // (1) = 7; pattern 2: matches 10 + 10 + 10 + 8, three VT failures and one
  // CT pass = 5.
  EXPECT_EQ(result.flop_reports, (Reports{3, 8, 38 + 6, 7, 38 + 2, 5}));
  EXPECT_EQ(result.flops, 3 + 8 + 44 + 7 + 40 + 5);
}

TEST_F(CompetitionTest, WithoutChoiceValueTestEveryVigilantNodeCompetes) {
  const qirhost::CallResult result = run(four_node_case(0, 3));
  ASSERT_FALSE(result.error) << result.error.value_or("");
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), (std::vector<double>{20, 40}));
  // Node 1 now wins first (CFV 0.25) and loses to node 2; node 3 is
  // compared too: 1 + 2 + 2 + 1 = 6; pattern 2: 4 VT comparisons.
  EXPECT_EQ(result.flop_reports, (Reports{3, 8, 38 + 6, 6, 38 + 2, 4}));
  EXPECT_EQ(result.console.find("fails CT"), std::string::npos);
  EXPECT_NE(result.console.find("      Node #1 is candidate (CFV=0.250000)\n"), std::string::npos);
}

TEST_F(CompetitionTest, EqualChoiceValuesGoToTheLowerNode) {
  PerfCase c;
  c.templates = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
  c.nlabels = {5, 7, 9};
  c.patterns = {{0}};
  c.oflag = 3;
  const qirhost::CallResult result = run(c);
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), std::vector<double>{5});
  // Three VT comparisons and one for each later candidate.
  EXPECT_EQ(result.flop_reports.back(), 5);
  EXPECT_EQ(result.console.substr(0, result.console.find("\nQIR")),
            "\nList presentation of 1 patterns:\n"
            "      Node #1 is candidate (CFV=1.000000)\n"
            "      Node #2 is candidate (CFV=1.000000)\n"
            "      Node #3 is candidate (CFV=1.000000)\n"
            "   Pattern #1 selected by node #1 and classified as '5'\n");
}

TEST_F(CompetitionTest, UnorderedValuesFollowTheComparisons) {
  // Radius D/2 with alpha 0: free size 0, fit 0, MFV 0 passes vigilance 0,
  // CFV 0/0 is NaN. "best >= NaN" is false, so node 2 displaces node 1,
  // and "NaN >= 1" is false, so node 3 displaces node 2.
  PerfCase c;
  c.templates = {{0, 0, 1}, {0, 0, 4}};
  c.nlabels = {1, 2};
  c.patterns = {{0}};
  EXPECT_EQ(labels_of(c), std::vector<double>{2});
  c.templates.push_back({0, 0, 1});
  c.nlabels.push_back(3);
  const qirhost::CallResult result = run(c);
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), std::vector<double>{3});
  EXPECT_EQ(result.flop_reports.back(), 3 + 2);

  // D = 0: a point node holding the pattern has MFV 0/0 (NaN) and fails
  // VT.
  c.D = 0;
  c.templates = {{0, 0, 0}};
  c.nlabels = {1};
  EXPECT_EQ(labels_of(c), std::vector<double>{-1});
}

TEST_F(CompetitionTest, EveryNodeFailingVigilanceLeavesThePatternUnknown) {
  PerfCase c;
  c.templates = {{0, 0, 0}, {3, 0, 0}, {6, 0, 1}};
  c.nlabels = {1, 2, 3};
  c.vigilance = 0.5;
  c.patterns = {{20}};
  c.unknown_label = -3;
  c.oflag = 2;
  const qirhost::CallResult result = run(c);
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), std::vector<double>{-3});
  // The three nodes, the three matches in one amount, then one VT
  // comparison per node, nothing else; no CFV is computed.
  EXPECT_EQ(result.flop_reports, (Reports{3, 6, 30, 3}));
  // FLOPs 6 + 3 x 9 + 3; comparisons 3 + 3.
  EXPECT_EQ(steady(result.console),
            "\nList presentation of 1 patterns:\n"
            "   Pattern #1 could not be classified\n"
            "\nQIR performance phase summary\n"
            "3 inactive nodes detected (100.000000%)\n"
            "unable to classify 1 patterns (100.000000%)\n"
            "36 FLOPs and 6 comparisons in 0 seconds\n\n");
}

TEST_F(CompetitionTest, DirectionMakesTheNodeAnEllipsoid) {
  // Two features, radius 2, ratio 0.5, D 8 (free size 4). Along the axis
  // (1.5, 0) lies at distance 1.5; across it (0, 1.5) lies at 1.5 / 0.5 = 3,
  // outside: fit 3, MFV 0.375 < vigilance 0.5. Without a direction the node
  // is a ball of radius 2 holding both.
  PerfCase c;
  c.templates = {{0, 0, 1, 0, 2}};
  c.nlabels = {8};
  c.ratio = 0.5;
  c.vigilance = 0.5;
  c.patterns = {{1.5, 0}, {0, 1.5}};
  qirhost::CallResult result = run(c);
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), (std::vector<double>{8, -1}));
  // Ellipsoid match: 5M + 8 = 18 inside (with its CFV), 5M + 10 = 20
  // outside.
  EXPECT_EQ(result.flop_reports, (Reports{3, 2, 19 + 2, 1, 21, 1}));

  c.templates = {{0, 0, -0.0, 0, 2}};  // -0 is no direction
  result = run(c);
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), (std::vector<double>{8, 8}));
  EXPECT_EQ(result.flop_reports, (Reports{3, 2, 13 + 2, 1, 13 + 2, 1}));
}

using SummaryTest = PerfModuleTest;

TEST_F(SummaryTest, WorkedExampleWithUnclassifiedPatterns) {
  // Point nodes at 0, 10, 20, 30; vigilance 1 admits only exact hits. The
  // node at 30 never wins; patterns 5 and 100 have no candidate.
  PerfCase c;
  c.templates = {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}};
  c.nlabels = {1, 2, 3, 4};
  c.vigilance = 1;
  c.patterns = {{0}, {0}, {10}, {20}, {0}, {10}, {20}, {0}, {5}, {100}};
  c.oflag = 1;
  const qirhost::CallResult result = run(c);
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()),
            (std::vector<double>{1, 1, 2, 3, 1, 2, 3, 1, -1, -1}));
  // FLOPs: 8 (nodes) + 8 hits x (7 + 3 x 9 + 2) + 2 misses x 4 x 9 = 368, + 3.
  // Comparisons: 40 matches + 40 VT.
  EXPECT_EQ(steady(result.console),
            "\nQIR performance phase summary\n"
            "1 inactive node detected (25.000000%)\n"
            "unable to classify 2 patterns (20.000000%)\n"
            "371 FLOPs and 80 comparisons in 0 seconds\n\n");
}

TEST_F(SummaryTest, NodeWinningSeveralPatternsCountsOnce) {
  PerfCase c;
  c.templates = {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}};
  c.nlabels = {1, 2, 3};
  c.vigilance = 1;
  c.patterns = {{0}, {0}, {10}};
  c.oflag = 1;
  const qirhost::CallResult result = run(c);
  // FLOPs: 6 + 3 x (7 + 9 + 9 + 2) + 3; comparisons 9 + 9. No pattern
  // went unclassified, so that line is absent.
  EXPECT_EQ(steady(result.console),
            "\nQIR performance phase summary\n"
            "1 inactive node detected (33.333333%)\n"
            "90 FLOPs and 18 comparisons in 0 seconds\n\n");
}

TEST_F(SummaryTest, NoPatternsGiveAnEmptyResult) {
  PerfCase c = four_node_case(1, 2);
  std::vector<ArrayPtr> inputs = host_inputs(c);
  inputs[PATTERNS] = qirhost::make_matrix(0, 1, {});
  const qirhost::CallResult result = run(inputs);
  ASSERT_FALSE(result.error) << result.error.value_or("");
  EXPECT_EQ(qirhost::dims_of(result.outputs[0].get()), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(result.flop_reports, (Reports{3, 8}));
  EXPECT_EQ(steady(result.console),
            "\nList presentation of 0 patterns:\n"
            "\nQIR performance phase summary\n"
            "4 inactive nodes detected (100.000000%)\n"
            "11 FLOPs and 0 comparisons in 0 seconds\n\n");
}

TEST_F(SummaryTest, NoNodesLeaveEveryPatternUnknown) {
  PerfCase c;
  c.patterns = {{1}, {2}};
  c.unknown_label = 9;
  c.oflag = 2;
  std::vector<ArrayPtr> inputs = host_inputs(c);
  inputs[TEMPLATES] = qirhost::make_matrix(0, 3, {});
  const qirhost::CallResult result = run(inputs);
  ASSERT_FALSE(result.error) << result.error.value_or("");
  EXPECT_EQ(qirhost::values_of(result.outputs[0].get()), (std::vector<double>{9, 9}));
  EXPECT_EQ(result.flop_reports, (Reports{3, 0, 0}));
  EXPECT_EQ(steady(result.console),
            "\nList presentation of 2 patterns:\n"
            "   Pattern #1 could not be classified\n"
            "   Pattern #2 could not be classified\n"
            "\nQIR performance phase summary\n"
            "0 inactive nodes detected (0.000000%)\n"
            "unable to classify 2 patterns (100.000000%)\n"
            "3 FLOPs and 0 comparisons in 0 seconds\n\n");

  inputs[TEMPLATES] = qirhost::make_matrix(0, 0, {});  // M = 0
  inputs[PATTERNS] = qirhost::make_matrix(2, 0, {});
  const qirhost::CallResult featureless = run(inputs);
  ASSERT_FALSE(featureless.error) << featureless.error.value_or("");
  EXPECT_EQ(qirhost::values_of(featureless.outputs[0].get()), (std::vector<double>{9, 9}));
}

TEST(VerbosityTest, EachLevelAddsItsLines) {
  const std::string summary = four_node_summary;
  const std::string patterns = std::string(four_node_pattern1) + four_node_pattern2;
  const std::string nodes = std::string(four_node_pattern1_nodes) + four_node_pattern1 +
                            four_node_pattern2_nodes + four_node_pattern2;
  const std::vector<std::string> expected = {
      "", summary, four_node_header + patterns + summary, four_node_header + nodes + summary};
  for (int oflag = 0; oflag <= 3; ++oflag) {
    qirhost::Module perf(QIR_PERF_MODULE_PATH);  // fresh totals each time
    const qirhost::CallResult result = perf.call(1, raw(host_inputs(four_node_case(1, oflag))));
    EXPECT_EQ(steady(result.console), expected[oflag]) << "oflag " << oflag;
  }
}

TEST(TotalsTest, FiguresAccumulateAcrossCallsUntilReload) {
  const std::vector<ArrayPtr> inputs = host_inputs(four_node_case(1, 1));
  std::vector<ArrayPtr> refused = host_inputs(four_node_case(1, 1));
  refused[D] = qirhost::make_scalar(-8);
  // Each call counts 8 + 76 FLOPs and 8 comparisons through the module's
  // counters; its own 3 Tu FLOPs and 12 comparisons are added only to its
  // own line. A refused call counts nothing.
  const std::vector<std::string> lines = {
      "87 FLOPs and 20 comparisons", "171 FLOPs and 28 comparisons",
      "255 FLOPs and 36 comparisons"};
  auto perf = std::make_unique<qirhost::Module>(QIR_PERF_MODULE_PATH);
  for (const std::string &line : lines) {
    const qirhost::CallResult result = perf->call(1, raw(inputs));
    EXPECT_NE(steady(result.console).find(line + " in 0 seconds"), std::string::npos)
        << result.console;
    // The host hears every amount once: 3 (Tu) + 84 FLOPs and 8 comparisons
    // through the counters + 12 of its own.
    EXPECT_EQ(result.flops, 107);
    EXPECT_TRUE(perf->call(1, raw(refused)).error.has_value());
  }
  perf.reset();
  perf = std::make_unique<qirhost::Module>(QIR_PERF_MODULE_PATH);
  EXPECT_NE(steady(perf->call(1, raw(inputs)).console).find(lines[0]), std::string::npos);
}

// A QIR_THREADS that cannot be used is named, once per value, and the
// labels stay what they are with any thread count.
TEST_F(CompetitionTest, AnUnusableThreadSettingIsNamedOncePerValue) {
  const PerfCase c = four_node_case(1, 0);
  auto warnings_with = [&](const char *setting) {
    setenv("QIR_THREADS", setting, 1);
    const qirhost::CallResult result = run(c);
    EXPECT_FALSE(result.error) << *result.error;
    EXPECT_EQ(qirhost::values_of(result.outputs.at(0).get()), (std::vector<double>{20, 40}));
    return result.warnings;
  };
  const std::string tail = " is not a whole number from 1 to 256; using the processor count (";
  for (const char *bad : {"0", "-1", "abc", "257", "100000", "2x"}) {
    const auto warnings = warnings_with(bad);
    ASSERT_EQ(warnings.size(), 1u) << bad;
    EXPECT_EQ(warnings[0].rfind(std::string("QIR_PERF: QIR_THREADS=") + bad + tail, 0), 0u)
        << warnings[0];
    EXPECT_TRUE(warnings_with(bad).empty()) << bad;  // the same value again: no repeat
  }
  EXPECT_TRUE(warnings_with("2").empty());
  EXPECT_TRUE(warnings_with("").empty());
  unsetenv("QIR_THREADS");
  EXPECT_TRUE(run(c).warnings.empty());
}

}  // namespace
}  // namespace perf_test
