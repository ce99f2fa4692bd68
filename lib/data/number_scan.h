// The numbers of plain numeric records, read in place: the quick scan's
// part of reading a data file (csv.cpp). Apart so that tests can hold both
// ways of reading a cell to each other and to parse_number.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../../core/portability.h"

namespace qir::number_scan {

// Exact powers of ten: every one up to 10^22 is a double.
constexpr double exact_tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::uint64_t exact_tens_whole[] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000,
    10000000000, 100000000000, 1000000000000, 10000000000000, 100000000000000,
    1000000000000000};

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Four pairs of digit values 0-9 in the eight bytes of `v`, first byte
// first, as one integer: neighbouring lanes are joined, two digits, four,
// eight, by multiplications that keep every partial sum within its lane.
inline std::uint64_t join_digits(std::uint64_t v) {
  v = v * 10 + (v >> 8);
  constexpr std::uint64_t lanes = 0x000000FF000000FF;
  return (((v & lanes) * (100 + (std::uint64_t{1000000} << 32))) +
          (((v >> 16) & lanes) * (1 + (std::uint64_t{10000} << 32)))) >>
         32;
}

inline std::uint64_t load8(const char *p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Eight bytes as the digits of an integer, first byte first, when all eight
// are digits.
inline bool eight_digits(const char *p, std::uint64_t &number) {
  const auto byte = [p](int k) { return std::uint64_t{static_cast<unsigned char>(p[k])}; };
  const std::uint64_t v = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24 |
                          byte(4) << 32 | byte(5) << 40 | byte(6) << 48 | byte(7) << 56;
  constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0, zeros = 0x3030303030303030;
  if (((v & high) | (((v + 0x0606060606060606) & high) >> 4)) != 0x3333333333333333) return false;
  number = join_digits(v - zeros);
  return true;
}

// Digits from `q` on into `digits`; the end of them.
inline const char *take_digits(const char *q, const char *end, std::uint64_t &digits) {
  std::uint64_t eight = 0;
  while (end - q >= 8 && eight_digits(q, eight)) {
    digits = digits * 100000000 + eight;
    q += 8;
  }
  for (; q != end && is_digit(*q); ++q) digits = digits * 10 + static_cast<unsigned>(*q - '0');
  return q;
}

// A decimal number at `p` whose digits form an integer of at most 2^53 and
// whose power of ten is at most 22 either way: both are exact doubles, so
// one correctly rounded multiplication or division gives the double nearest
// the text, the value parse_number gives. Returns the end of the number, or
// null for any other text (which the general reading then judges). Byte by
// byte: the reference of the quicker reading below, and its way near the
// end of the bytes read.
inline const char *plain_number_bytewise(const char *p, const char *end, double &value) {
  const bool negative = p != end && *p == '-';
  if (p != end && (*p == '-' || *p == '+')) ++p;
  const char *q = p;
  while (q != end && *q == '0') ++q;
  std::uint64_t digits = 0;  // wraps past 19 digits, which are refused below
  const char *const first = q;
  q = take_digits(q, end, digits);
  std::ptrdiff_t significant = q - first;
  bool any = q != p;
  std::ptrdiff_t scale = 0;
  if (q != end && *q == '.') {
    const char *const fraction = ++q;
    if (significant == 0)
      while (q != end && *q == '0') ++q;
    const char *const counted = q;
    q = take_digits(q, end, digits);
    significant += q - counted;
    scale = fraction - q;
    any = any || q != fraction;
  }
  if (!any || significant > 19) return nullptr;
  if (q != end && (*q == 'e' || *q == 'E')) {
    ++q;
    const bool down = q != end && *q == '-';
    if (q != end && (*q == '-' || *q == '+')) ++q;
    if (q == end || !is_digit(*q)) return nullptr;
    std::ptrdiff_t exponent = 0;
    for (; q != end && is_digit(*q); ++q)
      exponent = std::min<std::ptrdiff_t>(exponent * 10 + (*q - '0'), 1000);
    scale += down ? -exponent : exponent;
  }
  if (digits > (std::uint64_t{1} << 53) || scale < -22 || scale > 22) return nullptr;
  const auto whole = static_cast<double>(digits);
  value = scale < 0 ? whole / exact_tens[-scale] : whole * exact_tens[scale];
  if (negative) value = -value;
  return q;
}

#if QIR_LITTLE_ENDIAN

// A flag in each byte of `v` that is not a digit. A byte of 0xCA-0xCF
// carries into the next one's flag, but only bytes before the first flagged
// one are ever taken as digits.
inline std::uint64_t non_digits(std::uint64_t v) {
  const std::uint64_t x = v ^ 0x3030303030303030;
  return (x | (x + 0x0606060606060606)) & 0xF0F0F0F0F0F0F0F0;
}

// How many of the 16 bytes from `p` on are digits before the first that is not.
inline int leading_digits(const char *p) {
  if (const std::uint64_t flags = non_digits(load8(p))) return qir_count_trailing_zeros(flags) / 8;
  if (const std::uint64_t flags = non_digits(load8(p + 8)))
    return 8 + qir_count_trailing_zeros(flags) / 8;
  return 16;
}

// The integer of the `n` digits at `p` (0 to 16 of them): the bytes after
// them are shifted out, and zeros, as leading digits, shifted in. A byte
// after the digits less than '0' borrows from those after it only.
QIR_ALWAYS_INLINE std::uint64_t digits_value(const char *p, int n) {
  constexpr std::uint64_t zeros = 0x3030303030303030;
  if (n > 8)
    return join_digits((load8(p) - zeros) << (8 * (16 - n))) * 100000000 +
           join_digits(load8(p + n - 8) - zeros);
  const std::uint64_t v = (load8(p) - zeros) << ((8 * (8 - n)) & 63);
  return n == 0 ? 0 : join_digits(v);
}

#endif

// The most bytes the quicker reading looks at past the number's start.
constexpr std::ptrdiff_t quick_reach = 40;

// The same as plain_number_bytewise, to the bit and to the byte where the
// number ends: numbers of at most 19 digits without an exponent (as most
// files hold them) found by whole words at a time, the rest left to the
// bytewise reading.
QIR_ALWAYS_INLINE const char *plain_number(const char *p, const char *end, double &value) {
#if QIR_LITTLE_ENDIAN
  if (end - p >= quick_reach) {
    const char *q = p + (*p == '-' || *p == '+');
    const int whole = leading_digits(q);
    int fraction = 0;
    const char *after = q + whole;
    if (whole < 16 && *after == '.') {
      fraction = leading_digits(after + 1);
      after += 1 + fraction;
    }
    if (whole + fraction > 0 && whole + fraction <= 19 && fraction < 16 && whole < 16 &&
        *after != 'e' && *after != 'E') {
      std::uint64_t digits = digits_value(q, whole);
      if (fraction > 0) {
        digits = digits * exact_tens_whole[fraction] + digits_value(q + whole + 1, fraction);
      }
      if (digits <= (std::uint64_t{1} << 53)) {
        const double number = static_cast<double>(digits) / exact_tens[fraction];
        // The sign without a branch: it is as often one way as the other.
        std::uint64_t bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        bits ^= std::uint64_t{*p == '-'} << 63;
        std::memcpy(&value, &bits, sizeof bits);
        return after;
      }
    }
  }
#endif
  return plain_number_bytewise(p, end, value);
}

}  // namespace qir::number_scan
