// Size products that must not wrap: plain arithmetic, so every compiler
// (MSVC too) builds the host without builtins.
#pragma once

#include <cstddef>
#include <limits>

namespace qirhost {

// a * b into *product; false when the product does not fit a size_t.
inline bool multiply_size(std::size_t a, std::size_t b, std::size_t *product) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return false;
  *product = a * b;
  return true;
}

}  // namespace qirhost
