#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "../base/errors.h"
#include "svg_text.h"
#include "../base/number_text.h"

namespace qir {
namespace {

using svg::colour;
using svg::escape;
using svg::num;
using svg::tick_step;
using svg::tick_text;

constexpr double plot_size = 600;  // pixels along the longer data extent
constexpr double margin = 64;  // room for the tick labels and the axis names
constexpr double legend_width = 160;
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

// Maps data coordinates to pixels, y upward: one scale for both axes, so
// that a ball looks round, unless one extent is more than twice the other
// (features in different units); then each axis gets its own.
struct Frame {
  Box box;
  double x_scale = 1, y_scale = 1;
  double x(double value) const { return margin + (value - box.xmin) * x_scale; }
  double y(double value) const { return margin + (box.ymax - value) * y_scale; }
  double width() const { return (box.xmax - box.xmin) * x_scale; }
  double height() const { return (box.ymax - box.ymin) * y_scale; }
};

NodeShape shape_of(const Model &model, const std::vector<double> &row, FeaturePair pair) {
  return project_node(row, model.params.ratio, pair, model.feature_min, model.feature_max);
}

Frame make_frame(const Model &model, const PlotPoints &data, FeaturePair pair) {
  Box box;
  for (const auto &point : data.points) box.add(point[pair.x], point[pair.y]);
  for (const auto &row : model.members.front().templates) {
    const NodeShape s = shape_of(model, row, pair);
    const double c = std::cos(s.angle_degrees * pi / 180), n = std::sin(s.angle_degrees * pi / 180);
    box.add(s.cx, s.cy, std::hypot(s.along * c, s.across * n),
            std::hypot(s.along * n, s.across * c));
  }
  if (!(box.xmin <= box.xmax)) box = Box{0, 1, 0, 1};
  // Each extent gets a margin of 4%: of the longer one when they share a
  // scale, else of its own, and then the longer axis fills the plot's
  // size and the shorter one half of it.
  const double wide = box.xmax - box.xmin, high = box.ymax - box.ymin;
  const double longer = std::max({wide, high, 1e-9});
  const bool shared = std::min(wide, high) >= longer / 2 || std::max(wide, high) == 0;
  const double pad_x = 0.04 * (shared ? longer : std::max(wide, 1e-6 * longer));
  const double pad_y = 0.04 * (shared ? longer : std::max(high, 1e-6 * longer));
  box.add(box.xmin, box.ymin, pad_x, pad_y);
  box.add(box.xmax, box.ymax, pad_x, pad_y);
  const double shown_wide = box.xmax - box.xmin, shown_high = box.ymax - box.ymin;
  if (shared) {
    const double scale = plot_size / std::max(shown_wide, shown_high);
    return Frame{box, scale, scale};
  }
  return Frame{box, (wide >= high ? plot_size : plot_size / 2) / shown_wide,
               (high > wide ? plot_size : plot_size / 2) / shown_high};
}

std::string node_element(const NodeShape &node, const Frame &f, const std::string &fill) {
  const NodeShape s = stretched(node, f.x_scale, f.y_scale);  // in pixels
  const std::string style = std::string(" fill=\"") + fill + "\" fill-opacity=\"0.18\" stroke=\"" +
                            fill + "\" stroke-width=\"1.2\"/>\n";
  const std::string centre = "cx=\"" + num(f.x(s.cx)) + "\" cy=\"" + num(f.y(s.cy)) + "\"";
  if (s.along == 0 && s.across == 0)  // a node made from one pattern, never grown: a dot
    return "<circle class=\"node\" " + centre + " r=\"2.5\" fill=\"" + fill +
           "\" stroke=\"#000000\" stroke-width=\"0.6\"/>\n";
  if (s.along == s.across)
    return "<circle class=\"node\" " + centre + " r=\"" + num(s.along) + "\"" + style;
  return "<ellipse class=\"node\" " + centre + " rx=\"" + num(s.along) + "\" ry=\"" +
         num(s.across) + "\" transform=\"rotate(" + num(-s.angle_degrees) + " " +
         num(f.x(s.cx)) + " " + num(f.y(s.cy)) + ")\"" + style;
}

std::string point_element(double x, double y, const Frame &f, const std::string &fill) {
  return "<circle class=\"point\" cx=\"" + num(f.x(x)) + "\" cy=\"" + num(f.y(y)) +
         "\" r=\"1.8\" fill=\"" + fill + "\" fill-opacity=\"0.7\"/>\n";
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

std::string axis_names(const Frame &f, const std::string &x_name, const std::string &y_name) {
  const double x = margin + f.width() / 2, y = margin + f.height() / 2;
  return "<text class=\"axis-name\" x=\"" + num(x) + "\" y=\"" + num(margin + f.height() + 36) +
         "\" font-size=\"12\" text-anchor=\"middle\">" + escape(x_name) +
         "</text>\n<text class=\"axis-name\" x=\"16\" y=\"" + num(y) +
         "\" font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 16 " + num(y) +
         ")\">" + escape(y_name) + "</text>\n";
}

std::string axes(const Frame &f, const std::string &x_name, const std::string &y_name) {
  return "<rect x=\"" + num(margin) + "\" y=\"" + num(margin) + "\" width=\"" + num(f.width()) +
         "\" height=\"" + num(f.height()) + "\" fill=\"none\" stroke=\"#444444\"/>\n" +
         ticks(f, true) + ticks(f, false) + axis_names(f, x_name, y_name);
}

// A class as the legend shows it: its name, else its label.
std::string class_text(double label, const Model &model, const PlotPoints &data) {
  for (const auto *names : {&model.class_names, &data.class_names})
    for (const auto &[known, name] : *names)
      if (known == label) return name;
  return "label " + format_number(label);
}

std::string legend(const std::vector<double> &labels, const Frame &f, const Model &model,
                   const PlotPoints &data) {
  std::string text;
  const double x = margin + f.width() + 20;
  for (std::size_t k = 0; k < labels.size(); ++k) {
    const double y = margin + 20.0 * static_cast<double>(k);
    text += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"12\" height=\"12\" fill=\"" +
            colour(k) + "\"/>\n<text x=\"" + num(x + 18) + "\" y=\"" + num(y + 10) +
            "\" font-size=\"12\">" + escape(class_text(labels[k], model, data)) + "</text>\n";
  }
  return text;
}

void check_points(const Model &model, const PlotPoints &data) {
  for (const auto &point : data.points)
    if (point.size() != static_cast<std::size_t>(model.features))
      throw InputError("the model has " +
                       count_of(static_cast<std::size_t>(model.features), "feature") +
                       ", the data have " + std::to_string(point.size()));
}

}  // namespace

FeaturePair plotted_features(const Model &model, const std::vector<double> &chosen) {
  const std::string range = "from 1 to " + std::to_string(model.features);
  if (chosen.empty()) {
    if (model.features == 2) return {};
    throw UsageError("the model has " +
                     count_of(static_cast<std::size_t>(model.features), "feature") +
                     "; choose the two to draw with --features I,J (" + range + ")");
  }
  if (chosen.size() != 2) throw UsageError("--features takes two feature numbers, I,J");
  for (double k : chosen)
    if (!(k >= 1 && k <= model.features && std::trunc(k) == k))
      throw UsageError("--features takes two feature numbers " + range + ", not " +
                       format_number(k));
  if (chosen[0] == chosen[1]) throw UsageError("--features takes two different features");
  return {static_cast<std::size_t>(chosen[0]) - 1, static_cast<std::size_t>(chosen[1]) - 1};
}

std::string render_svg(const Model &model, const PlotPoints &data, const std::string &title,
                       FeaturePair pair) {
  check_points(model, data);
  const auto last = static_cast<std::size_t>(model.features);
  if (pair.x >= last || pair.y >= last || pair.x == pair.y)
    throw InputError("features " + std::to_string(pair.x + 1) + " and " +
                     std::to_string(pair.y + 1) + " cannot be drawn from a model of " +
                     count_of(last, "feature"));
  const Frame frame = make_frame(model, data, pair);
  const Member &nodes = model.members.front();  // the first member's nodes are drawn
  std::set<double> label_set(nodes.labels.begin(), nodes.labels.end());
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
  svg += axes(frame, feature_name(model, pair.x), feature_name(model, pair.y));
  svg += "<g id=\"nodes\">\n";
  for (std::size_t k = 0; k < nodes.templates.size(); ++k)
    svg += node_element(shape_of(model, nodes.templates[k], pair), frame,
                        colour_of(nodes.labels[k]));
  svg += "</g>\n<g id=\"points\">\n";  // on top, so no region hides a point
  for (std::size_t k = 0; k < data.points.size(); ++k)
    svg += point_element(data.points[k][pair.x], data.points[k][pair.y], frame,
                         data.labels.empty() ? unlabelled_colour : colour_of(data.labels[k]));
  svg += "</g>\n" + legend(labels, frame, model, data) + "</svg>\n";
  return svg;
}

}  // namespace qir
