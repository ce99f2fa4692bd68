// The circle-in-the-square benchmark: points uniform in the unit square,
// label 1 inside the centred circle that covers half the square's area
// (radius sqrt(1/(2*pi))), label 2 outside.
#pragma once

#include <cstdint>
#include <string>

namespace qir {

constexpr std::uint64_t circle_train_seed = 20240101;
constexpr std::uint64_t circle_test_seed = 20240202;

// `count` rows "x,y,label" with x and y on a grid of step 1e-6; the label is
// decided on the written coordinates, so the file is exact as it stands.
std::string circle_in_square_csv(std::uint64_t seed, std::size_t count);

}  // namespace qir
