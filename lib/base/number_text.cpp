#include "number_text.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "../../core/portability.h"

namespace qir {

std::string format_number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
  char buffer[32];
  // A whole number below 10^15 is written by %.15g as its digits: labels
  // and counts, most of what the commands write, take the integer form.
  if (std::trunc(value) == value && std::fabs(value) < 1e15 && !(value == 0 && std::signbit(value)))
    return std::string(buffer, static_cast<std::size_t>(
                                   std::to_chars(buffer, buffer + sizeof buffer,
                                                 static_cast<long long>(value))
                                       .ptr -
                                   buffer));
  // The fewest digits that still read back as the same double: 0.7, not
  // 0.69999999999999996; 17 always suffice. to_chars writes what "%.*g"
  // writes, several times faster: a model file holds many numbers.
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

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0: no overlong forms,
// no surrogates, nothing beyond U+10FFFF.
std::size_t utf8_sequence(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  return length;
}

}  // namespace

std::size_t first_invalid_utf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_sequence(text, at);
    if (length == 0) return at;
    at += length;
  }
  return std::string_view::npos;
}

std::string shown_text(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_sequence(text, at);
    if (length > 0) {
      shown.append(text.substr(at, length));
      at += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[at++]);
    shown += "\\x";
    shown += hex[byte >> 4];
    shown += hex[byte & 0xF];
  }
  return shown;
}

DoubleText read_double_portably(std::string_view text, double &value) {
  const char *p = text.data(), *const end = p + text.size();
  const bool negative = p != end && *p == '-';
  p += negative;
  const auto rest_is = [&](const char *word) {
    const std::size_t length = std::strlen(word);
    if (static_cast<std::size_t>(end - p) != length) return false;
    for (std::size_t k = 0; k < length; ++k)
      if (std::tolower(static_cast<unsigned char>(p[k])) != word[k]) return false;
    return true;
  };
  if (rest_is("inf") || rest_is("infinity")) {
    value = negative ? -std::numeric_limits<double>::infinity()
                     : std::numeric_limits<double>::infinity();
    return DoubleText::number;
  }
  const bool nan_sequence = [&] {  // "nan(" letters, digits and '_' ")"
    if (end - p < 5 || !(std::tolower(static_cast<unsigned char>(p[0])) == 'n' &&
                         std::tolower(static_cast<unsigned char>(p[1])) == 'a' &&
                         std::tolower(static_cast<unsigned char>(p[2])) == 'n' && p[3] == '(' &&
                         end[-1] == ')'))
      return false;
    for (const char *q = p + 4; q != end - 1; ++q)
      if (!std::isalnum(static_cast<unsigned char>(*q)) && *q != '_') return false;
    return true;
  }();
  if (rest_is("nan") || nan_sequence) {
    value = std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
    return DoubleText::number;
  }
  // Digits, a point, digits (one digit at least), then an exponent with
  // its digits; nothing else.
  const char *q = p;
  bool any = false, nonzero = false;
  for (; q != end && std::isdigit(static_cast<unsigned char>(*q)); ++q) {
    any = true;
    nonzero = nonzero || *q != '0';
  }
  const char *point = nullptr;
  if (q != end && *q == '.') {
    point = q++;
    for (; q != end && std::isdigit(static_cast<unsigned char>(*q)); ++q) {
      any = true;
      nonzero = nonzero || *q != '0';
    }
  }
  if (!any) return DoubleText::not_a_number;
  if (q != end && (*q == 'e' || *q == 'E')) {
    ++q;
    if (q != end && (*q == '+' || *q == '-')) ++q;
    if (q == end || !std::isdigit(static_cast<unsigned char>(*q))) return DoubleText::not_a_number;
    while (q != end && std::isdigit(static_cast<unsigned char>(*q))) ++q;
  }
  if (q != end) return DoubleText::not_a_number;
  // strtod reads the point of the running locale.
  std::string copy(text);
  if (point != nullptr) {
    const char *decimal = std::localeconv()->decimal_point;
    if (decimal != nullptr && std::strcmp(decimal, ".") != 0)
      copy.replace(static_cast<std::size_t>(point - text.data()), 1, decimal);
  }
  const double read = std::strtod(copy.c_str(), nullptr);
  if (std::isinf(read) || (read == 0 && nonzero)) return DoubleText::out_of_range;
  value = read;
  return DoubleText::number;
}

DoubleText read_double(std::string_view text, double &value) {
#if QIR_FROM_CHARS_DOUBLE
  const char *end = text.data() + text.size();
  double read = 0;
  const auto [stop, error] = std::from_chars(text.data(), end, read);
  if (stop != end) return DoubleText::not_a_number;
  if (error == std::errc::result_out_of_range) return DoubleText::out_of_range;
  if (error != std::errc()) return DoubleText::not_a_number;
  value = read;
  return DoubleText::number;
#else
  return read_double_portably(text, value);
#endif
}

std::optional<double> parse_number(std::string_view text) {
  text = trim(text);
  // from_chars refuses a leading '+', which spreadsheets sometimes write.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  if (read_double(text, value) != DoubleText::number) return std::nullopt;
  return value;
}

}  // namespace qir
