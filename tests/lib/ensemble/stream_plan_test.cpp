// The stream demos' batches (every row once, a class held back until
// halfway, fixed by the seed) and the line chart they are drawn with.
#include "ensemble/stream_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>

#include "base/errors.h"
#include "render/line_chart.h"

using namespace qir;

namespace {

std::vector<double> labels_of(std::size_t n, int classes) {
  std::vector<double> labels;
  for (std::size_t k = 0; k < n; ++k) labels.push_back(static_cast<double>((k * 7) % classes));
  return labels;
}

std::size_t count(const std::string &text, const std::string &pattern) {
  const std::regex re(pattern);
  return static_cast<std::size_t>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

}  // namespace

TEST(StreamPlan, EveryRowOnceAndTheLateClassFromHalfway) {
  const auto labels = labels_of(503, 5);
  for (int batches : {1, 2, 7, 10}) {
    SCOPED_TRACE(batches);
    const StreamPlan plan = stream_plan(labels, batches, 1);
    EXPECT_EQ(plan.test.size(), 101u);  // a fifth, rounded
    std::vector<std::size_t> all = plan.test;
    std::size_t smallest = labels.size(), largest = 0;
    for (const auto &batch : plan.batches) {
      all.insert(all.end(), batch.begin(), batch.end());
      smallest = std::min(smallest, batch.size());
      largest = std::max(largest, batch.size());
    }
    std::sort(all.begin(), all.end());
    for (std::size_t k = 0; k < all.size(); ++k) ASSERT_EQ(all[k], k);
    EXPECT_EQ(all.size(), labels.size());
    EXPECT_LE(largest - smallest, 1u);
    EXPECT_EQ(plan.late_class, 4);
    EXPECT_EQ(plan.late_batch, static_cast<std::size_t>(batches / 2));
    for (std::size_t b = 0; b < plan.batches.size(); ++b) {
      const auto late = std::count_if(plan.batches[b].begin(), plan.batches[b].end(),
                                      [&](std::size_t row) { return labels[row] == 4; });
      if (b < plan.late_batch) {
        EXPECT_EQ(late, 0) << "batch " << b;
      } else if (b == plan.late_batch) {
        EXPECT_GT(late, 0);
      }
    }
  }
  EXPECT_EQ(stream_plan(labels, 10, 1).batches, stream_plan(labels, 10, 1).batches);
  EXPECT_NE(stream_plan(labels, 10, 1).test, stream_plan(labels, 10, 2).test);
  EXPECT_THROW(stream_plan(labels, 0, 1), UsageError);
  EXPECT_THROW(stream_plan(labels_of(10, 2), 9, 1), UsageError);  // 8 rows left after testing
}

TEST(StreamPlan, TooFewOtherPatternsLetTheLateClassInEarlier) {
  std::vector<double> labels(40, 2);
  for (std::size_t k = 0; k < 40; k += 8) labels[k] = 1;  // 5 of class 1, 35 late ones
  const StreamPlan plan = stream_plan(labels, 4, 3);
  EXPECT_LT(plan.late_batch, 2u);
  EXPECT_TRUE(std::any_of(plan.batches[plan.late_batch].begin(),
                          plan.batches[plan.late_batch].end(),
                          [&](std::size_t row) { return labels[row] == 2; }));
}

TEST(LineChart, OneLinePerSeriesGapsAtNaNAndMismatchesRefused) {
  LineChart chart;
  chart.title = "a < b";
  chart.x = {1, 2, 3, 4};
  chart.panels = {{"left", "%", {{"one", {1, 2, 3, 4}, false}, {"two", {2, NAN, 3, 5}, true}}, false},
                  {"right", "s", {{"three", {0.1, 0.2, 0.3, 0.2}, false}}, true}};
  chart.marker_x = 3;
  chart.marker_text = "class 9 appears";
  const std::string svg = render_line_chart(chart);
  EXPECT_EQ(count(svg, "<polyline"), 4u);  // "two" is broken in two at its NaN
  EXPECT_EQ(count(svg, "class=\"value\""), 11u);
  EXPECT_EQ(count(svg, "stroke-dasharray=\"6 4\""), 3u);  // two pieces and its legend line
  EXPECT_EQ(count(svg, "class=\"marker\""), 2u);
  EXPECT_NE(svg.find("<title>a &lt; b</title>"), std::string::npos);
  chart.panels[1].lines[0].y.pop_back();
  EXPECT_THROW(render_line_chart(chart), InputError);
}

// The marker's text sits along whichever edge its span leaves clear: the
// bottom when the lines run high there, the top when they run low, even
// where they are high elsewhere in the panel.
TEST(LineChart, MarkerTextKeepsClearOfTheLinesItSpans) {
  const auto baseline = [](const std::vector<double> &y) {
    LineChart chart;
    chart.x = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    chart.panels = {{"p", "s", {{"one", y, false}}, true}};
    chart.marker_x = 6;
    chart.marker_text = "class 9 appears";
    const std::string svg = render_line_chart(chart);
    std::smatch m;
    EXPECT_TRUE(std::regex_search(svg, m, std::regex("<text x=\"[0-9.]+\" y=\"([0-9.]+)\"[^>]*>class 9")));
    return std::stod(m[1]);
  };
  const double lines_low = baseline({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  const double lines_high = baseline({10, 10, 10, 10, 10, 10, 10, 10, 10, 10});
  const double high_before_the_marker = baseline({10, 10, 10, 10, 10, 0, 0, 0, 0, 0});
  EXPECT_LT(lines_low, lines_high);
  EXPECT_EQ(high_before_the_marker, lines_low);
}
