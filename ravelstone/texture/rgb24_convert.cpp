#include "ravelstone/texture/rgb24_convert.h"

namespace ravelstone {

Rgb24RowConverter ConvertRgb24Row = ConvertRgb24ToArgb32;

void ConvertRgb24ToArgb32(std::uint8_t* destination, const std::uint8_t* source,
                          std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        destination[4 * i + 0] = source[3 * i + 0];
        destination[4 * i + 1] = source[3 * i + 1];
        destination[4 * i + 2] = source[3 * i + 2];
        destination[4 * i + 3] = 0xFF;
    }
}

void SelectRgb24Converter(bool hasSsse3) {
    ConvertRgb24Row = hasSsse3 ? ConvertRgb24ToArgb32Ssse3 : ConvertRgb24ToArgb32;
}

} // namespace ravelstone
