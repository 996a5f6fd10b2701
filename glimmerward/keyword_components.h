// Where a form keeps its keyword component, by form type.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glimmerward {

struct KeywordComponentPlace {
    std::uint8_t formType;
    std::uint16_t offset;
};

extern const KeywordComponentPlace kKeywordComponentPlaces[];
extern const std::size_t kKeywordComponentPlaceCount;

// The component's offset inside a form of formType, or 0 when the type keeps it elsewhere.
std::size_t KeywordComponentOffset(std::uint8_t formType);

} // namespace glimmerward
