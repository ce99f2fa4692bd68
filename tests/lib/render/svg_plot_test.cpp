// Pictures of models: node geometry and its projection onto two features,
// one element per node and point, names on the axes and in the legend.
#include "render/svg_plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "base/errors.h"

using namespace qir;

namespace {

constexpr double pi_ = 3.14159265358979323846;

Model three_nodes() {
  Model model;
  model.features = 2;
  model.params.ratio = 0.25;
  model.members[0].templates = {{0.5, 0.5, 0, 1, 0.2},  // ellipse, long axis straight up
                     {0.2, 0.8, 0, 0, 0.1},  // point node grown to a ball
                     {0.9, 0.1, 0, 0, 0}};   // point node: a dot
  model.members[0].labels = {1, 2, 1};
  return model;
}

std::size_t count(const std::string &svg, const std::string &pattern) {
  const std::regex re(pattern);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(svg.begin(), svg.end(), re), std::sregex_iterator()));
}

}  // namespace

TEST(SvgPlot, NodeShapeFollowsDirectionRadiusAndRatio) {
  const NodeShape up = node_shape({0.5, 0.5, 0, 1, 0.2}, 0.25);
  EXPECT_DOUBLE_EQ(up.along, 0.2);
  EXPECT_DOUBLE_EQ(up.across, 0.05);
  EXPECT_DOUBLE_EQ(up.angle_degrees, 90);
  EXPECT_FALSE(up.is_point);

  const double h = std::sqrt(0.5);
  EXPECT_DOUBLE_EQ(node_shape({0, 0, -h, -h, 1}, 0.5).angle_degrees, -135);

  const NodeShape ball = node_shape({0.2, 0.8, 0, -0.0, 0.1}, 0.25);
  EXPECT_TRUE(ball.is_point);
  EXPECT_DOUBLE_EQ(ball.along, 0.1);
  EXPECT_DOUBLE_EQ(ball.across, 0.1);
}

TEST(SvgPlot, DrawsOneElementPerNodeAndPoint) {
  const PlotPoints points{{{0.1, 0.1}, {0.6, 0.4}}, {1, 2}, {}};
  const std::string svg =
      render_svg(three_nodes(), points, "a & b", plan_picture(three_nodes(), points, {}));
  EXPECT_EQ(count(svg, "<ellipse class=\"node\""), 1u);
  EXPECT_EQ(count(svg, "<circle class=\"node\""), 2u);
  EXPECT_EQ(count(svg, "<circle class=\"point\""), 2u);
  EXPECT_NE(svg.find("<title>a &amp; b</title>"), std::string::npos);
  EXPECT_EQ(svg.find("a & b"), std::string::npos);
}

// Pixel y grows downward, so a node pointing up in data coordinates is
// turned by -90 degrees on the page; the ellipse's half-axes keep the 4:1
// proportion of radius to ratio*radius.
TEST(SvgPlot, EllipseIsTurnedAgainstThePageAxis) {
  const std::string svg = render_svg(three_nodes(), {}, "t", plan_picture(three_nodes(), {}, {}));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      svg, m,
      std::regex("<ellipse class=\"node\" cx=\"([0-9.]+)\" cy=\"([0-9.]+)\" "
                 "rx=\"([0-9.]+)\" ry=\"([0-9.]+)\" transform=\"rotate\\(([-0-9.]+) ")));
  EXPECT_NEAR(std::stod(m[3]) / std::stod(m[4]), 4.0, 0.01);
  EXPECT_EQ(m[5], "-90.00");
  // The dot of the radius-0 node lies right of and below the ellipse's centre.
  std::smatch dot;
  ASSERT_TRUE(std::regex_search(
      svg, dot, std::regex("<circle class=\"node\" cx=\"([0-9.]+)\" cy=\"([0-9.]+)\" r=\"2.5\"")));
  EXPECT_GT(std::stod(dot[1]), std::stod(m[1]));
  EXPECT_GT(std::stod(dot[2]), std::stod(m[2]));
}

TEST(SvgPlot, RefusesPointsOfAnotherWidthAndFeaturesOutOfRange) {
  Model model = three_nodes();
  EXPECT_THROW(plan_picture(model, {{{1, 2, 3}}, {}, {}}, {}), InputError);
  EXPECT_THROW(plan_picture(model, {{{1, 2}}, {1, 2}, {}}, {}), InputError);
  const PictureLayout layout = plan_picture(model, {}, {});
  EXPECT_THROW(render_svg(model, {}, "t", layout, {1, 2}), InputError);  // not one per cell
  EXPECT_THROW(plotted_features(model, {1}), UsageError);
  EXPECT_THROW(plotted_features(model, {2, 2}), UsageError);
  EXPECT_THROW(plotted_features(model, {1, 3}), UsageError);
  EXPECT_THROW(plotted_features(model, {0.5, 1}), UsageError);
  model.features = 3;
  EXPECT_THROW(plotted_features(model, {}), UsageError);  // which two?
  const FeaturePair pair = plotted_features(model, {3, 1});
  EXPECT_EQ(pair.x, 2u);
  EXPECT_EQ(pair.y, 0u);
}

namespace {

// How far the drawn ellipse reaches in the direction at `degrees`.
double reach(const NodeShape &s, double degrees) {
  const double t = degrees * pi_ / 180, a = s.angle_degrees * pi_ / 180;
  const double along = std::cos(t - a), across = std::sin(t - a);
  return std::sqrt(s.along * s.along * along * along + s.across * s.across * across * across);
}

// How far the node itself reaches in that direction of the plane of features
// (i, j), each stretched by its factor: the hyper-ellipsoid's matrix
// (ratio r)^2 I + r^2 (1 - ratio^2) u u', seen along v.
double node_reach(const std::vector<double> &row, double ratio, std::size_t i, std::size_t j,
                  double si, double sj, double degrees) {
  const std::size_t m = (row.size() - 1) / 2;
  double norm = 0;
  for (std::size_t k = 0; k < m; ++k) norm += row[m + k] * row[m + k];
  norm = std::sqrt(norm);
  const double r = row.back(), t = degrees * pi_ / 180;
  const double v[2] = {std::cos(t) * si, std::sin(t) * sj};
  const double u[2] = {row[m + i] / norm, row[m + j] / norm};
  const double along = v[0] * u[0] + v[1] * u[1];
  return std::sqrt(ratio * ratio * r * r * (v[0] * v[0] + v[1] * v[1]) +
                   r * r * (1 - ratio * ratio) * along * along);
}

}  // namespace

// The shadow of a node on two features reaches exactly as far as the node
// in every direction of their plane, in the data's units when the model
// scales (each axis stretched by its own range).
TEST(NodeProjection, ShadowReachesAsFarAsTheNodeInEveryDirection) {
  const std::vector<double> row{0.5, 0.2, 0.9, 0.6, 0.0, 0.8, 0.3};  // 3 features
  const std::vector<double> lo{10, -1, 0}, hi{30, 1, 100};
  for (const auto &[i, j] : {std::pair<std::size_t, std::size_t>{0, 1}, {0, 2}, {2, 1}}) {
    const NodeShape raw = project_node(row, 0.4, {i, j});
    const NodeShape data = project_node(row, 0.4, {i, j}, lo, hi);
    EXPECT_DOUBLE_EQ(raw.cx, row[i]);
    EXPECT_DOUBLE_EQ(data.cx, lo[i] + row[i] * (hi[i] - lo[i]));
    EXPECT_DOUBLE_EQ(data.cy, lo[j] + row[j] * (hi[j] - lo[j]));
    for (double degrees = 0; degrees < 360; degrees += 15) {
      EXPECT_NEAR(reach(raw, degrees), node_reach(row, 0.4, i, j, 1, 1, degrees), 1e-12);
      EXPECT_NEAR(reach(data, degrees),
                  node_reach(row, 0.4, i, j, hi[i] - lo[i], hi[j] - lo[j], degrees), 1e-9)
          << i << "," << j << " at " << degrees;
    }
  }
  // A ball stays round on any two features, and becomes an ellipse when
  // its axes stretch differently.
  const NodeShape ball = project_node({0.5, 0.5, 0.5, 0, 0, 0, 0.1}, 0.4, {0, 2}, lo, hi);
  EXPECT_TRUE(ball.is_point);
  EXPECT_NEAR(reach(ball, 0), 2, 1e-12);
  EXPECT_NEAR(reach(ball, 90), 10, 1e-12);
}

TEST(SvgPlot, AxesAndLegendCarryTheNamesOfFeaturesAndClasses) {
  Model model = three_nodes();
  model.features = 3;
  for (auto &row : model.members[0].templates)
    row = {row[0], row[1], 0.5, row[2], row[3], 0, row[4]};
  model.feature_names = {"length <mm>", "width", "depth"};
  model.class_names = {{1, "small"}, {2, "large"}};
  PlotPoints data{{{0.1, 0.2, 0.3}}, {5}, {{5, "unseen"}}};
  const std::string svg = render_svg(model, data, "t", plan_picture(model, data, {3, 1}));
  EXPECT_NE(svg.find(">depth</text>"), std::string::npos);
  EXPECT_NE(svg.find(">length &lt;mm&gt;</text>"), std::string::npos);
  EXPECT_EQ(svg.find(">width</text>"), std::string::npos);
  for (const char *name : {">small</text>", ">large</text>", ">unseen</text>"})
    EXPECT_NE(svg.find(name), std::string::npos) << name;
  EXPECT_EQ(svg.find("label "), std::string::npos);
  model.feature_names.clear();
  model.class_names.clear();
  const std::string plain = render_svg(model, {}, "t", plan_picture(model, {}, {1, 2}));
  EXPECT_NE(plain.find(">feature 1</text>"), std::string::npos);
  EXPECT_NE(plain.find(">label 2</text>"), std::string::npos);
}

// The data's units: a scaling model's nodes and the raw points share one frame.
TEST(SvgPlot, ScalingModelIsDrawnInTheDataUnits) {
  Model model = three_nodes();
  model.feature_min = {100, 0};
  model.feature_max = {200, 1};
  const PlotPoints one{{{150, 0.5}}, {1}, {}};
  const std::string svg = render_svg(model, one, "t", plan_picture(model, one, {}));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(svg, m, std::regex(">([-0-9.e+]+)</text>")));
  // The first tick of the x axis lies near the range's lower end, not near 0.
  EXPECT_GE(std::stod(m[1]), 90);
  EXPECT_LE(std::stod(m[1]), 200);
}
