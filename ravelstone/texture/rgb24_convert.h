// 24-bit pixels (blue, green, red) to the 32-bit layout of A8R8G8B8 (blue, green, red, 0xFF).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ravelstone {

// Converts count pixels: reads exactly 3 x count bytes and writes exactly 4 x count bytes.
// Neither pointer needs any alignment; the two runs must not overlap.
using Rgb24RowConverter = void (*)(std::uint8_t* destination, const std::uint8_t* source,
                                   std::size_t count);

void ConvertRgb24ToArgb32(std::uint8_t* destination, const std::uint8_t* source, std::size_t count);

// The same result, 16 pixels per step with SSSE3 byte shuffles. Call it only on a processor
// that has SSSE3: it is the only code of this library built with those instructions.
void ConvertRgb24ToArgb32Ssse3(std::uint8_t* destination, const std::uint8_t* source,
                               std::size_t count);

// The converter in use by this process. Until SelectRgb24Converter runs it is the plain one.
extern Rgb24RowConverter ConvertRgb24Row;

// Chooses the converter once, from the processor's SSSE3 bit; Ravelstone's load step calls it
// before any texture can be created.
void SelectRgb24Converter(bool hasSsse3);

} // namespace ravelstone
