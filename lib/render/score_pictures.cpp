#include "score_pictures.h"

#include <algorithm>
#include <cmath>

#include "../base/errors.h"
#include "../base/number_text.h"
#include "line_chart.h"
#include "svg_text.h"

namespace qir {
namespace {

using svg::colour;
using svg::escape;
using svg::num;

constexpr double left_gap = 24, top = 70;

double text_width(const std::string &text, double size) {
  std::size_t glyphs = 0;
  for (unsigned char c : text) glyphs += (c & 0xC0) != 0x80;
  return 0.62 * size * static_cast<double>(glyphs);
}

std::string header(double width, double height, const std::string &title) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
         "width=\"" + num(width) + "\" height=\"" + num(height) + "\" viewBox=\"0 0 " +
         num(width) + " " + num(height) + "\" font-family=\"sans-serif\">\n<title>" +
         escape(title) + "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n" +
         "<text x=\"" + num(left_gap) + "\" y=\"24\" font-size=\"14\">" + escape(title) +
         "</text>\n";
}

std::string text_at(double x, double y, const std::string &text, const char *anchor,
                    double size = 12, const char *fill = "#000000") {
  return "<text class=\"label\" x=\"" + num(x) + "\" y=\"" + num(y) + "\" font-size=\"" +
         num(size) + "\" text-anchor=\"" + anchor + "\" fill=\"" + fill + "\">" + escape(text) +
         "</text>\n";
}

std::size_t class_index(const PictureClasses &classes, double label) {
  const auto at = std::find(classes.labels.begin(), classes.labels.end(), label);
  if (at == classes.labels.end())
    throw InputError("label " + format_number(label) + " is not among the picture's classes");
  return static_cast<std::size_t>(at - classes.labels.begin());
}

std::string swatch(double x, double y, std::size_t k) {
  return "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"10\" height=\"10\" fill=\"" +
         colour(k) + "\"/>\n";
}

double widest(const std::vector<std::string> &texts, double size) {
  double w = 0;
  for (const auto &t : texts) w = std::max(w, text_width(t, size));
  return w;
}

}  // namespace

std::string render_confusion(const Scores &scores, const PictureClasses &classes,
                             const std::string &title) {
  std::vector<std::size_t> rows;
  for (double label : scores.true_labels) rows.push_back(class_index(classes, label));
  const std::size_t columns = classes.labels.size() + 1;  // the last: unclassified
  std::vector<std::vector<std::size_t>> counts(rows.size(), std::vector<std::size_t>(columns, 0));
  for (const auto &[pair, count] : scores.counts) {
    const std::size_t r = static_cast<std::size_t>(
        std::find(scores.true_labels.begin(), scores.true_labels.end(), pair.first) -
        scores.true_labels.begin());
    const bool unknown = scores.unknown_label && pair.second == *scores.unknown_label;
    counts[r][unknown ? columns - 1 : class_index(classes, pair.second)] += count;
  }
  std::vector<std::string> column_names = classes.names;
  column_names.push_back("none");
  const double cell = std::max(44.0, widest(column_names, 11) + 8);
  const double label_width = widest(classes.names, 12) + 30;
  const double x0 = left_gap + label_width, y0 = top + 40;
  const double width = std::max(x0 + cell * static_cast<double>(columns) + left_gap,
                                left_gap + text_width(title, 14) + 20);
  const double height = y0 + cell * static_cast<double>(rows.size()) + 40;
  std::string svg = header(std::max(width, left_gap + 300), height, title);
  svg += text_at(left_gap, 46, "Accuracy: " + format_number(std::round(scores.accuracy_percent() * 100) / 100) +
                                   "% (" + std::to_string(scores.correct) + " of " +
                                   std::to_string(scores.total) + ")",
                 "start");
  svg += text_at(x0 + cell * static_cast<double>(columns) / 2, top + 4,
                 "assigned class (rows: true class)", "middle", 11, "#444444");
  for (std::size_t c = 0; c < columns; ++c)
    svg += text_at(x0 + (static_cast<double>(c) + 0.5) * cell, y0 - 8, column_names[c], "middle", 11);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const double y = y0 + static_cast<double>(r) * cell;
    svg += swatch(left_gap, y + cell / 2 - 5, rows[r]);
    svg += text_at(left_gap + 16, y + cell / 2 + 4, classes.names[rows[r]], "start");
    std::size_t total = 0;
    for (std::size_t n : counts[r]) total += n;
    for (std::size_t c = 0; c < columns; ++c) {
      const double share = total == 0 ? 0 : static_cast<double>(counts[r][c]) / static_cast<double>(total);
      const double x = x0 + static_cast<double>(c) * cell;
      // From white to a deep blue as the share grows.
      char fill[8];
      std::snprintf(fill, sizeof fill, "#%02x%02x%02x", static_cast<int>(std::lround(255 - 222 * share)),
                    static_cast<int>(std::lround(255 - 164 * share)),
                    static_cast<int>(std::lround(255 - 75 * share)));
      svg += "<rect class=\"cell\" x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(cell) +
             "\" height=\"" + num(cell) + "\" fill=\"" + fill + "\" stroke=\"#cccccc\"/>\n";
      svg += text_at(x + cell / 2, y + cell / 2 + 4, std::to_string(counts[r][c]), "middle", 12,
                     share > 0.55 ? "#ffffff" : "#000000");
    }
  }
  return svg + "</svg>\n";
}

std::string render_vote_shares(const VoteResult &votes, const std::vector<double> &truth,
                               const PictureClasses &classes, const std::string &title) {
  const std::size_t width_classes = votes.classes.size();
  if (!truth.empty() && truth.size() != votes.labels.size())
    throw InputError("the vote has " + std::to_string(votes.labels.size()) + " patterns and " +
                     std::to_string(truth.size()) + " true labels");
  // Bars: every true class in the picture's order, or one for all patterns.
  std::vector<double> bars;
  if (truth.empty()) bars.push_back(0);
  else
    for (double label : classes.labels)
      if (std::find(truth.begin(), truth.end(), label) != truth.end()) bars.push_back(label);
  std::vector<std::vector<double>> mean(bars.size(), std::vector<double>(classes.labels.size(), 0));
  std::vector<std::size_t> patterns(bars.size(), 0);
  for (std::size_t p = 0; p < votes.labels.size(); ++p) {
    const std::size_t b = truth.empty() ? 0 : static_cast<std::size_t>(
        std::find(bars.begin(), bars.end(), truth[p]) - bars.begin());
    ++patterns[b];
    for (std::size_t c = 0; c < width_classes; ++c)
      mean[b][class_index(classes, votes.classes[c])] += votes.shares[p * width_classes + c];
  }
  std::vector<std::string> bar_names;
  for (std::size_t b = 0; b < bars.size(); ++b) {
    for (double &share : mean[b]) share /= std::max<std::size_t>(patterns[b], 1);
    bar_names.push_back(truth.empty() ? "all patterns" : classes.names[class_index(classes, bars[b])]);
  }
  const double bar_length = 420, bar_height = 22, gap = 10;
  const double label_width = widest(bar_names, 12) + 30;
  const double x0 = left_gap + label_width, y0 = top + 10;
  const double legend_y = y0 + static_cast<double>(bars.size()) * (bar_height + gap) + 30;
  const double width = std::max({x0 + bar_length + left_gap, left_gap + text_width(title, 14) + 20,
                                 left_gap + 30 + widest(classes.names, 12)});
  const double height = legend_y + 20.0 * static_cast<double>(classes.labels.size()) + 10;
  std::string svg = header(width, height, title);
  svg += text_at(left_gap, 46, "mean share of the members' votes, by true class", "start", 12,
                 "#444444");
  for (std::size_t b = 0; b < bars.size(); ++b) {
    const double y = y0 + static_cast<double>(b) * (bar_height + gap);
    if (!truth.empty()) svg += swatch(left_gap, y + bar_height / 2 - 5, class_index(classes, bars[b]));
    svg += text_at(left_gap + (truth.empty() ? 0 : 16), y + bar_height / 2 + 4, bar_names[b], "start");
    double x = x0;
    for (std::size_t c = 0; c < classes.labels.size(); ++c) {
      const double length = mean[b][c] * bar_length;
      if (length <= 0) continue;
      svg += "<rect class=\"share\" x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" +
             num(length) + "\" height=\"" + num(bar_height) + "\" fill=\"" + colour(c) + "\"/>\n";
      if (length >= 34)
        svg += text_at(x + length / 2, y + bar_height / 2 + 4,
                       std::to_string(static_cast<int>(std::lround(100 * mean[b][c]))) + "%",
                       "middle", 11, "#ffffff");
      x += length;
    }
    svg += "<rect x=\"" + num(x0) + "\" y=\"" + num(y) + "\" width=\"" + num(bar_length) +
           "\" height=\"" + num(bar_height) + "\" fill=\"none\" stroke=\"#444444\"/>\n";
  }
  for (std::size_t c = 0; c < classes.labels.size(); ++c) {
    const double y = legend_y + 20.0 * static_cast<double>(c);
    svg += swatch(left_gap, y, c) + text_at(left_gap + 16, y + 9, classes.names[c], "start");
  }
  return svg + "</svg>\n";
}

std::string render_progress(const std::vector<ProgressStep> &steps, const std::string &step_name,
                            const std::string &title) {
  LineChart chart;
  chart.title = title;
  chart.x_label = step_name;
  ChartLine accuracy{"accuracy", {}, false}, nodes{"nodes (all members)", {}, false};
  for (const auto &s : steps) {
    chart.x.push_back(s.step);
    accuracy.y.push_back(s.accuracy_percent);
    nodes.y.push_back(s.nodes);
  }
  chart.panels = {{"Accuracy", "accuracy (%)", {accuracy}, false},
                  {"Nodes", "nodes", {nodes}, true}};
  return render_line_chart(chart);
}

}  // namespace qir
