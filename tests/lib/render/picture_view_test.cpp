// The view of a picture: the plane it takes through the model's space,
// where nodes are cut by it, the grid the model classifies, and the
// pictures of scores drawn with the same classes and colours.
#include "render/picture_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "base/errors.h"
#include "base/prng.h"
#include "render/score_pictures.h"
#include "render/svg_plot.h"

using namespace qir;

namespace {

struct Prng {
  explicit Prng(std::uint64_t seed) : bits(seed) {}
  double uniform() { return static_cast<double>(bits.next() >> 11) / 9007199254740992.0; }
  Xorshift64Star bits;
};

// Whether x (model space) lies inside the node of `row`, by its definition:
// within radius along the direction and ratio*radius across it.
double node_measure(const std::vector<double> &row, double ratio, const std::vector<double> &x) {
  const std::size_t m = (row.size() - 1) / 2;
  double norm = 0, along = 0, all = 0;
  for (std::size_t k = 0; k < m; ++k) norm += row[m + k] * row[m + k];
  norm = std::sqrt(norm);
  for (std::size_t k = 0; k < m; ++k) {
    const double d = x[k] - row[k];
    all += d * d;
    if (norm > 0) along += d * row[m + k] / norm;
  }
  const double r = row.back();
  if (norm == 0) return all / (r * r);
  return along * along / (r * r) + (all - along * along) / (ratio * ratio * r * r);
}

double ellipse_measure(const NodeShape &s, double x, double y) {
  const double a = s.angle_degrees * 3.14159265358979323846 / 180;
  const double dx = x - s.cx, dy = y - s.cy;
  const double p = dx * std::cos(a) + dy * std::sin(a), q = -dx * std::sin(a) + dy * std::cos(a);
  return p * p / (s.along * s.along) + q * q / (s.across * s.across);
}

// Data in 6 features that spread mostly along one slanted direction, then
// along feature 3.
const double slant[6] = {0.5, -0.5, 0, 0.5, -0.5, 0.5};

std::vector<std::vector<double>> slanted_data(Prng &prng) {
  std::vector<std::vector<double>> rows;
  for (int k = 0; k < 300; ++k) {
    const double t = prng.uniform() * 2 - 1, s = prng.uniform() * 2 - 1;
    std::vector<double> row(6);
    for (std::size_t j = 0; j < 6; ++j)
      row[j] = 0.5 + 0.3 * t * slant[j] + (j == 2 ? 0.1 * s : 0.005 * (prng.uniform() - 0.5));
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

// The section of a node by the view's plane holds exactly the plane's
// points that lie in the node, in the page's units, for slanted planes,
// scaled features and balls alike; a node the plane misses has none.
TEST(PictureView, SectionHoldsThePlanesPointsInsideTheNode) {
  Prng prng(7);
  Model model;
  model.features = 6;
  model.params.ratio = 0.4;
  model.feature_min = {0, -1, 10, 0, 0, 0};
  model.feature_max = {1, 1, 30, 2, 1, 5};
  const auto data = slanted_data(prng);
  std::vector<std::vector<double>> raw;
  for (const auto &row : data) {
    std::vector<double> r(6);
    for (std::size_t j = 0; j < 6; ++j)
      r[j] = model.feature_min[j] + row[j] * (model.feature_max[j] - model.feature_min[j]);
    raw.push_back(r);
  }
  const std::vector<std::vector<double>> nodes = {
      {0.5, 0.45, 0.5, 0.55, 0.5, 0.5, 0.3, -0.2, 0.1, 0.5, 0.2, -0.1, 0.2},
      {0.55, 0.5, 0.5, 0.5, 0.45, 0.5, 0, 0, 0, 0, 0, 0, 0.12},
      {0.9, 0.1, 0.9, 0.1, 0.9, 0.1, 1, 0, 0, 0, 0, 0, 0.05}};
  for (const std::vector<double> &chosen : {std::vector<double>{}, std::vector<double>{3, 1}}) {
    const PictureView view = choose_view(model, raw, chosen);
    EXPECT_EQ(view.projected, chosen.empty());
    EXPECT_FALSE(node_section(view, model, nodes[2]).has_value());
    for (std::size_t n = 0; n < 2; ++n) {
      const auto s = node_section(view, model, nodes[n]);
      ASSERT_TRUE(s.has_value());
      int inside = 0;
      const double turn = s->angle_degrees * 3.14159265358979323846 / 180;
      for (int k = 0; k < 2000; ++k) {  // over the ellipse's box, half as large again
        const double p = (prng.uniform() * 2 - 1) * 1.5 * s->along;
        const double q = (prng.uniform() * 2 - 1) * 1.5 * s->across;
        const double x = s->cx + p * std::cos(turn) - q * std::sin(turn);
        const double y = s->cy + p * std::sin(turn) + q * std::cos(turn);
        const auto pattern = view_pattern(view, model, x, y);
        std::vector<double> scaled(6);
        for (std::size_t j = 0; j < 6; ++j)
          scaled[j] = (pattern[j] - model.feature_min[j]) / (model.feature_max[j] - model.feature_min[j]);
        const double truth = node_measure(nodes[n], model.params.ratio, scaled);
        const double drawn = ellipse_measure(*s, x, y);
        if (std::fabs(truth - 1) > 1e-6) {
          EXPECT_EQ(truth < 1, drawn < 1) << n << " " << truth << " " << drawn;
        }
        inside += truth < 1;
      }
      EXPECT_GT(inside, 100);  // the test reaches inside as well as out
    }
  }
}

// Without a choice a wide model is seen along its data's largest spread;
// the points land where the view says and the grid covers the frame.
TEST(PictureView, WideModelIsSeenOnItsDatasLargestSpread) {
  Prng prng(3);
  Model model;
  model.features = 6;
  model.params.ratio = 0.5;
  model.members[0].templates = {{0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0, 0, 0, 0, 0, 0, 0.1}};
  model.members[0].labels = {2};
  const auto data = slanted_data(prng);
  const PictureView view = choose_view(model, data, {});
  for (std::size_t j = 0; j < 6; ++j)
    EXPECT_NEAR(std::fabs(view.u[j]), std::fabs(slant[j]) / std::sqrt(1.25), 0.04) << j;
  EXPECT_NEAR(std::fabs(view.v[2]), 1, 0.05);  // the next spread: feature 3
  EXPECT_NE(view.x_name.find("principal component 1 ("), std::string::npos);

  const PlotPoints points{data, std::vector<double>(data.size(), 2), {}};
  const PictureLayout layout = plan_picture(model, points, {}, 40);
  EXPECT_EQ(layout.grid.size(), layout.columns * layout.rows);
  EXPECT_EQ(std::max(layout.columns, layout.rows), 40u);
  for (const auto &p : data) {
    const auto at = view_point(layout.view, model, p);
    EXPECT_GT(at[0], layout.xmin);
    EXPECT_LT(at[0], layout.xmax);
    EXPECT_GT(at[1], layout.ymin);
    EXPECT_LT(at[1], layout.ymax);
  }
  // The grid's corner cells map back to the frame's corners on the page.
  const auto first = view_point(layout.view, model, layout.grid.front());
  EXPECT_LT(first[0], layout.xmin + (layout.xmax - layout.xmin) / 20);
  EXPECT_GT(first[1], layout.ymax - (layout.ymax - layout.ymin) / 20);
  // Shaded cells: one rectangle per run of a class; the unknown stays blank.
  std::vector<double> labels(layout.grid.size(), -1);
  for (std::size_t c = 0; c < layout.columns / 2; ++c) labels[c] = 2;
  const std::string svg = render_svg(model, points, "t", layout, labels, -1);
  const std::regex region("class=\"region\"");
  EXPECT_EQ(std::distance(std::sregex_iterator(svg.begin(), svg.end(), region), std::sregex_iterator()),
            1);
  EXPECT_THROW(choose_view(model, data, {7, 1}), UsageError);
  model.features = 1;
  EXPECT_THROW(choose_view(model, {}, {}), UsageError);
}

TEST(ScorePictures, ConfusionCellsAndVoteBarsFollowTheClasses) {
  const PictureClasses classes{{1, 2, 3}, {"one", "two", "three"}};
  const Scores scores = score({1, 1, 2, 3, 3}, {1, 2, 2, 0, 3}, 0.0);
  const std::string heat = render_confusion(scores, classes, "c");
  std::vector<int> cells;
  const std::regex cell("class=\"cell\"[^>]*>\\n<text[^>]*>([0-9]+)</text>");
  for (auto it = std::sregex_iterator(heat.begin(), heat.end(), cell); it != std::sregex_iterator(); ++it)
    cells.push_back(std::stoi((*it)[1]));
  EXPECT_EQ(cells, (std::vector<int>{1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1}));  // 3 rows of 3 + none
  EXPECT_THROW(render_confusion(score({4}, {4}, 0.0), classes, "c"), InputError);

  VoteResult votes;
  votes.classes = {1, 3};
  votes.labels = {1, 3, 0};
  votes.shares = {0.6, 0.4, 0, 1, 0, 0};
  const std::string bars = render_vote_shares(votes, {1, 3, 3}, classes, "v");
  // Class 1's bar: 60% in class 1's colour and 40% in class 3's; class 3's
  // bar: half its patterns' votes (the other pattern got none).
  EXPECT_NE(bars.find("width=\"252.00\" height=\"22.00\" fill=\"#1f77b4\""), std::string::npos);
  EXPECT_NE(bars.find("width=\"168.00\" height=\"22.00\" fill=\"#2ca02c\""), std::string::npos);
  EXPECT_NE(bars.find("width=\"210.00\" height=\"22.00\" fill=\"#2ca02c\""), std::string::npos);
  EXPECT_THROW(render_vote_shares(votes, {1}, classes, "v"), InputError);
}
