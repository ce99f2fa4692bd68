// Training that continues from given nodes (the 12th and 13th inputs):
// their checks, a small run worked out by hand, and properties over many
// generated runs on the module and its plain-search build, every kernel.
#include "train_test_support.h"
#include "../support/reach_setting.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace train_test {
namespace {

using qirhost::make_array;
using qirhost::make_column;
using qirhost::make_rows;
using qirhost::values_of;

enum GivenInput { TEMPLATES = OFLAG + 1, NLABELS };

// Eleven inputs, then Templates and NLabels. Patterns without rows get
// the width the templates need.
std::vector<ArrayPtr> continued(const TrainCase &c, ArrayPtr templates, ArrayPtr nlabels) {
  std::vector<ArrayPtr> inputs = host_inputs(c);
  const std::size_t width = qirhost::dims_of(templates.get())[1];
  if (c.patterns.empty() && width > 0)
    inputs[PATTERNS] = make_array(mxDOUBLE_CLASS, {0, (width - 1) / 2});
  inputs.push_back(std::move(templates));
  inputs.push_back(std::move(nlabels));
  return inputs;
}

class GivenNodesTest : public TrainModuleTest {
 protected:
  // The error of a continued call of the worked example (M = 1) whose
  // given nodes are replaced; a refused call prints and allocates nothing.
  std::string refused(ArrayPtr templates, ArrayPtr nlabels, TrainCase c = TrainCase{},
                      int nlhs = 3) const {
    const qirhost::CallResult result = run(continued(c, std::move(templates), std::move(nlabels)), nlhs);
    if (!result.error) return "(accepted)";
    EXPECT_EQ(result.console, "");
    EXPECT_EQ(result.allocation_requests, 0u);
    return *result.error;
  }
};

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST_F(GivenNodesTest, GivenNodesAreCheckedAfterTheElevenWithTheirOwnMessages) {
  const ArrayPtr node = make_rows({{0, 1, 0.5}});
  for (std::size_t count : {10u, 12u, 14u}) {
    std::vector<ArrayPtr> inputs = continued(TrainCase{}, make_rows({{0, 1, 0.5}}), make_column({1}));
    inputs.resize(std::min(count, inputs.size()));
    while (inputs.size() < count) inputs.push_back(make_array(mxDOUBLE_CLASS, {0, 0}));
    EXPECT_EQ(run(inputs).error.value_or(""), "QIR_TRAIN: 11 input arguments required.");
  }
  const std::string t = "QIR_TRAIN: 12th input argument (Templates) ";
  const std::string l = "QIR_TRAIN: 13th input argument (NLabels) ";
  EXPECT_EQ(refused(make_array(mxDOUBLE_CLASS, {1, 3, 2}), make_column({1})),
            t + "must be  a two dimensional array (matrix).");
  EXPECT_EQ(refused(make_array(mxSINGLE_CLASS, {1, 3}, {0, 0, 0}), make_column({1})),
            t + "must be a full real double matrix.");
  EXPECT_EQ(refused(make_rows({{0, 0, 0, 0, 0}}), make_column({1})),
            t + "has 5 columns; Patterns of 1 columns need templates of 2M+1 = 3.");
  EXPECT_EQ(refused(make_rows({{0, 0}}), make_column({1})),
            t + "has 2 columns; Patterns of 1 columns need templates of 2M+1 = 3.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}, {0, nan, 0.5}}), make_column({1, 2})),
            t + "holds a non-finite value at row 2, column 2; the nodes are damaged; train them "
                "again.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}, {0, 0, -0.5}}), make_column({1, 2})),
            t + "holds a negative radius at row 2.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}, {0, 0.5, 0.5}}), make_column({1, 2})),
            t + "holds a direction at row 2 that is neither zero nor of unit length.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}}), make_array(mxDOUBLE_CLASS, {1, 1, 2}, {1, 1})),
            l + "must a vector.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}}), make_array(mxINT8_CLASS, {1, 1}, {1})),
            l + "must be a full real double vector.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}}), make_column({1, 2})),
            l + "must be of type  1x1 or 1x1.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}}), make_column({4e9})),
            l + "must hold labels that fit a 32-bit integer.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}}), make_column({1.5})), l + "must hold whole numbers.");

  // The eleven first, the number of results last.
  EXPECT_EQ(refused(make_rows({{0, 0}}), make_column({1}), with(TrainCase{}, OFLAG, 9)),
            "QIR_TRAIN: 11th input argument (oflag) must be 0,1,2,3 or 4.");
  EXPECT_EQ(refused(make_rows({{0, 0}}), make_column({1}), TrainCase{}, 1),
            t + "has 2 columns; Patterns of 1 columns need templates of 2M+1 = 3.");
  EXPECT_EQ(refused(make_rows({{0, 1, 0.5}}), make_column({1}), TrainCase{}, 2),
            "QIR_TRAIN: 3 output arguments required.");

  // No rows are no nodes, whatever the width ([] included), in a row or a
  // column of labels.
  EXPECT_EQ(refused(make_array(mxDOUBLE_CLASS, {0, 0}), make_array(mxDOUBLE_CLASS, {0, 0})),
            "(accepted)");
  EXPECT_EQ(refused(make_rows({{0, -1, 0.5}, {1, 0, 2}}), qirhost::make_row({3, -4})),
            "(accepted)");
}

// One given point node at 0 (label 1), one pattern at 0.1 (label 2):
// the node wins, misclassifies, and MT makes node 2; the next presentation
// selects node 2 and changes nothing. The given node stays inactive and is
// kept although trimming is on.
TEST_F(GivenNodesTest, HandWorkedContinuationTracesCountsAndResults) {
  TrainCase c{{{0.1}}, {2}, {1, 1, 0, 0.001, 1, 10, 1, 0, 4}};
  const qirhost::CallResult result =
      run(continued(c, make_rows({{0, 0, 0}}), make_column({1})));
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(steady(result.console),
            "\nList presentation #1:\n"
            "   Pattern #1 is being presented (label 2)\n"
            "      Node #1 is candidate (CFV=0.899101)\n"
            "      Node #1 (label 1) misclassifies pattern #1 - Engage MT (set rho=0.900000)\n"
            "   Pattern #1 created  node #2 (label 2) during MT\n"
            "   Summary: 1 new nodes created, 0 node updates\n"
            "\nList presentation #2:\n"
            "   Pattern #1 is being presented (label 2)\n"
            "      Node #1 is candidate (CFV=0.899101)\n"
            "      Node #2 is candidate (CFV=0.999001)\n"
            "   Pattern #1 selected node #2 (label 2)\n"
            "   Summary: 0 new nodes created, 0 node updates\n"
            "\nQIR training converged after 1 list presentation\n"
            "0 inactive nodes trimmed (0.000000% redundacy)\n"
            "1 node given (1 inactive), 1 created\n"
            "2 nodes returned (100.000000% inflation)\n"
            // Through the counters: the given node 2, node matches 9 + 1,
            // 9 + 1 and 7 + 1, three CFVs 6. The run's own: Tu 3, one and
            // two nodes evaluated, one MT test, one second candidate.
            "39 FLOPs and 8 comparisons in 0 seconds\n\n");
  EXPECT_EQ(result.flops, 39 + 8);
  EXPECT_EQ(values_of(result.outputs[0].get()), (std::vector<double>{0, 0.1, 0, 0, 0, 0}));
  EXPECT_EQ(values_of(result.outputs[1].get()), (std::vector<double>{1, 2}));
  EXPECT_EQ(values_of(result.outputs[2].get()), std::vector<double>{1});
  EXPECT_EQ(result.blocks_left + result.arrays_left, 0u);
}


// No template rows take the labels qir_perf takes for no nodes (0x1, 1x0)
// and [], and no other empty shape; M = 0 needs one column, so the two
// columns qir_perf accepts for M = 0 are refused here.
TEST_F(GivenNodesTest, NoNodesTakeTheEmptyLabelsQirPerfTakesAndBracketsOnly) {
  const std::string l = "QIR_TRAIN: 13th input argument (NLabels) ";
  const auto none = [] { return make_array(mxDOUBLE_CLASS, {0, 3}); };
  for (const std::vector<std::size_t> &shape :
       std::vector<std::vector<std::size_t>>{{0, 1}, {1, 0}, {0, 0}})
    EXPECT_EQ(refused(none(), make_array(mxDOUBLE_CLASS, shape)), "(accepted)");
  EXPECT_EQ(refused(none(), make_array(mxDOUBLE_CLASS, {0, 3})), l + "must be of type  0x1 or 1x0.");
  EXPECT_EQ(refused(none(), make_array(mxDOUBLE_CLASS, {3, 0})), l + "must be of type  0x1 or 1x0.");
  EXPECT_EQ(refused(none(), make_array(mxDOUBLE_CLASS, {0, 0, 2})), l + "must a vector.");

  TrainCase featureless{{{}, {}}, {1, 2}, TrainCase{}.scalars};
  EXPECT_EQ(refused(make_rows({{0.5, 0}}), make_column({1}), featureless),
            "QIR_TRAIN: 12th input argument (Templates) has 2 columns; Patterns of 0 columns "
            "need templates of 2M+1 = 1.");
}

// The summary of a continued run: each figure on a line means one thing.
// Converged: the inactive line counts (and its share is of) what it says,
// the given line adds the given nodes no pattern chose. Not converged: no
// inactive figure at all. Without patterns, without features: the same
// lines, with the singular where the count is one.
TEST_F(GivenNodesTest, SummaryFiguresEachMeanOneThing) {
  // Two given points far apart, one pattern on the first: the second is
  // inactive; trimming removes none (1 of 2 given inactive, 0 created).
  TrainCase c{{{0.0}}, {1}, {1, 1, 0, 0.001, 1, 10, 1, 0, 1}};
  const auto given = [] { return make_rows({{0, 0, 0}, {0.9, 0, 0}}); };
  EXPECT_EQ(steady(run(continued(c, given(), make_column({1, 2}))).console)
                .find("\nQIR training converged after 0 list presentations\n"
                      "0 inactive nodes trimmed (0.000000% redundacy)\n"
                      "2 nodes given (1 inactive), 0 created\n"
                      "2 nodes returned ("),
            0u);
  c.scalars[TRIM - D] = 0;
  EXPECT_NE(steady(run(continued(c, given(), make_column({1, 2}))).console)
                .find("1 inactive node detected (50.000000% redundacy)\n"
                      "2 nodes given (1 inactive), 0 created\n"),
            std::string::npos);
  // One presentation allowed and the pattern makes a node: stopped, so
  // the given line has no inactive figure.
  TrainCase stopped{{{0.5}}, {3}, {1, 1, 0, 0.001, 1, 1, 1, 0, 1}};
  EXPECT_NE(steady(run(continued(stopped, given(), make_column({1, 2}))).console)
                .find("QIR training stopped after 1 list presentation\n"
                      "Trimming option ignored due to lack of convergence.\n"
                      "2 nodes given, 1 created\n3 nodes returned ("),
            std::string::npos);
  // N = 0: nothing presented, every given node inactive, kept.
  TrainCase no_patterns{{}, {}, {1, 1, 0, 0.001, 1, 10, 1, 0, 1}};
  EXPECT_EQ(steady(run(continued(no_patterns, make_rows({{0, 0, 0}}), make_column({4}))).console)
                .find("\nQIR training converged after 0 list presentations\n"
                      "0 inactive nodes trimmed (0.000000% redundacy)\n"
                      "1 node given (1 inactive), 0 created\n"
                      "1 node returned (0.000000% compression)\n"),
            0u);
  // M = 0: a template is its radius alone.
  TrainCase no_features{{{}, {}}, {1, 1}, {1, 1, 0, 0.001, 1, 10, 0, 0, 1}};
  EXPECT_NE(steady(run(continued(no_features, make_rows({{0}}), make_column({1}))).console)
                .find("0 inactive nodes detected (0.000000% redundacy)\n"
                      "1 node given (0 inactive), 0 created\n"
                      "1 node returned (50.000000% compression)\n"),
            std::string::npos);
}

// Generated runs: overlapping clusters of a few classes, now and then a
// repeated pattern; every parameter from a small set, trimming included.
class RunGenerator {
 public:
  explicit RunGenerator(std::uint64_t seed) : uniform_(seed) {}

  std::size_t pick(std::size_t n) { return static_cast<std::size_t>(uniform_.bits() % n); }
  template <class T>
  T one_of(std::initializer_list<T> values) {
    return *(values.begin() + pick(values.size()));
  }

  // N patterns of M features in classes first_class, first_class + 1, ...
  TrainCase make_case(std::int32_t M, std::int32_t N, std::size_t classes, double first_class) {
    TrainCase c;
    c.patterns.clear();
    c.plabels.clear();
    const double spread = one_of({0.05, 0.2, 0.5});
    std::vector<std::vector<double>> centres(2 * classes, std::vector<double>(M));
    for (auto &centre : centres)
      for (double &x : centre) x = uniform_(0.0, 1.0);
    for (std::int32_t j = 0; j < N; ++j) {
      if (j > 0 && pick(8) == 0) {
        const std::size_t k = pick(j);
        c.patterns.push_back(c.patterns[k]);
        c.plabels.push_back(c.plabels[k]);
        continue;
      }
      const std::size_t k = pick(centres.size());
      std::vector<double> x(centres[k]);
      for (double &v : x) v += uniform_(-spread, spread);
      c.patterns.push_back(x);
      c.plabels.push_back(first_class + static_cast<double>(k % classes));
    }
    c.scalars = {one_of({1.0, 4.0, 0.5}),           // D
                 one_of({0.5, 1.0, 0.2}),           // ratio
                 one_of({0.0, 0.3, 0.6}),           // vigilance
                 one_of({0.001, 0.1, 0.0}),         // alpha
                 one_of({1.0, 1.0, 1.0, 0.5}),      // learning_rate
                 one_of({100.0, 100.0, 2.0}),       // max_list_presentations
                 one_of({0.0, 1.0}),                // trim_option
                 one_of({0.0, 1.0}),                // ct_option
                 one_of({0.0, 1.0, 2.0, 0.0, 3.0, 1.0, 4.0})};  // oflag
    return c;
  }

  // Template rows as a user might write them: unit directions, zero ones
  // (some -0) with a positive radius, radii beyond D/2.
  Rows hand_written(std::int32_t M, std::size_t count) {
    Rows rows;
    for (std::size_t k = 0; k < count; ++k) {
      std::vector<double> row(2 * M + 1);
      double norm = 0.0;
      for (std::int32_t i = 0; i < M; ++i) {
        row[i] = uniform_(-2.0, 2.0);
        row[M + i] = uniform_(-1.0, 1.0);
        norm += row[M + i] * row[M + i];
      }
      const bool point = M == 0 || pick(3) == 0 || norm == 0.0;
      for (std::int32_t i = 0; i < M; ++i)
        row[M + i] = point ? (pick(2) == 0 ? -0.0 : 0.0) : row[M + i] / std::sqrt(norm);
      row[2 * M] = pick(4) == 0 ? 0.0 : uniform_(0.0, 3.0);
      rows.push_back(row);
    }
    return rows;
  }

 private:
  qirtest::Uniform uniform_;
};

// A call's results as plain values: Templates column-major, NLabels, the
// presentation count, and the console.
struct Outcome {
  std::vector<double> templates, labels;
  std::size_t rows = 0;
  double presentations = -1;
  std::string console;
  std::int64_t flops = 0;
};

Outcome outcome_of(const qirhost::CallResult &result) {
  Outcome o;
  EXPECT_FALSE(result.error) << result.error.value_or("");
  if (result.error) return o;
  o.rows = qirhost::dims_of(result.outputs[0].get())[0];
  o.templates = values_of(result.outputs[0].get());
  o.labels = values_of(result.outputs[1].get());
  o.presentations = values_of(result.outputs[2].get())[0];
  o.console = steady(result.console);
  o.flops = result.flops;
  return o;
}

// Column-major templates back into rows of 2M+1.
Rows rows_of(const Outcome &o, std::int32_t M) {
  const std::size_t width = 2 * static_cast<std::size_t>(M) + 1;
  Rows rows(o.rows, std::vector<double>(width));
  for (std::size_t r = 0; r < o.rows; ++r)
    for (std::size_t c = 0; c < width; ++c) rows[r][c] = o.templates[c * o.rows + r];
  return rows;
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

ArrayPtr template_matrix(const Rows &rows, std::int32_t M) {
  if (rows.empty()) return make_array(mxDOUBLE_CLASS, {0, 2 * static_cast<std::size_t>(M) + 1});
  return make_rows(rows);
}

// The numbers of the summary's given line, or -1s when it has none.
struct GivenLine {
  int given = -1, inactive = -1, created = -1, returned = -1, trimmed = -1;
};
GivenLine given_line(const std::string &console) {
  GivenLine g;
  const std::size_t at = console.find(" given");
  if (at == std::string::npos) return g;
  const std::size_t start = console.rfind('\n', at) + 1;
  // "(I inactive)" only after convergence.
  if (std::sscanf(console.c_str() + start, "%d node%*[s] given (%d inactive), %d created",
                  &g.given, &g.inactive, &g.created) < 2 &&
      std::sscanf(console.c_str() + start, "%d node given (%d inactive), %d created", &g.given,
                  &g.inactive, &g.created) < 2 &&
      std::sscanf(console.c_str() + start, "%d node%*[s] given, %d created", &g.given,
                  &g.created) < 2)
    std::sscanf(console.c_str() + start, "%d node given, %d created", &g.given, &g.created);
  const std::size_t line = console.find('\n', at) + 1;
  std::sscanf(console.c_str() + line, "%d", &g.returned);
  const std::size_t trim = console.find(" trimmed (");
  if (trim != std::string::npos)
    std::sscanf(console.c_str() + console.rfind('\n', trim) + 1, "%d", &g.trimmed);
  return g;
}

// Runs on both builds and expects the same outcome; the plain one's back.
Outcome same_on_both(const qirhost::Module &fast, const qirhost::Module &plain,
                     const std::vector<ArrayPtr> &inputs) {
  std::vector<const mxArray *> raw;
  for (const ArrayPtr &input : inputs) raw.push_back(input.get());
  qirhost::CallOptions totals_only;
  totals_only.record_flop_reports = false;
  const qirhost::CallResult plain_result = plain.call(3, raw, totals_only);
  qirtest::expect_same_call(fast.call(3, raw, totals_only), plain_result);
  return outcome_of(plain_result);
}

using ContinuationTest = qirtest::KernelTest;

// For each generated run: continuing with no patterns returns the nodes;
// continuing a converged, untrimmed run on its own patterns changes
// nothing in one presentation; continuing on a new batch (a new class now
// and then) keeps every given node and label and reports counts that add
// up. Both builds agree throughout.
TEST_P(ContinuationTest, PropertiesHoldOnGeneratedRuns) {
  const qirhost::Module fast(QIR_TRAIN_MODULE_PATH);
  const qirhost::Module plain(QIR_TRAIN_REFERENCE_PATH);
  RunGenerator g(23);
  int unchanged_reruns = 0, new_classes = 0;
  for (int n = 0; n < 40; ++n) {
    SCOPED_TRACE("run " + std::to_string(n));
    const std::int32_t M = g.one_of<std::int32_t>({0, 1, 2, 3, 7, 17});
    const std::size_t classes = 1 + g.pick(3);
    const TrainCase first = g.make_case(M, static_cast<std::int32_t>(g.pick(60)), classes, 1);
    const Outcome trained = same_on_both(fast, plain, host_inputs(first));
    if (HasFatalFailure()) return;
    const Rows given = rows_of(trained, M);
    const std::size_t G = given.size();

    TrainCase empty = first;
    empty.patterns.clear();
    empty.plabels.clear();
    std::vector<ArrayPtr> inputs = continued(empty, template_matrix(given, M), make_column(trained.labels));
    const Outcome kept = same_on_both(fast, plain, inputs);
    EXPECT_TRUE(same_bits(kept.templates, trained.templates));
    EXPECT_TRUE(same_bits(kept.labels, trained.labels));
    EXPECT_EQ(kept.presentations, 0);

    // Trimming may have dropped a node that some pattern chose during MT,
    // so only an untrimmed run is sure to stand as it is.
    const bool converged = trained.presentations < first.scalars[MAX_LIST - D];
    if (converged && first.scalars[TRIM - D] == 0 && !first.patterns.empty()) {
      const Outcome again = same_on_both(
          fast, plain, continued(with(first, OFLAG, 2), template_matrix(given, M), make_column(trained.labels)));
      EXPECT_TRUE(same_bits(again.templates, trained.templates));
      EXPECT_TRUE(same_bits(again.labels, trained.labels));
      EXPECT_EQ(again.presentations, 0);
      EXPECT_EQ(again.console.find("List presentation #1: 0 new nodes created, 0 node updates\n"
                                   "\nQIR training converged after 0 list presentations\n"),
                0u);
      ++unchanged_reruns;
    }

    // The next batch: the same classes, or one more.
    const bool new_class = g.pick(3) == 0;
    new_classes += new_class;
    TrainCase batch = g.make_case(M, static_cast<std::int32_t>(g.pick(40)), classes + new_class, 1);
    batch.scalars = first.scalars;
    batch.scalars[OFLAG - D] = g.one_of({1.0, 2.0, 3.0});
    const Outcome next =
        same_on_both(fast, plain, continued(batch, template_matrix(given, M), make_column(trained.labels)));
    if (HasFatalFailure()) return;
    ASSERT_GE(next.labels.size(), G);
    EXPECT_EQ(std::vector<double>(next.labels.begin(), next.labels.begin() + G), trained.labels);
    const GivenLine line = given_line(next.console);
    if (G == 0) {
      EXPECT_EQ(line.given, -1);
      continue;
    }
    EXPECT_EQ(line.given, static_cast<int>(G));
    EXPECT_EQ(line.returned, static_cast<int>(next.rows));
    const bool trimmed = next.console.find(" inactive nodes trimmed (") != std::string::npos ||
                         next.console.find(" inactive node trimmed (") != std::string::npos;
    if (trimmed)
      EXPECT_EQ(line.given + line.created - line.trimmed, line.returned);
    else
      EXPECT_EQ(line.given + line.created, line.returned);
    // Whether a given node is inactive is told only after convergence.
    const bool converged_now = next.console.find("training converged") != std::string::npos;
    EXPECT_EQ(line.inactive >= 0, converged_now) << next.console;
    EXPECT_LE(line.inactive, line.given);
    // The inactive line's share is of the nodes it counts, over every node.
    const std::size_t share = next.console.find("% redundacy)");
    if (share != std::string::npos) {
      const std::size_t start = next.console.rfind('\n', share) + 1;
      int counted = -1;
      std::sscanf(next.console.c_str() + start, "%d", &counted);
      char expected[64];
      std::snprintf(expected, sizeof expected, "%f",
                    counted * 100.0 / static_cast<double>(line.given + line.created));
      EXPECT_EQ(next.console.substr(next.console.find('(', start) + 1,
                                    share - next.console.find('(', start) - 1),
                expected)
          << next.console;
    }
  }
  EXPECT_GT(unchanged_reruns, 8);
  EXPECT_GT(new_classes, 8);
}

// Hand-written nodes, whatever their geometry, come back as they went in;
// the operations add up to Tu's and node_init's own.
TEST_P(ContinuationTest, HandWrittenNodesComeBackBitForBit) {
  RunGenerator g(5);
  for (int n = 0; n < 40; ++n) {
    SCOPED_TRACE("set " + std::to_string(n));
    const qirhost::Module fast(QIR_TRAIN_MODULE_PATH);  // fresh totals
    const qirhost::Module plain(QIR_TRAIN_REFERENCE_PATH);
    const std::int32_t M = g.one_of<std::int32_t>({0, 1, 2, 5, 40});
    const Rows rows = g.hand_written(M, 1 + g.pick(70));
    std::vector<double> labels;
    for (std::size_t k = 0; k < rows.size(); ++k) labels.push_back(static_cast<double>(g.pick(5)) - 2);
    TrainCase c = g.make_case(M, 0, 1, 1);
    c.scalars[OFLAG - D] = 1;
    c.scalars[TRIM - D] = 1;
    std::vector<ArrayPtr> inputs = continued(c, make_rows(rows), make_column(labels));
    const Outcome o = same_on_both(fast, plain, inputs);
    EXPECT_EQ(o.rows, rows.size());
    std::vector<double> column_major;
    for (std::size_t col = 0; col < rows[0].size(); ++col)
      for (const auto &row : rows) column_major.push_back(row[col]);
    EXPECT_TRUE(same_bits(o.templates, column_major));
    EXPECT_EQ(o.labels, labels);
    const int G = static_cast<int>(rows.size());
    const std::string flops =
        std::to_string(3 + 2 * G) + " FLOPs and 0 comparisons in 0 seconds\n\n";
    EXPECT_EQ(o.console.substr(o.console.size() - flops.size()), flops);
    EXPECT_EQ(o.flops, 3 + 2 * G);
    const GivenLine line = given_line(o.console);
    EXPECT_EQ(line.given, G);
    EXPECT_EQ(line.inactive, G);  // none chosen: no patterns
    EXPECT_EQ(line.created, 0);
    EXPECT_EQ(line.returned, G);
  }
}

// Runs with nodes enough to be grouped and pruned (the module's packed
// search against the plain one), continued on a larger batch.
TEST(LargeContinuations, PrunedRunsMatchThePlainSearch) {
  const qirhost::Module fast(QIR_TRAIN_MODULE_PATH);
  const qirhost::Module plain(QIR_TRAIN_REFERENCE_PATH);
  RunGenerator g(29);
  int many_nodes = 0;
  for (std::int32_t M : {1, 16})
    for (double vigilance : {0.6, 0.9}) {
      SCOPED_TRACE("M " + std::to_string(M) + ", vigilance " + std::to_string(vigilance));
      TrainCase first = g.make_case(M, 300, 3, 1);
      first.scalars = {4.0, 0.5, vigilance, 0.001, 1.0, 50.0, 0.0, 0.0, 0.0};
      const Outcome trained = same_on_both(fast, plain, host_inputs(first));
      many_nodes += trained.rows >= 64;
      const Rows given = rows_of(trained, M);
      if (trained.presentations < 50) {
        const Outcome again = same_on_both(
            fast, plain, continued(first, template_matrix(given, M), make_column(trained.labels)));
        EXPECT_TRUE(same_bits(again.templates, trained.templates));
        EXPECT_EQ(again.presentations, 0);
      }
      TrainCase batch = g.make_case(M, 200, 4, 1);
      batch.scalars = first.scalars;
      batch.scalars[TRIM - D] = 1;
      const Outcome next =
          same_on_both(fast, plain, continued(batch, template_matrix(given, M), make_column(trained.labels)));
      ASSERT_GE(next.labels.size(), given.size());
    }
  EXPECT_GE(many_nodes, 2);
}

INSTANTIATE_TEST_SUITE_P(Kernels, ContinuationTest,
                         ::testing::Values("scalar", "sse2", "avx2", "avx512", "neon"));

}  // namespace
}  // namespace train_test
