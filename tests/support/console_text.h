// Console text as the tests compare it: the elapsed-seconds figure made
// steady, and long texts compared line by line so that a mismatch reports
// the first differing line instead of the whole text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

namespace qirtest {

// " in N seconds" reads " in 0 seconds", whatever N: a whole-second boundary
// may fall inside any call, and under an emulator calls take seconds.
inline std::string steady(const std::string &console) {
  static const std::string before = " in ", after = " seconds";
  std::string out;
  out.reserve(console.size());
  std::size_t copied = 0;
  for (std::size_t hit = console.find(before); hit != std::string::npos;
       hit = console.find(before, hit + 1)) {
    const std::size_t digits = hit + before.size();
    std::size_t end = digits;
    while (end < console.size() && console[end] >= '0' && console[end] <= '9') ++end;
    if (end == digits || console.compare(end, after.size(), after) != 0) continue;
    out.append(console, copied, digits - copied).append("0");
    copied = end;
  }
  return out.append(console, copied, std::string::npos);
}

// Empty when the texts are equal; otherwise where they first differ, with
// that line of each.
inline std::string first_difference(const std::string &actual, const std::string &expected) {
  if (actual == expected) return {};
  const std::size_t at = static_cast<std::size_t>(
      std::mismatch(actual.begin(), actual.begin() + std::min(actual.size(), expected.size()),
                    expected.begin())
          .first -
      actual.begin());
  const std::size_t line_start = actual.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t start = (at == 0 || line_start == std::string::npos) ? 0 : line_start + 1;
  const auto line_at = [start](const std::string &text) {
    if (start >= text.size()) return std::string("(end of text)");
    return "\"" + text.substr(start, text.find('\n', start) - start) + "\"";
  };
  const std::size_t number =
      1 + static_cast<std::size_t>(std::count(actual.begin(), actual.begin() + start, '\n'));
  return "texts differ at line " + std::to_string(number) + " (of " +
         std::to_string(std::count(expected.begin(), expected.end(), '\n')) +
         " expected lines):\n  actual:   " + line_at(actual) + "\n  expected: " +
         line_at(expected);
}

}  // namespace qirtest
