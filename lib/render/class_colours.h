// The colours of the classes in every picture, the command's SVG files and
// the toolbox's figures alike: class k (0-based, in label order) gets
// entry k modulo the count.
#pragma once

#include <array>
#include <cstdint>

namespace qir {

inline constexpr std::array<std::uint32_t, 10> class_colours = {
    0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
    0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f};

}  // namespace qir
