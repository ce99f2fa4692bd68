#include "line_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "../base/errors.h"
#include "svg_text.h"

namespace qir {
namespace {

using svg::colour;
using svg::escape;
using svg::num;
using svg::tick_step;
using svg::tick_text;

constexpr double panel_width = 380, panel_height = 260;
constexpr double left = 60, top = 60, gap = 90, bottom = 90;

struct Range {
  double low = INFINITY, high = -INFINITY;
  void add(double v) {
    if (!std::isfinite(v)) return;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  void settle(bool from_zero) {
    if (!(low <= high)) low = 0, high = 1;
    if (from_zero) low = std::min(low, 0.0);
    if (high - low < 1e-12) high = low + 1;
  }
};

struct Frame {
  double x0;  // left edge of the panel in pixels
  Range xs, ys;
  double x(double v) const { return x0 + (v - xs.low) / (xs.high - xs.low) * panel_width; }
  double y(double v) const { return top + (ys.high - v) / (ys.high - ys.low) * panel_height; }
};

std::string axis_ticks(const Frame &f) {
  std::string svg;
  for (const bool horizontal : {true, false}) {
    const Range &r = horizontal ? f.xs : f.ys;
    const double step = tick_step(r.high - r.low);
    for (double k = std::ceil(r.low / step - 1e-9); k * step <= r.high + 1e-9 * step; ++k) {
      const double value = k * step + 0.0;
      if (horizontal)
        svg += "<line x1=\"" + num(f.x(value)) + "\" y1=\"" + num(top + panel_height) +
               "\" x2=\"" + num(f.x(value)) + "\" y2=\"" + num(top + panel_height + 5) +
               "\" stroke=\"#444444\"/>\n<text x=\"" + num(f.x(value)) + "\" y=\"" +
               num(top + panel_height + 18) + "\" font-size=\"11\" text-anchor=\"middle\">" +
               tick_text(value) + "</text>\n";
      else
        svg += "<line x1=\"" + num(f.x0 - 5) + "\" y1=\"" + num(f.y(value)) + "\" x2=\"" +
               num(f.x0 + panel_width) + "\" y2=\"" + num(f.y(value)) +
               "\" stroke=\"#dddddd\"/>\n<text x=\"" + num(f.x0 - 8) + "\" y=\"" +
               num(f.y(value) + 4) + "\" font-size=\"11\" text-anchor=\"end\">" +
               tick_text(value) + "</text>\n";
    }
  }
  return svg;
}

std::string line_path(const ChartLine &line, const Frame &f, const std::vector<double> &x,
                      const std::string &stroke) {
  std::string svg, points;
  const auto flush = [&] {
    if (!points.empty())
      svg += "<polyline class=\"line\" fill=\"none\" stroke=\"" + stroke +
             "\" stroke-width=\"2\"" + (line.dashed ? " stroke-dasharray=\"6 4\"" : "") +
             " points=\"" + points + "\"/>\n";
    points.clear();
  };
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (!std::isfinite(line.y[k])) {
      flush();
      continue;
    }
    points += (points.empty() ? "" : " ") + num(f.x(x[k])) + "," + num(f.y(line.y[k]));
    // Its values as a tooltip, which also lets a reader take them back.
    svg += "<circle class=\"value\" cx=\"" + num(f.x(x[k])) + "\" cy=\"" + num(f.y(line.y[k])) +
           "\" r=\"3\" fill=\"" + stroke + "\"><title>" + tick_text(x[k]) + ": " +
           tick_text(line.y[k]) + "</title></circle>\n";
  }
  flush();
  return svg;
}

// The heights in pixels where the lines cross pixel column px.
void lines_at(const LineChart &chart, const ChartPanel &panel, const Frame &f, double px,
                std::vector<double> &heights) {
  heights.clear();
  for (const auto &line : panel.lines)
    for (std::size_t k = 0; k + 1 < chart.x.size(); ++k) {
      const double a = f.x(chart.x[k]), b = f.x(chart.x[k + 1]);
      if (!(std::min(a, b) <= px && px <= std::max(a, b))) continue;
      if (!std::isfinite(line.y[k]) || !std::isfinite(line.y[k + 1])) continue;
      const double t = b == a ? 0 : (px - a) / (b - a);
      heights.push_back(f.y(line.y[k]) + t * (f.y(line.y[k + 1]) - f.y(line.y[k])));
    }
}

// The marker's text goes along the panel's bottom or its top, whichever
// leaves more room between the text and the lines it spans.
double marker_text_baseline(const LineChart &chart, const ChartPanel &panel, const Frame &f) {
  constexpr double font = 11, char_width = 6.2;
  const double low_baseline = top + panel_height - 6, high_baseline = top + 6 + font;
  const double from = f.x(chart.marker_x) + 4;
  const double to = from + char_width * static_cast<double>(chart.marker_text.size());
  double low_room = INFINITY, high_room = INFINITY;
  std::vector<double> heights;
  for (int step = 0; step <= 16; ++step) {
    lines_at(chart, panel, f, from + (to - from) * step / 16.0, heights);
    for (double h : heights) {
      low_room = std::min(low_room, std::abs(low_baseline - font / 2 - h));
      high_room = std::min(high_room, std::abs(high_baseline - font / 2 - h));
    }
  }
  return high_room > low_room ? high_baseline : low_baseline;
}

std::string panel_svg(const LineChart &chart, const ChartPanel &panel, double x0) {
  Frame f{x0, {}, {}};
  for (double v : chart.x) f.xs.add(v);
  f.xs.settle(false);
  for (const auto &line : panel.lines)
    for (double v : line.y) f.ys.add(v);
  f.ys.settle(panel.y_from_zero);
  const double pad = 0.05 * (f.ys.high - f.ys.low);
  f.ys.high += pad;
  if (!panel.y_from_zero || f.ys.low < 0) f.ys.low -= pad;

  std::string svg = "<g class=\"panel\">\n<text x=\"" + num(x0) + "\" y=\"" + num(top - 12) +
                    "\" font-size=\"13\">" + escape(panel.title) + "</text>\n";
  svg += axis_ticks(f);
  svg += "<rect x=\"" + num(x0) + "\" y=\"" + num(top) + "\" width=\"" + num(panel_width) +
         "\" height=\"" + num(panel_height) + "\" fill=\"none\" stroke=\"#444444\"/>\n";
  svg += "<text x=\"" + num(x0 + panel_width / 2) + "\" y=\"" + num(top + panel_height + 36) +
         "\" font-size=\"12\" text-anchor=\"middle\">" + escape(chart.x_label) + "</text>\n";
  svg += "<text x=\"" + num(x0 - 45) + "\" y=\"" + num(top + panel_height / 2) +
         "\" font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 " + num(x0 - 45) +
         " " + num(top + panel_height / 2) + ")\">" + escape(panel.y_label) + "</text>\n";
  if (!chart.marker_text.empty()) {
    const double at = f.x(chart.marker_x);
    svg += "<line class=\"marker\" x1=\"" + num(at) + "\" y1=\"" + num(top) + "\" x2=\"" +
           num(at) + "\" y2=\"" + num(top + panel_height) +
           "\" stroke=\"#888888\" stroke-dasharray=\"2 3\"/>\n<text x=\"" + num(at + 4) +
           "\" y=\"" + num(marker_text_baseline(chart, panel, f)) +
           "\" font-size=\"11\" fill=\"#555555\">" + escape(chart.marker_text) + "</text>\n";
  }
  for (std::size_t k = 0; k < panel.lines.size(); ++k)
    svg += line_path(panel.lines[k], f, chart.x, colour(k));
  for (std::size_t k = 0; k < panel.lines.size(); ++k) {  // legend under the axis label
    const double y = top + panel_height + 52 + 14.0 * static_cast<double>(k);
    svg += "<line x1=\"" + num(x0) + "\" y1=\"" + num(y - 4) + "\" x2=\"" + num(x0 + 24) +
           "\" y2=\"" + num(y - 4) + "\" stroke=\"" + colour(k) + "\" stroke-width=\"2\"" +
           (panel.lines[k].dashed ? " stroke-dasharray=\"6 4\"" : "") + "/>\n<text x=\"" +
           num(x0 + 30) + "\" y=\"" + num(y) + "\" font-size=\"11\">" +
           escape(panel.lines[k].name) + "</text>\n";
  }
  return svg + "</g>\n";
}

}  // namespace

std::string render_line_chart(const LineChart &chart) {
  std::size_t most_lines = 0;
  for (const auto &panel : chart.panels) {
    most_lines = std::max(most_lines, panel.lines.size());
    for (const auto &line : panel.lines)
      if (line.y.size() != chart.x.size())
        throw InputError("line '" + line.name + "' has " + std::to_string(line.y.size()) +
                         " values for " + std::to_string(chart.x.size()) + " x values");
  }
  const double panels = static_cast<double>(std::max<std::size_t>(chart.panels.size(), 1));
  const double width = left + panels * panel_width + (panels - 1) * gap + 30;
  const double height = top + panel_height + bottom + 14.0 * static_cast<double>(most_lines);
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
         "\" font-family=\"sans-serif\">\n<title>" + escape(chart.title) + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  svg += "<text x=\"" + num(left) + "\" y=\"22\" font-size=\"15\">" + escape(chart.title) +
         "</text>\n";
  for (std::size_t k = 0; k < chart.panels.size(); ++k)
    svg += panel_svg(chart, chart.panels[k],
                     left + static_cast<double>(k) * (panel_width + gap));
  return svg + "</svg>\n";
}

}  // namespace qir
