// The text of the pictures' SVG: numbers, escaped labels, class colours and
// tick spacing, shared so every picture the library draws reads alike.
#pragma once

#include <cstddef>
#include <string>

namespace qir::svg {

// A coordinate to two decimals: the pictures need no finer detail.
std::string num(double value);
// A tick's label, as short as the value allows.
std::string tick_text(double value);
std::string escape(const std::string &text);
// The fill colour of the index-th class, cycling through the palette.
std::string colour(std::size_t index);
// Tick spacing of 1, 2 or 5 times a power of ten, giving at most 6 ticks.
double tick_step(double range);

}  // namespace qir::svg
