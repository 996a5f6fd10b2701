// A block decoder written as plainly as the format's definition reads: single-precision
// quadruples (blue, green, red, alpha) per pixel, converted to bytes at the end. It shares no
// code or tables with the decoders under test.
#pragma once

#include <array>
#include <cstdint>

namespace ravelstone::reference {

enum class BlockKind { kDxt1, kDxt3, kDxt5 };

// The 16 pixels of one block, pixel p at row p / 4 and column p % 4, bytes blue, green, red, alpha.
using DecodedBlock = std::array<std::array<std::uint8_t, 4>, 16>;

DecodedBlock DecodeBlock(BlockKind kind, const std::uint8_t* block);

} // namespace ravelstone::reference
