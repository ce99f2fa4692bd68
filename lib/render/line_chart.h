// Line charts as a standalone SVG file: panels side by side over one x
// axis (batches, say), each with its own y axis and lines.
#pragma once

#include <string>
#include <vector>

namespace qir {

struct ChartLine {
  std::string name;
  std::vector<double> y;  // one value per x; NaN leaves a gap
  bool dashed = false;
};

struct ChartPanel {
  std::string title;
  std::string y_label;
  std::vector<ChartLine> lines;
  bool y_from_zero = false;  // else the axis spans the values
};

struct LineChart {
  std::string title;
  std::string x_label;
  std::vector<double> x;
  std::vector<ChartPanel> panels;
  // A vertical marker (a dotted line with its text) in every panel; none
  // when the text is empty.
  double marker_x = 0;
  std::string marker_text;
};

// Throws InputError when a line has another number of values than x.
std::string render_line_chart(const LineChart &chart);

}  // namespace qir
