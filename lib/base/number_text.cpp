#include "number_text.h"

#include <charconv>
#include <cmath>

namespace qir {

std::string format_number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
  // The fewest digits that still read back as the same double: 0.7, not
  // 0.69999999999999996; 17 always suffice. to_chars writes what "%.*g"
  // writes, several times faster: a model file holds many numbers.
  char buffer[32];
  std::size_t length = 0;
  for (int digits = 15; digits <= 17; ++digits) {
    length = static_cast<std::size_t>(
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits)
            .ptr -
        buffer);
    if (parse_number(std::string_view(buffer, length)) == value) break;
  }
  return std::string(buffer, length);
}

std::string count_of(std::size_t count, const std::string &noun, const std::string &plural) {
  if (count == 1) return "1 " + noun;
  return std::to_string(count) + " " + (plural.empty() ? noun + "s" : plural);
}

std::string_view trim(std::string_view text) {
  const char *blanks = " \t\r";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::optional<double> parse_number(std::string_view text) {
  text = trim(text);
  // from_chars refuses a leading '+', which spreadsheets sometimes write.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  const char *end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace qir
