#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "class_colours.h"
#include "errors.h"
#include "number_text.h"

namespace qircli {
namespace {

constexpr double plot_size = 600;  // pixels along the longer data extent
constexpr double margin = 50;
constexpr double legend_width = 140;
constexpr double pi = 3.14159265358979323846;
constexpr const char *unlabelled_colour = "#888888";

struct Box {
  double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
  void add(double x, double y, double dx = 0, double dy = 0) {
    xmin = std::min(xmin, x - dx);
    xmax = std::max(xmax, x + dx);
    ymin = std::min(ymin, y - dy);
    ymax = std::max(ymax, y + dy);
  }
};

// Maps data coordinates to pixels with one scale for both axes, y upward.
struct Frame {
  Box box;
  double scale = 1;
  double x(double value) const { return margin + (value - box.xmin) * scale; }
  double y(double value) const { return margin + (box.ymax - value) * scale; }
  double width() const { return (box.xmax - box.xmin) * scale; }
  double height() const { return (box.ymax - box.ymin) * scale; }
};

std::string num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::string colour(std::size_t index) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06x",
                static_cast<unsigned>(class_colours[index % class_colours.size()]));
  return text;
}

Frame make_frame(const Model &model, const PlotPoints &data) {
  Box box;
  for (const auto &point : data.points) box.add(point[0], point[1]);
  for (const auto &row : model.templates) {
    const NodeShape s = node_shape(row, model.params.ratio);
    const double c = std::cos(s.angle_degrees * pi / 180), n = std::sin(s.angle_degrees * pi / 180);
    box.add(s.cx, s.cy, std::hypot(s.along * c, s.across * n),
            std::hypot(s.along * n, s.across * c));
  }
  if (!(box.xmin <= box.xmax)) box = Box{0, 1, 0, 1};
  const double pad = 0.04 * std::max({box.xmax - box.xmin, box.ymax - box.ymin, 1e-9});
  box.add(box.xmin, box.ymin, pad, pad);
  box.add(box.xmax, box.ymax, pad, pad);
  Frame frame{box, plot_size / std::max(box.xmax - box.xmin, box.ymax - box.ymin)};
  return frame;
}

std::string node_element(const NodeShape &s, const Frame &f, const std::string &fill) {
  const std::string style = std::string(" fill=\"") + fill + "\" fill-opacity=\"0.18\" stroke=\"" +
                            fill + "\" stroke-width=\"1.2\"/>\n";
  const std::string centre = "cx=\"" + num(f.x(s.cx)) + "\" cy=\"" + num(f.y(s.cy)) + "\"";
  if (s.is_point && s.along == 0)  // a node made from one pattern, never grown: a dot
    return "<circle class=\"node\" " + centre + " r=\"2.5\" fill=\"" + fill +
           "\" stroke=\"#000000\" stroke-width=\"0.6\"/>\n";
  if (s.is_point)
    return "<circle class=\"node\" " + centre + " r=\"" + num(s.along * f.scale) + "\"" + style;
  return "<ellipse class=\"node\" " + centre + " rx=\"" + num(s.along * f.scale) + "\" ry=\"" +
         num(s.across * f.scale) + "\" transform=\"rotate(" + num(-s.angle_degrees) + " " +
         num(f.x(s.cx)) + " " + num(f.y(s.cy)) + ")\"" + style;
}

std::string point_element(const std::vector<double> &p, const Frame &f, const std::string &fill) {
  return "<circle class=\"point\" cx=\"" + num(f.x(p[0])) + "\" cy=\"" + num(f.y(p[1])) +
         "\" r=\"1.8\" fill=\"" + fill + "\" fill-opacity=\"0.7\"/>\n";
}

// Tick spacing of 1, 2 or 5 times a power of ten, giving at most 6 ticks.
double tick_step(double range) {
  const double base = std::pow(10.0, std::floor(std::log10(range / 5)));
  for (double factor : {1.0, 2.0, 5.0, 10.0})
    if (range / (base * factor) <= 6) return base * factor;
  return base * 10;
}

std::string tick_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string ticks(const Frame &f, bool horizontal) {
  const double low = horizontal ? f.box.xmin : f.box.ymin;
  const double high = horizontal ? f.box.xmax : f.box.ymax;
  const double step = tick_step(high - low);
  std::string text;
  for (double k = std::ceil(low / step); k * step <= high; ++k) {
    const double value = k * step + 0.0;  // no "-0" label
    const double at = horizontal ? f.x(value) : f.y(value);
    const double edge = horizontal ? margin + f.height() : margin;
    if (horizontal)
      text += "<line x1=\"" + num(at) + "\" y1=\"" + num(edge) + "\" x2=\"" + num(at) + "\" y2=\"" +
              num(edge + 5) + "\" stroke=\"#444444\"/>\n<text x=\"" + num(at) + "\" y=\"" +
              num(edge + 18) + "\" font-size=\"11\" text-anchor=\"middle\">";
    else
      text += "<line x1=\"" + num(edge - 5) + "\" y1=\"" + num(at) + "\" x2=\"" + num(edge) +
              "\" y2=\"" + num(at) + "\" stroke=\"#444444\"/>\n<text x=\"" + num(edge - 8) +
              "\" y=\"" + num(at + 4) + "\" font-size=\"11\" text-anchor=\"end\">";
    text += tick_text(value) + "</text>\n";
  }
  return text;
}

std::string axes(const Frame &f) {
  return "<rect x=\"" + num(margin) + "\" y=\"" + num(margin) + "\" width=\"" + num(f.width()) +
         "\" height=\"" + num(f.height()) + "\" fill=\"none\" stroke=\"#444444\"/>\n" +
         ticks(f, true) + ticks(f, false);
}

std::string legend(const std::vector<double> &labels, const Frame &f) {
  std::string text;
  const double x = margin + f.width() + 20;
  for (std::size_t k = 0; k < labels.size(); ++k) {
    const double y = margin + 20.0 * static_cast<double>(k);
    text += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"12\" height=\"12\" fill=\"" +
            colour(k) + "\"/>\n<text x=\"" + num(x + 18) + "\" y=\"" + num(y + 10) +
            "\" font-size=\"12\">label " + format_number(labels[k]) + "</text>\n";
  }
  return text;
}

void check_two_dimensional(const Model &model, const PlotPoints &data) {
  if (model.features != 2)
    throw InputError("the model has " + std::to_string(model.features) +
                     " features; only models of 2 features can be drawn");
  for (const auto &point : data.points)
    if (point.size() != 2)
      throw InputError("the data have " + std::to_string(point.size()) +
                       " features; only 2-D data can be drawn");
}

}  // namespace

NodeShape node_shape(const std::vector<double> &row, double ratio) {
  NodeShape shape;
  shape.cx = row.at(0);
  shape.cy = row.at(1);
  shape.along = row.at(4);
  shape.is_point = row[2] == 0 && row[3] == 0;
  shape.across = shape.is_point ? shape.along : ratio * shape.along;
  shape.angle_degrees = shape.is_point ? 0 : std::atan2(row[3], row[2]) * 180 / pi;
  return shape;
}

std::string render_svg(const Model &model, const PlotPoints &data, const std::string &title) {
  check_two_dimensional(model, data);
  const Frame frame = make_frame(model, data);
  std::set<double> label_set(model.labels.begin(), model.labels.end());
  label_set.insert(data.labels.begin(), data.labels.end());
  const std::vector<double> labels(label_set.begin(), label_set.end());
  auto colour_of = [&](double label) {
    return colour(static_cast<std::size_t>(std::lower_bound(labels.begin(), labels.end(), label) -
                                           labels.begin()));
  };

  const double width = 2 * margin + frame.width() + legend_width;
  const double height = 2 * margin + frame.height();
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
         "\" font-family=\"sans-serif\">\n";
  svg += "<title>" + escape(title) + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  svg += "<text x=\"" + num(margin) + "\" y=\"" + num(margin - 14) + "\" font-size=\"14\">" +
         escape(title) + "</text>\n";
  svg += axes(frame);
  svg += "<g id=\"nodes\">\n";
  for (std::size_t k = 0; k < model.templates.size(); ++k)
    svg += node_element(node_shape(model.templates[k], model.params.ratio), frame,
                        colour_of(model.labels[k]));
  svg += "</g>\n<g id=\"points\">\n";  // on top, so no region hides a point
  for (std::size_t k = 0; k < data.points.size(); ++k)
    svg += point_element(data.points[k], frame,
                         data.labels.empty() ? unlabelled_colour : colour_of(data.labels[k]));
  svg += "</g>\n" + legend(labels, frame) + "</svg>\n";
  return svg;
}

}  // namespace qircli
