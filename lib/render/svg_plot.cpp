#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "../base/errors.h"
#include "../base/number_text.h"
#include "svg_text.h"

namespace qir {
namespace {

using svg::colour;
using svg::escape;
using svg::num;
using svg::tick_step;
using svg::tick_text;

constexpr double plot_size = 600;  // pixels along the longer extent of the frame
constexpr double margin = 64;      // room for the tick labels and the axis names
constexpr double pi = 3.14159265358979323846;
constexpr const char *unlabelled_colour = "#888888";

// How far an ellipse reaches from its centre along x and along y.
std::array<double, 2> reach(const NodeShape &s) {
  const double c = std::cos(s.angle_degrees * pi / 180), n = std::sin(s.angle_degrees * pi / 180);
  return {std::hypot(s.along * c, s.across * n), std::hypot(s.along * n, s.across * c)};
}

// Maps the view's axes to pixels, y upward: one scale for both axes, so
// that a ball looks round, unless one extent is more than twice the other
// (features in different units); then each axis gets its own.
struct Frame {
  double xmin, xmax, ymin, ymax;
  double x_scale = 1, y_scale = 1;
  double x(double value) const { return margin + (value - xmin) * x_scale; }
  double y(double value) const { return margin + (ymax - value) * y_scale; }
  double width() const { return (xmax - xmin) * x_scale; }
  double height() const { return (ymax - ymin) * y_scale; }
};

Frame frame_of(const PictureLayout &layout) {
  const double wide = layout.xmax - layout.xmin, high = layout.ymax - layout.ymin;
  const double longer = std::max(wide, high);
  Frame f{layout.xmin, layout.xmax, layout.ymin, layout.ymax};
  if (std::min(wide, high) >= longer / 2) {
    f.x_scale = f.y_scale = plot_size / longer;
  } else {
    f.x_scale = (wide >= high ? plot_size : plot_size / 2) / wide;
    f.y_scale = (high > wide ? plot_size : plot_size / 2) / high;
  }
  return f;
}

// The frame around the points (around the nodes without points), with a
// margin of 4% of the longer extent when both share a scale, else of each
// extent's own.
void set_frame(PictureLayout &layout, const std::vector<std::array<double, 2>> &points,
               const std::vector<NodeShape> &nodes) {
  double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
  const auto add = [&](double x, double y, double dx, double dy) {
    xmin = std::min(xmin, x - dx);
    xmax = std::max(xmax, x + dx);
    ymin = std::min(ymin, y - dy);
    ymax = std::max(ymax, y + dy);
  };
  for (const auto &p : points) add(p[0], p[1], 0, 0);
  if (!(xmin < xmax || ymin < ymax))  // no points, or all in one place
    for (const auto &s : nodes) {
      const auto r = reach(s);
      add(s.cx, s.cy, r[0], r[1]);
    }
  if (!(xmin <= xmax)) xmin = 0, xmax = 1, ymin = 0, ymax = 1;
  // An axis without extent gets one: half the other's, else a little
  // around its value.
  const auto widen = [](double &low, double &high, double other) {
    if (high > low) return;
    const double half = other > 0 ? other / 4 : std::max(0.05 * std::fabs(low), 0.5);
    low -= half;
    high += half;
  };
  widen(xmin, xmax, ymax - ymin);
  widen(ymin, ymax, xmax - xmin);
  const double wide = xmax - xmin, high = ymax - ymin;
  const double longer = std::max({wide, high, 1e-9});
  const bool shared = std::min(wide, high) >= longer / 2;
  const double pad_x = 0.04 * (shared ? longer : std::max(wide, 1e-6 * longer));
  const double pad_y = 0.04 * (shared ? longer : std::max(high, 1e-6 * longer));
  layout.xmin = xmin - pad_x;
  layout.xmax = xmax + pad_x;
  layout.ymin = ymin - pad_y;
  layout.ymax = ymax + pad_y;
}

// The member whose nodes are drawn: the first that sees every feature (a
// member of a few features has no place in the whole space); none when
// every member sees only some.
const Member *drawn_member(const Model &model) {
  for (const Member &member : model.members)
    if (member.features.empty()) return &member;
  return nullptr;
}

std::vector<NodeShape> sections(const Model &model, const PictureView &view) {
  std::vector<NodeShape> shapes;
  const Member *drawn = drawn_member(model);
  if (drawn == nullptr) return shapes;
  for (const auto &row : drawn->templates)
    if (const auto s = node_section(view, model, row)) shapes.push_back(*s);
  return shapes;
}

// Many overlapping nodes would pile up into one opaque shape: the more
// nodes are drawn, the fainter each one.
struct NodeInk {
  std::string fill, stroke;
  explicit NodeInk(std::size_t drawn)
      : fill(num(std::clamp(1.2 / static_cast<double>(drawn), 0.015, 0.07))),
        stroke(num(std::clamp(16 / static_cast<double>(drawn), 0.3, 0.8))) {}
};

std::string node_element(const NodeShape &node, const Frame &f, const std::string &fill,
                         const NodeInk &ink) {
  const NodeShape s = stretched(node, f.x_scale, f.y_scale);  // in pixels
  const std::string style = std::string(" fill=\"") + fill + "\" fill-opacity=\"" + ink.fill +
                            "\" stroke=\"" + fill + "\" stroke-opacity=\"" + ink.stroke +
                            "\" stroke-width=\"1\"/>\n";
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

std::string point_element(const std::array<double, 2> &p, const Frame &f, const std::string &fill) {
  return "<circle class=\"point\" cx=\"" + num(f.x(p[0])) + "\" cy=\"" + num(f.y(p[1])) +
         "\" r=\"2.2\" fill=\"" + fill + "\" fill-opacity=\"0.85\" stroke=\"#222222\" "
         "stroke-width=\"0.3\"/>\n";
}

// One rectangle per run of cells of one class along a row; unknown cells
// stay blank.
std::string region_elements(const PictureLayout &layout, const Frame &f,
                            const std::vector<double> &grid_labels, double unknown,
                            const std::vector<double> &classes) {
  std::string svg;
  const double cell_w = f.width() / static_cast<double>(layout.columns);
  const double cell_h = f.height() / static_cast<double>(layout.rows);
  for (std::size_t r = 0; r < layout.rows; ++r)
    for (std::size_t c = 0; c < layout.columns;) {
      const double label = grid_labels[r * layout.columns + c];
      std::size_t end = c + 1;
      while (end < layout.columns && grid_labels[r * layout.columns + end] == label) ++end;
      const auto at = std::lower_bound(classes.begin(), classes.end(), label);
      if (label != unknown && at != classes.end() && *at == label)
        svg += "<rect class=\"region\" x=\"" + num(margin + static_cast<double>(c) * cell_w) +
               "\" y=\"" + num(margin + static_cast<double>(r) * cell_h) + "\" width=\"" +
               num(static_cast<double>(end - c) * cell_w) + "\" height=\"" + num(cell_h) +
               "\" fill=\"" + colour(static_cast<std::size_t>(at - classes.begin())) +
               "\" fill-opacity=\"0.22\"/>\n";
      c = end;
    }
  return svg;
}

std::string ticks(const Frame &f, bool horizontal) {
  const double low = horizontal ? f.xmin : f.ymin;
  const double high = horizontal ? f.xmax : f.ymax;
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

std::string axes(const Frame &f, const PictureView &view) {
  const double x = margin + f.width() / 2, y = margin + f.height() / 2;
  return "<rect x=\"" + num(margin) + "\" y=\"" + num(margin) + "\" width=\"" + num(f.width()) +
         "\" height=\"" + num(f.height()) + "\" fill=\"none\" stroke=\"#444444\"/>\n" +
         ticks(f, true) + ticks(f, false) + "<text class=\"axis-name\" x=\"" + num(x) +
         "\" y=\"" + num(margin + f.height() + 36) + "\" font-size=\"12\" text-anchor=\"middle\">" +
         escape(view.x_name) + "</text>\n<text class=\"axis-name\" x=\"16\" y=\"" + num(y) +
         "\" font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 16 " + num(y) +
         ")\">" + escape(view.y_name) + "</text>\n";
}

// Width in pixels that a text of 12 px takes at most (sans-serif glyphs
// stay under 0.62 em on average).
double text_width(const std::string &text, double size = 12) {
  std::size_t glyphs = 0;
  for (unsigned char c : text) glyphs += (c & 0xC0) != 0x80;
  return 0.62 * size * static_cast<double>(glyphs);
}

std::vector<std::string> legend_lines(const Model &model, const PlotPoints &data,
                                      const std::vector<double> &classes) {
  std::vector<std::string> lines;
  for (double label : classes) lines.push_back(class_text(label, model, data.class_names));
  return lines;
}

std::string legend(const std::vector<std::string> &lines, const std::vector<std::string> &notes,
                   double x) {
  std::string text;
  double y = margin;
  for (std::size_t k = 0; k < lines.size(); ++k, y += 20)
    text += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"12\" height=\"12\" fill=\"" +
            colour(k) + "\"/>\n<text class=\"legend\" x=\"" + num(x + 18) + "\" y=\"" +
            num(y + 10) + "\" font-size=\"12\">" + escape(lines[k]) + "</text>\n";
  y += 10;
  for (const auto &note : notes) {
    text += "<text class=\"legend\" x=\"" + num(x) + "\" y=\"" + num(y + 10) +
            "\" font-size=\"11\" fill=\"#444444\">" + escape(note) + "</text>\n";
    y += 16;
  }
  return text;
}

void check_points(const Model &model, const PlotPoints &data) {
  for (const auto &point : data.points)
    if (point.size() != static_cast<std::size_t>(model.features))
      throw InputError("the model has " +
                       count_of(static_cast<std::size_t>(model.features), "feature") +
                       ", the data have " + std::to_string(point.size()));
  if (!data.labels.empty() && data.labels.size() != data.points.size())
    throw InputError("the data have " + std::to_string(data.points.size()) + " points and " +
                     std::to_string(data.labels.size()) + " labels");
}

}  // namespace

std::vector<double> picture_classes(const Model &model, const std::vector<double> &data_labels) {
  std::set<double> classes(data_labels.begin(), data_labels.end());
  for (double label : model_classes(model).labels) classes.insert(label);
  return {classes.begin(), classes.end()};
}

std::string class_text(double label, const Model &model,
                       const std::vector<std::pair<int, std::string>> &data_names) {
  for (const auto *names : {&model.class_names, &data_names})
    for (const auto &[known, name] : *names)
      if (known == label) return name;
  return "label " + format_number(label);
}

PictureLayout plan_picture(const Model &model, const PlotPoints &data,
                           const std::vector<double> &chosen, std::size_t cells) {
  check_points(model, data);
  PictureLayout layout;
  layout.view = choose_view(model, data.points, chosen);
  std::vector<std::array<double, 2>> points;
  for (const auto &p : data.points) points.push_back(view_point(layout.view, model, p));
  set_frame(layout, points, sections(model, layout.view));
  const Frame f = frame_of(layout);
  const double longer = std::max(f.width(), f.height());
  layout.columns = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::lround(static_cast<double>(cells) * f.width() / longer)));
  layout.rows = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::lround(static_cast<double>(cells) * f.height() / longer)));
  const double dx = (layout.xmax - layout.xmin) / static_cast<double>(layout.columns);
  const double dy = (layout.ymax - layout.ymin) / static_cast<double>(layout.rows);
  for (std::size_t r = 0; r < layout.rows; ++r)
    for (std::size_t c = 0; c < layout.columns; ++c)
      layout.grid.push_back(view_pattern(layout.view, model,
                                         layout.xmin + (static_cast<double>(c) + 0.5) * dx,
                                         layout.ymax - (static_cast<double>(r) + 0.5) * dy));
  return layout;
}

std::string render_svg(const Model &model, const PlotPoints &data, const std::string &title,
                       const PictureLayout &layout, const std::vector<double> &grid_labels,
                       double unknown_label) {
  check_points(model, data);
  if (!grid_labels.empty() && grid_labels.size() != layout.grid.size())
    throw InputError("the grid has " + std::to_string(layout.grid.size()) + " cells, but " +
                     std::to_string(grid_labels.size()) + " labels were given");
  const Frame frame = frame_of(layout);
  const std::vector<double> classes = picture_classes(model, data.labels);
  const auto colour_of = [&](double label) {
    return colour(static_cast<std::size_t>(
        std::lower_bound(classes.begin(), classes.end(), label) - classes.begin()));
  };
  const std::vector<NodeShape> cut = sections(model, layout.view);
  std::vector<std::string> notes;
  if (!grid_labels.empty()) notes.push_back("shaded: the model's class; blank: none");
  const Member *drawn = drawn_member(model);
  if (drawn && layout.view.projected)
    notes.push_back("nodes cut by the plane: " + std::to_string(cut.size()) + " of " +
                    std::to_string(drawn->templates.size()));
  if (drawn && model.members.size() > 1)
    notes.push_back("nodes of member " + std::to_string(drawn - model.members.data() + 1) +
                    " of " + std::to_string(model.members.size()));
  if (!drawn) notes.push_back("no nodes drawn: each member sees only some features");
  const std::vector<std::string> lines = legend_lines(model, data, classes);
  double legend_width = 0;
  for (const auto &line : lines) legend_width = std::max(legend_width, 18 + text_width(line));
  for (const auto &note : notes) legend_width = std::max(legend_width, text_width(note, 11));

  const double width = std::max(2 * margin + frame.width() + 20 + legend_width,
                                margin + text_width(title, 14) + 20);
  const double height = std::max(2 * margin + frame.height(),
                                 margin + 20.0 * static_cast<double>(lines.size()) +
                                     16.0 * static_cast<double>(notes.size()) + 30);
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
         "\" font-family=\"sans-serif\">\n";
  svg += "<title>" + escape(title) + "</title>\n";
  svg += "<defs><clipPath id=\"frame\"><rect x=\"" + num(margin) + "\" y=\"" + num(margin) +
         "\" width=\"" + num(frame.width()) + "\" height=\"" + num(frame.height()) +
         "\"/></clipPath></defs>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  svg += "<text x=\"" + num(margin) + "\" y=\"" + num(margin - 14) + "\" font-size=\"14\">" +
         escape(title) + "</text>\n";
  svg += "<g id=\"regions\" shape-rendering=\"crispEdges\">\n";
  if (!grid_labels.empty()) svg += region_elements(layout, frame, grid_labels, unknown_label, classes);
  svg += "</g>\n" + axes(frame, layout.view) + "<g id=\"nodes\" clip-path=\"url(#frame)\">\n";
  const NodeInk ink(std::max<std::size_t>(cut.size(), 1));
  for (std::size_t n = 0; drawn && n < drawn->templates.size(); ++n)
    if (const auto s = node_section(layout.view, model, drawn->templates[n]))
      svg += node_element(*s, frame, colour_of(drawn->labels[n]), ink);
  svg += "</g>\n<g id=\"points\">\n";  // on top, so no region hides a point
  for (std::size_t n = 0; n < data.points.size(); ++n)
    svg += point_element(view_point(layout.view, model, data.points[n]), frame,
                         data.labels.empty() ? unlabelled_colour : colour_of(data.labels[n]));
  svg += "</g>\n" + legend(lines, notes, margin + frame.width() + 20) + "</svg>\n";
  return svg;
}

}  // namespace qir
