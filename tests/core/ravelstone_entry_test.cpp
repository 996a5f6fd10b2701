// Ravelstone.dll in the stand-in host: the query's checks and lines, the load sequence, the
// sleep cave at the game's wait site, and the detach line.
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "host/calling.h"
#include "host/extender.h"
#include "testhost/extender.h"
#include "testhost/game_range.h"
#include "testhost/raw_code.h"
#include "testhost/text_file.h"

namespace {

constexpr char kLogPath[] = "data/skse/plugins/Ravelstone.log";
constexpr std::uintptr_t kWaitSite = 0x006F4099;
constexpr std::uintptr_t kWaitSiteReturn = 0x006F409F;
constexpr std::uintptr_t kWaitSiteGlobal = 0x01BC0294;

// Strips the "[time stamp]" of a levelled line, checking its shape; other lines stay as they are.
std::vector<std::string> LogWithoutTimeStamps() {
    static const std::regex stamp(R"(^\[[^\]]{8,}\](.*)$)");
    std::vector<std::string> lines;
    for (const auto& line : testhost::ReadLines(kLogPath)) {
        std::smatch m;
        lines.push_back(std::regex_match(line, m, stamp) ? m[1].str() : line);
    }
    return lines;
}

// The game's instruction at the wait site: mov ecx, [0x01BC0294].
void PlantWaitSite() {
    testhost::Plant(kWaitSite, {0x8B, 0x0D, 0x94, 0x02, 0xBC, 0x01});
    testhost::SetProtection(kWaitSite, 6, PAGE_EXECUTE_READ);
    testhost::Poke<std::uint32_t>(kWaitSiteGlobal, 0x5EED1234);
}

TEST(RavelstoneQuery, RefusesTheEditorAndEarlierRuntimesWithTheirLines) {
    const struct {
        std::uint32_t runtime;
        bool editor, accepted;
        const char* line;
    } cases[] = {
        {0x09200000, false, true, "INFO: Queue OK"},
        {0x09200001, false, true, "INFO: Queue OK"}, // later runtimes are accepted
        {0xFFFFFFFF, false, true, "INFO: Queue OK"},
        {0x091FFFFF, false, false, "ERROR: unsupported runtime version 091FFFFF"},
        {0x00000000, false, false, "ERROR: unsupported runtime version 00000000"},
        {0x0A0B0C0D - 0x01000000, false, false, "ERROR: unsupported runtime version 090B0C0D"},
        {0x09200000, true, false, "ERROR: loaded in editor, marking as incompatible"},
        {0x00000000, true, false, "ERROR: loaded in editor, marking as incompatible"},
    };
    testhost::Extender loader(0x01070000, 0x09200000, false);
    ASSERT_NE(loader.LoadPlugin("Ravelstone.dll"), nullptr);
    std::vector<std::string> expected = {"Ravelstone"};
    for (const auto& c : cases) {
        loader.record().runtimeVersion = c.runtime;
        loader.record().isEditor = c.editor;
        host::PluginInfo info{0xCCCCCCCC, nullptr, 0xCCCCCCCC};
        EXPECT_EQ(loader.Query(info), c.accepted) << std::hex << c.runtime << " " << c.editor;
        // Filled before any check.
        EXPECT_EQ(info.infoVersion, 1u);
        ASSERT_NE(info.name, nullptr);
        EXPECT_STREQ(info.name, "Ravelstone");
        EXPECT_EQ(info.version, 1u);
        expected.push_back(c.line);
    }
    EXPECT_EQ(LogWithoutTimeStamps(), expected);
}

TEST(RavelstoneLoad, WithoutAnIniLogsItsStepsInOrder) {
    PlantWaitSite();
    testhost::Extender loader(0x01070000, 0x09200000, false);
    ASSERT_NE(loader.LoadPlugin("Ravelstone.dll"), nullptr);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    EXPECT_TRUE(loader.Load());
    const std::vector<std::string> expected = {"Ravelstone", "INFO: Queue OK",
                                               "INFO: SKSEPlugin_Load"};
    EXPECT_EQ(LogWithoutTimeStamps(), expected);
}

TEST(RavelstoneLoad, SendsTheWaitSiteThroughTheSleepCave) {
    PlantWaitSite();
    testhost::Extender loader(0x01070000, 0x09200000, false);
    ASSERT_NE(loader.LoadPlugin("Ravelstone.dll"), nullptr);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    ASSERT_TRUE(loader.Load());

    const auto site = testhost::ReadBytes(kWaitSite, 6);
    ASSERT_EQ(site[0], 0xE9);
    EXPECT_EQ(site[5], 0x01) << "the displaced instruction's last byte stays";
    EXPECT_EQ(testhost::ProtectionAt(kWaitSite), static_cast<DWORD>(PAGE_EXECUTE_READ));
    std::uint32_t displacement = 0;
    std::memcpy(&displacement, &site[1], 4);
    const std::uintptr_t cave = kWaitSite + 5 + displacement;
    MEMORY_BASIC_INFORMATION where{};
    ASSERT_EQ(VirtualQuery(reinterpret_cast<void*>(cave), &where, sizeof where), sizeof where);
    EXPECT_EQ(where.AllocationBase, loader.module()) << "the jump lands in Ravelstone";

    const testhost::Registers in = {0xAAAA0001, 0xCCCC0002, 0xDDDD0003, 0xBBBB0004,
                                    0,          0xEEEE0006, 0x51510007, 0xD1D10008};
    // Every pass sleeps and then loads what the global holds at that moment.
    for (const std::uint32_t global : {0x5EED1234u, 0x0BADF00Du}) {
        testhost::Poke<std::uint32_t>(kWaitSiteGlobal, global);
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        std::uint32_t jumpEsp = 0;
        const auto out = testhost::RunRawCode(kWaitSite, kWaitSiteReturn, in, &jumpEsp);
        QueryPerformanceCounter(&end);
        const double ms = 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
        EXPECT_GE(ms, 25.0);
        EXPECT_EQ(out.ecx, global) << "the displaced load";
        EXPECT_EQ(out.eax, kWaitSiteReturn);
        EXPECT_EQ(out.ebx, in.ebx);
        EXPECT_EQ(out.esi, in.esi);
        EXPECT_EQ(out.edi, in.edi);
        EXPECT_EQ(out.ebp, in.ebp);
        EXPECT_EQ(out.esp, jumpEsp);
    }
}

TEST(RavelstoneDetach, LogsDetachWhenTheLibraryIsUnloaded) {
    testhost::Extender loader(0x01070000, 0x09200000, false);
    HMODULE plugin = loader.LoadPlugin("Ravelstone.dll");
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(FreeLibrary(plugin));
    const std::vector<std::string> expected = {"Ravelstone", "INFO: Detach"};
    EXPECT_EQ(LogWithoutTimeStamps(), expected);
}

} // namespace

namespace {

// Host functions the load step hooks, planted with a real prologue so the detour engine can
// move their first instructions.
int HOST_THISCALL UnhookedHostFunction(void*) {
    return 0;
}

constexpr std::uintptr_t kVectorRoutines[] = {0x00447ED0, 0x004EC9C0, 0x00AFC100};
constexpr std::uintptr_t kKeptHooks[] = {0x00406890, 0x004068C0, 0x0083FCF0};
constexpr std::uintptr_t kCameraJumps[] = {0x0083FD6D, 0x0083FE03};

bool JumpsInto(std::uintptr_t site, HMODULE module) {
    if (testhost::Peek<std::uint8_t>(site) != 0xE9) {
        return false;
    }
    const std::uintptr_t target = site + 5 + testhost::Peek<std::uint32_t>(site + 1);
    MEMORY_BASIC_INFORMATION where{};
    return VirtualQuery(reinterpret_cast<void*>(target), &where, sizeof where) == sizeof where &&
           where.AllocationBase == module;
}

// A hook's first jump may lead to a trampoline region beside the game first; what matters is
// that the function no longer starts with its own bytes.
bool Hooked(std::uintptr_t site) {
    return testhost::Peek<std::uint8_t>(site) == 0xE9;
}

TEST(RavelstoneLoad, HooksTheEngineRoutinesAndTheDetachRemovesOnlyTheVectorOnes) {
    PlantWaitSite();
    for (auto site : kVectorRoutines) {
        testhost::PlantFunction(site, &UnhookedHostFunction);
    }
    for (auto site : kKeptHooks) {
        testhost::PlantFunction(site, &UnhookedHostFunction);
    }
    for (auto site : kCameraJumps) {
        testhost::Plant(site, {0xD9, 0x05, 0x00, 0x00, 0x00, 0x00}); // fld dword ptr [...]
    }
    const auto plantedVector =
        testhost::ReadBytes(kVectorRoutines[0], testhost::kPlantedFunctionSize);

    testhost::Extender loader(0x01070000, 0x09200000, false);
    HMODULE plugin = loader.LoadPlugin("Ravelstone.dll");
    ASSERT_NE(plugin, nullptr);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    ASSERT_TRUE(loader.Load());
    for (auto site : kVectorRoutines) {
        EXPECT_TRUE(Hooked(site)) << std::hex << site;
    }
    for (auto site : kKeptHooks) {
        EXPECT_TRUE(Hooked(site)) << std::hex << site;
    }
    for (auto site : kCameraJumps) {
        EXPECT_TRUE(JumpsInto(site, plugin)) << std::hex << site;
    }

    ASSERT_TRUE(FreeLibrary(plugin));
    for (auto site : kVectorRoutines) {
        EXPECT_EQ(testhost::ReadBytes(site, testhost::kPlantedFunctionSize).front(),
                  plantedVector.front())
            << std::hex << site;
        EXPECT_FALSE(Hooked(site)) << std::hex << site << " restored at detach";
    }
    for (auto site : kKeptHooks) {
        EXPECT_TRUE(Hooked(site)) << std::hex << site << " stays hooked";
    }
    EXPECT_EQ(LogWithoutTimeStamps().back(), "INFO: Detach");
}

TEST(RavelstoneLoad, CameraSwitchOffLeavesTheCameraSitesAlone) {
    PlantWaitSite();
    testhost::PlantFunction(kKeptHooks[2], &UnhookedHostFunction);
    for (auto site : kCameraJumps) {
        testhost::Plant(site, {0xD9, 0x05, 0x00, 0x00, 0x00, 0x00});
    }
    testhost::WriteTextFile(testhost::ExeDir() + "\\data\\skse\\plugins\\Ravelstone.ini",
                            "[Camera]\nfix3rdPersonCameraScale=0\n");
    testhost::Extender loader(0x01070000, 0x09200000, false);
    ASSERT_NE(loader.LoadPlugin("Ravelstone.dll"), nullptr);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    ASSERT_TRUE(loader.Load());
    EXPECT_FALSE(Hooked(kKeptHooks[2]));
    for (auto site : kCameraJumps) {
        EXPECT_EQ(testhost::Peek<std::uint8_t>(site), 0xD9) << std::hex << site;
    }
}

} // namespace
