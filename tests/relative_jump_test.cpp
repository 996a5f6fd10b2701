#include "host/relative_jump.h"

#include <gtest/gtest.h>

namespace {

TEST(RelativeJump, DisplacementIsTargetMinusTheAddressAfterTheJump) {
    struct Case {
        std::uint32_t site, target;
        std::array<std::uint8_t, 5> bytes;
    };
    const Case cases[] = {
        {0x006F4099, 0x006F409E, {0xE9, 0x00, 0x00, 0x00, 0x00}},
        {0x006F4099, 0x006F4099, {0xE9, 0xFB, 0xFF, 0xFF, 0xFF}}, // onto itself: -5
        {0x00401000, 0x10001000, {0xE9, 0xFB, 0xFF, 0xBF, 0x0F}},
        {0x10001000, 0x00401000, {0xE9, 0xFB, 0xFF, 0x3F, 0xF0}}, // backwards
        {0xFFFFFFF0, 0x00000010, {0xE9, 0x1B, 0x00, 0x00, 0x00}}, // wraps around 4 GiB
    };
    for (const auto& c : cases) {
        EXPECT_EQ(host::EncodeRelativeJump(c.site, c.target), c.bytes)
            << std::hex << c.site << " -> " << c.target;
    }
}

} // namespace
