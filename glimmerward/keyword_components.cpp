#include "glimmerward/keyword_components.h"

namespace glimmerward {

const KeywordComponentPlace kKeywordComponentPlaces[] = {
    {0x0E, 0x44}, // race
    {0x12, 0x24},
    {0x15, 0x28}, {0x16, 0x28}, {0x17, 0x28}, {0x1E, 0x28}, {0x2E, 0x28},
    {0x18, 0x50}, {0x19, 0x50}, {0x27, 0x50}, {0x28, 0x50},
    {0x1A, 0xF8}, // armor
    {0x1B, 0x88},
    {0x20, 0x7C}, {0x21, 0x7C}, {0x2D, 0x7C}, {0x34, 0x7C},
    {0x29, 0xA8},
    {0x2A, 0x80},
    {0x2B, 0xA0},
    {0x68, 0x1C},
};
const std::size_t kKeywordComponentPlaceCount =
    sizeof kKeywordComponentPlaces / sizeof kKeywordComponentPlaces[0];

std::size_t KeywordComponentOffset(std::uint8_t formType) {
    for (const auto& place : kKeywordComponentPlaces) {
        if (place.formType == formType) {
            return place.offset;
        }
    }
    return 0;
}

} // namespace glimmerward
