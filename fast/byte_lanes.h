// Eight per-block bytes handled at once in one 64-bit word: byte i of the
// word is the byte at p[i], whatever the processor's byte order. Plain
// integer arithmetic, so every compiler and processor gives the same
// results; no carry ever crosses from one byte into the next.
#pragma once

#include "portability.h"

#include <cstdint>
#include <cstring>

namespace qir::byte_lanes {

constexpr std::uint64_t ones = 0x0101010101010101u;  // 1 in every byte

inline std::uint64_t load8(const std::uint8_t *p) {
  std::uint64_t x = 0;
#if QIR_LITTLE_ENDIAN
  std::memcpy(&x, p, 8);
#else
  for (int i = 0; i < 8; ++i) x |= static_cast<std::uint64_t>(p[i]) << (8 * i);
#endif
  return x;
}

inline void store8(std::uint8_t *p, std::uint64_t x) {
#if QIR_LITTLE_ENDIAN
  std::memcpy(p, &x, 8);
#else
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(x >> (8 * i));
#endif
}

// 0xFF in every byte of x that is 0, else 0.
inline std::uint64_t zero_bytes(std::uint64_t x) {
  constexpr std::uint64_t low7 = 0x7F * ones;
  const std::uint64_t high = ~(((x & low7) + low7) | x | low7);  // 0x80 where zero
  return (high >> 7) * 0xFF;
}

// 0xFF in every byte whose low four bits are at least q (1 … 16), else 0:
// (low + 16 - q) reaches 16 exactly then, and stays below 32.
inline std::uint64_t low_nibble_at_least(std::uint64_t x, std::uint32_t q) {
  const std::uint64_t sum = (x & (0x0F * ones)) + (16 - q) * ones;
  return ((sum >> 4) & ones) * 0xFF;
}

// The low four bits of each byte (the rest must be 0), packed: byte i's
// into bits 4i … 4i+3 of the result.
inline std::uint32_t pack_nibbles(std::uint64_t x) {
  x = (x | x >> 4) & 0x00FF00FF00FF00FFu;
  x = (x | x >> 8) & 0x0000FFFF0000FFFFu;
  x = (x | x >> 16) & 0x00000000FFFFFFFFu;
  return static_cast<std::uint32_t>(x);
}

// Set bits in the whole word.
inline std::int32_t count_bits(std::uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555u);
  v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
  v = (v + (v >> 4)) & (0x0F * ones);
  return static_cast<std::int32_t>((v * ones) >> 56);
}

}  // namespace qir::byte_lanes
