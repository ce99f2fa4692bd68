#include "svg_text.h"

#include <cmath>
#include <cstdio>

#include "class_colours.h"

namespace qir::svg {

std::string num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string tick_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

std::string colour(std::size_t index) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06x",
                static_cast<unsigned>(class_colours[index % class_colours.size()]));
  return text;
}

double tick_step(double range) {
  const double base = std::pow(10.0, std::floor(std::log10(range / 5)));
  for (double factor : {1.0, 2.0, 5.0, 10.0})
    if (range / (base * factor) <= 6) return base * factor;
  return base * 10;
}

}  // namespace qir::svg
