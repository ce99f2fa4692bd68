// Pictures of 2-D models: node geometry, one element per node and point,
// and refusal of models that are not 2-D.
#include "svg_plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "errors.h"

using namespace qircli;

namespace {

Model three_nodes() {
  Model model;
  model.features = 2;
  model.params.ratio = 0.25;
  model.templates = {{0.5, 0.5, 0, 1, 0.2},  // ellipse, long axis straight up
                     {0.2, 0.8, 0, 0, 0.1},  // point node grown to a ball
                     {0.9, 0.1, 0, 0, 0}};   // point node: a dot
  model.labels = {1, 2, 1};
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
  const std::string svg = render_svg(three_nodes(), {{{0.1, 0.1}, {0.6, 0.4}}, {1, 2}}, "a & b");
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
  const std::string svg = render_svg(three_nodes(), {}, "t");
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

TEST(SvgPlot, RefusesWhatIsNotTwoDimensional) {
  Model model = three_nodes();
  model.features = 3;
  EXPECT_THROW(render_svg(model, {}, "t"), InputError);
  EXPECT_THROW(render_svg(three_nodes(), {{{1, 2, 3}}, {}}, "t"), InputError);
}
