// WriteJump at host addresses: the bytes, and the page protection restored.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "ravelstone/core/write_jump.h"
#include "testhost/game_range.h"

namespace {

TEST(WriteJump, WritesTheRelativeJumpAndRestoresTheProtection) {
    const struct {
        std::uintptr_t site;
        DWORD protection;
    } cases[] = {
        {0x0083FD6D, PAGE_EXECUTE_READ},
        {0x00A493D1, PAGE_EXECUTE_READ},
        {0x00500FFE, PAGE_EXECUTE_READ}, // straddles two pages
        {0x0055E050, 0}, // as loaded (Wine reports image pages made writable as write-copy)
    };
    const std::uintptr_t handler = 0x10001234;
    for (const auto& c : cases) {
        testhost::Plant(c.site - 1, {0x90, 0x8B, 0x0D, 0x94, 0x02, 0xBC, 0x01, 0x90});
        if (c.protection != 0) {
            testhost::SetProtection(c.site - 1, 8, c.protection);
        }
        const DWORD before = testhost::ProtectionAt(c.site);
        ravelstone::WriteJump(c.site, reinterpret_cast<const void*>(handler));
        const std::uint32_t d = static_cast<std::uint32_t>(handler - (c.site + 5));
        const std::vector<std::uint8_t> expected = {0x90,
                                                    0xE9,
                                                    static_cast<std::uint8_t>(d),
                                                    static_cast<std::uint8_t>(d >> 8),
                                                    static_cast<std::uint8_t>(d >> 16),
                                                    static_cast<std::uint8_t>(d >> 24),
                                                    0x01,
                                                    0x90};
        EXPECT_EQ(testhost::ReadBytes(c.site - 1, 8), expected) << std::hex << c.site;
        EXPECT_EQ(testhost::ProtectionAt(c.site), before) << std::hex << c.site;
        EXPECT_EQ(testhost::ProtectionAt(c.site + 4), before) << std::hex << c.site;
    }
}

} // namespace
