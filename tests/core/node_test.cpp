// Node creation, template rows, match evaluation and operation accounting.
#include "model.h"
#include "node.h"

#include "qirhost/host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace qir {
namespace {

void set_params(std::int32_t M, double D, double ratio = 0.5, double alpha = 0.01) {
  model_params = ModelParams{M, D, ratio, alpha, 1.0};
}

Node from_template(const std::vector<double> &row, std::int32_t label = 7) {
  Node node;
  node_init(node, row.data(), label, 1);
  return node;
}

// Evaluates the node inside a host call and returns what the host counted.
std::int64_t match_and_count(Node &node, const std::vector<double> &pattern) {
  return qirhost::run_call(0, [&](mxArray **) { node_match(node, pattern.data()); }).flops;
}

TEST(NodeTemplate, PatternNodeWritesPatternZerosAndZeroRadius) {
  set_params(3, 2.0);
  const std::vector<double> pattern{0.25, -1.5, 4.0};
  Node node;
  node_init(node, pattern.data(), 3, 0);
  EXPECT_EQ(node.is_point, 1);
  EXPECT_EQ(node.active, 1);
  EXPECT_EQ(node.free_size, 2.0);
  std::vector<double> row(7, 99.0);
  node_to_template(node, row.data());
  EXPECT_EQ(row, (std::vector<double>{0.25, -1.5, 4.0, 0.0, 0.0, 0.0, 0.0}));
}

TEST(NodeTemplate, RoundTripKeepsGeometryAndFollowsNewD) {
  set_params(2, 3.0);
  const std::vector<double> row{0.5, 0.25, 0.6, 0.8, 0.75};
  Node node = from_template(row, -4);
  EXPECT_EQ(node.label, -4);
  EXPECT_EQ(node.active, 0);
  EXPECT_EQ(node.is_point, 0);
  EXPECT_EQ(node.free_size, 1.5);
  std::vector<double> written(5);
  node_to_template(node, written.data());
  EXPECT_EQ(written, row);

  set_params(2, 1.0);
  Node again = from_template(written, -4);
  EXPECT_EQ(again.center, node.center);
  EXPECT_EQ(again.direction, node.direction);
  EXPECT_EQ(again.radius, 0.75);
  EXPECT_EQ(again.free_size, -0.5);  // radius beyond D/2 is used unchanged
}

TEST(NodeTemplate, IsPointFollowsStoredDirection) {
  set_params(2, 1.0);
  EXPECT_EQ(from_template({0, 0, 0.0, -0.0, 0.3}).is_point, 1);  // -0 is zero
  Node one_axis = from_template({0, 0, 0.0, 3.0, 0.3});
  EXPECT_EQ(one_axis.is_point, 0);
  EXPECT_EQ(one_axis.direction[1], 3.0);  // not normalised
}

TEST(NodeTemplate, TemplateReadingCountsTwoFlops) {
  set_params(2, 1.0);
  const OpCounters before = op_counters;
  const auto result = qirhost::run_call(0, [](mxArray **) { from_template({1, 2, 0, 0, 0.1}); });
  EXPECT_EQ(op_counters.flop_count - before.flop_count, 2u);
  EXPECT_EQ(op_counters.comparison_count - before.comparison_count, 0u);
  EXPECT_EQ(result.flop_reports, (std::vector<std::int64_t>{2}));
}

TEST(NodeTemplate, NoFeaturesLeavesOnlyTheRadius) {
  set_params(0, 1.0);
  Node node = from_template({0.2});
  EXPECT_TRUE(node.center.empty());
  EXPECT_EQ(node.radius, 0.2);
  double row = 0;
  node_to_template(node, &row);
  EXPECT_EQ(row, 0.2);
  match_and_count(node, {});
  EXPECT_EQ(node.distance, 0.0);
}

TEST(NodeMatch, PatternOnCentreOfFreshNode) {
  set_params(3, 2.0);
  const std::vector<double> pattern{1, 2, 3};
  Node node;
  node_init(node, pattern.data(), 1, 0);
  EXPECT_EQ(match_and_count(node, pattern), 5 * 3 + 2 + 1);
  EXPECT_EQ(node.distance, 0.0);
  EXPECT_EQ(node.excess, 0.0);
  EXPECT_EQ(node.fit, 2.0);
  EXPECT_EQ(node.mfv, 1.0);
}

TEST(NodeMatch, EllipsoidHalfAxesAreRadiusAlongAndRatioRadiusAcross) {
  set_params(2, 10.0, 0.5);
  Node node = from_template({0, 0, 1, 0, 1.0});
  match_and_count(node, {1, 0});
  EXPECT_DOUBLE_EQ(node.distance, 1.0);  // on the boundary along the axis
  match_and_count(node, {0, 0.5});
  EXPECT_DOUBLE_EQ(node.distance, 1.0);  // on the boundary across it
  match_and_count(node, {0, 1});
  EXPECT_DOUBLE_EQ(node.distance, 2.0);
}

TEST(NodeMatch, RatioOneIsEuclideanWhateverTheDirection) {
  set_params(3, 10.0, 1.0);
  Node node = from_template({1, 1, 1, 0.6, 0, 0.8, 0.5});
  match_and_count(node, {2, -1, 3});
  EXPECT_DOUBLE_EQ(node.distance, 3.0);
}

TEST(NodeMatch, ToleranceBoundaryOnBothSides) {
  set_params(1, 4.0);
  Node node = from_template({0, 0, 1.0});  // a ball of radius 1
  EXPECT_EQ(match_and_count(node, {1.0 + 0.5e-8}), 5 + 2 + 1);
  EXPECT_EQ(node.excess, 0.0);
  EXPECT_EQ(node.fit, node.free_size);
  EXPECT_EQ(match_and_count(node, {1.0 + 2e-8}), 5 + 4 + 1);
  EXPECT_GT(node.excess, 0.0);
  EXPECT_EQ(node.fit, node.free_size - node.excess);
  EXPECT_EQ(node.mfv, node.fit / 4.0);
}

TEST(NodeMatch, FourOperationCountsAndOneComparison) {
  set_params(4, 4.0);
  Node ball = from_template({0, 0, 0, 0, 0, 0, 0, 0, 1.0});
  Node ellipsoid = from_template({0, 0, 0, 0, 1, 0, 0, 0, 1.0});
  const std::vector<double> inside{0.1, 0, 0, 0};
  const std::vector<double> outside{3, 0, 0, 0};
  const OpCounters before = op_counters;
  EXPECT_EQ(match_and_count(ball, inside), 5 * 4 + 2 + 1);
  EXPECT_EQ(match_and_count(ball, outside), 5 * 4 + 4 + 1);
  EXPECT_EQ(match_and_count(ellipsoid, inside), 5 * 4 + 8 + 1);
  EXPECT_EQ(match_and_count(ellipsoid, outside), 5 * 4 + 10 + 1);
  EXPECT_EQ(op_counters.comparison_count - before.comparison_count, 4u);
  EXPECT_EQ(op_counters.flop_count - before.flop_count, 22u + 24u + 28u + 30u);
}

TEST(NodeMatch, NegativeValueUnderRootCountsAsInside) {
  set_params(2, 4.0, 0.5);
  Node node = from_template({0, 0, 2, 0, 0.1});  // direction not of unit length
  match_and_count(node, {1, 0});
  EXPECT_TRUE(std::isnan(node.distance));
  EXPECT_EQ(node.excess, 0.0);
  EXPECT_EQ(node.fit, node.free_size);
}

TEST(NodeMatch, ZeroSizeBoundFollowsIeeeRules) {
  set_params(1, 0.0);
  Node node = from_template({0, 0, 0.0});
  match_and_count(node, {0});
  EXPECT_TRUE(std::isnan(node.mfv));  // 0 / 0
  match_and_count(node, {1});
  EXPECT_EQ(node.mfv, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(compute_Tu(0.0, 0.5), 0.0);
  EXPECT_TRUE(std::isnan(compute_Tu(0.0, 0.0)));
}

TEST(OpCounting, CountersWrapAtTwoToThe32) {
  op_counters.flop_count = 0xFFFFFFFEu;
  op_counters.comparison_count = 0xFFFFFFFFu;
  const auto result = qirhost::run_call(0, [](mxArray **) { count_ops(3, 1); });
  EXPECT_EQ(op_counters.flop_count, 1u);
  EXPECT_EQ(op_counters.comparison_count, 0u);
  EXPECT_EQ(result.flop_reports, (std::vector<std::int64_t>{4}));
}

TEST(OpCounting, ThresholdAndChoiceValueFormulas) {
  EXPECT_EQ(compute_Tu(1.0, 0.5), 1.0 / 2.5);
  EXPECT_EQ(compute_cfv(0.9, 1.0, 0.001), 0.9 / 1.001);
}

}  // namespace
}  // namespace qir
