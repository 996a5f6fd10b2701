// Thornquay in the stand-in host: the query's checks and the one-byte patch at 0x006AAC5F.
#include <cstdint>

#include <gtest/gtest.h>
#include <windows.h>

#include "host/extender.h"
#include "testhost/extender.h"
#include "testhost/game_range.h"
#include "testhost/import_patch.h"

namespace {

constexpr std::uintptr_t kSite = 0x006AAC5F;

// A short conditional jump (je +0x10) with recognisable neighbours.
void PlantConditionalJump() {
    testhost::Plant(kSite - 1, {0x90, 0x74, 0x10, 0x90});
    testhost::SetProtection(kSite, 1, PAGE_EXECUTE_READ);
}

TEST(ThornquayQuery, AcceptsOnlyRuntime1_9_32_0OutsideTheEditor) {
    struct Case {
        std::uint32_t extender, runtime;
        bool editor, accepted;
    };
    const Case cases[] = {
        {0x01070000, 0x09200000, false, true},
        {0x00000000, 0x09200000, false, true}, // any extender version, even 0
        {0xFFFFFFFF, 0x09200000, false, true},
        {0x01070000, 0x09200000, true, false},
        {0x01070000, 0x091FFFFF, false, false},
        {0x01070000, 0x09200001, false, false}, // later runtimes too
        {0x01070000, 0x00000000, false, false},
    };
    testhost::Extender loader(0, 0, false);
    ASSERT_NE(loader.LoadPlugin("Thornquay.dll"), nullptr);
    for (const auto& c : cases) {
        loader.record().extenderVersion = c.extender;
        loader.record().runtimeVersion = c.runtime;
        loader.record().isEditor = c.editor;
        host::PluginInfo info{0xCCCCCCCC, nullptr, 0xCCCCCCCC};
        EXPECT_EQ(loader.Query(info), c.accepted)
            << std::hex << "extender " << c.extender << " runtime " << c.runtime << " editor "
            << c.editor;
        // Filled whatever the answer.
        EXPECT_EQ(info.infoVersion, 1u);
        ASSERT_NE(info.name, nullptr);
        EXPECT_STREQ(info.name, "Thornquay");
        EXPECT_EQ(info.version, 1u);
    }
    EXPECT_TRUE(loader.calls().sequence.empty()) << "Thornquay asks the extender for nothing";
}

TEST(ThornquayLoad, MakesTheJumpUnconditionalAndRestoresTheProtection) {
    PlantConditionalJump();
    ASSERT_EQ(testhost::ProtectionAt(kSite), static_cast<DWORD>(PAGE_EXECUTE_READ));
    testhost::Extender loader(0x01070000, 0x09200000, false);
    ASSERT_NE(loader.LoadPlugin("Thornquay.dll"), nullptr);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    EXPECT_TRUE(loader.Load());
    const std::vector<std::uint8_t> expected = {0x90, 0xEB, 0x10, 0x90};
    EXPECT_EQ(testhost::ReadBytes(kSite - 1, 4), expected);
    EXPECT_EQ(testhost::ProtectionAt(kSite), static_cast<DWORD>(PAGE_EXECUTE_READ));
}

BOOL WINAPI RefusingVirtualProtect(LPVOID, SIZE_T, DWORD, PDWORD) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
}

TEST(ThornquayLoad, LeavesTheByteAloneWhenTheProtectionCannotChange) {
    PlantConditionalJump();
    testhost::Extender loader(0x01070000, 0x09200000, false);
    HMODULE plugin = loader.LoadPlugin("Thornquay.dll");
    ASSERT_NE(plugin, nullptr);
    ASSERT_NE(testhost::ReplaceImport(plugin, "kernel32.dll", "VirtualProtect",
                                      reinterpret_cast<void*>(&RefusingVirtualProtect)),
              nullptr);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    EXPECT_TRUE(loader.Load()) << "the load answers true all the same";
    const std::vector<std::uint8_t> expected = {0x90, 0x74, 0x10, 0x90};
    EXPECT_EQ(testhost::ReadBytes(kSite - 1, 4), expected);
}

} // namespace
