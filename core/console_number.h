// Doubles in console text. printf's %f spells NaN and infinity as each C
// library likes (-nan, nan(ind), -nan(ind), INF ...), which would make the
// modules' text differ between platforms. Deliberately, the modules print
// every NaN as "nan" whatever its sign bit, infinities as "inf" and "-inf",
// and every finite value exactly as %f prints it.
#pragma once

#include <cstddef>

namespace qir {

// %f of the largest double needs 309 digits, the point, 6 decimals and a sign.
constexpr std::size_t fixed_text_size = 320;

struct FixedText {
  char text[fixed_text_size];
};

// The value as the modules print it in place of %f.
FixedText format_fixed(double value);

}  // namespace qir
