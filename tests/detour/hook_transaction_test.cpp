// Hooking real code in the stand-in host's game range: prologues as compilers emit them,
// system DLL exports, an enlisted thread inside the target, and the transaction rules.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "ravelstone/detour/detour.h"
#include "ravelstone/detour/trampoline.h"
#include "testhost/game_range.h"

namespace {

using namespace ravelstone::detour;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uintptr_t kTarget = 0x00600000;
constexpr std::uintptr_t kHelper = 0x00600040;

using Sum = int(__cdecl*)(int, int);

Sum g_original = nullptr;
int __cdecl SumHandler(int a, int b) {
    return g_original(a, b) + 1000;
}

void PlantCode(std::uintptr_t at, const Bytes& bytes) {
    testhost::Plant(at, bytes.data(), bytes.size());
    testhost::SetProtection(at, bytes.size(), PAGE_EXECUTE_READ);
    FlushInstructionCache(GetCurrentProcess(), reinterpret_cast<void*>(at), bytes.size());
}

Bytes Rel32(std::uintptr_t from, std::uintptr_t to) {
    const auto d = static_cast<std::uint32_t>(to - from);
    return {static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
            static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)};
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

bool IsFree(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    return VirtualQuery(address, &info, sizeof info) != 0 && info.State == MEM_FREE;
}

struct PrologueCase {
    const char* name;
    Bytes code;              // planted at kTarget; returns a + b + bias
    Bytes helper;            // planted at kHelper
    int bias;                // what the planted function adds to a + b
    std::uintptr_t hookedAt; // where the jump lands (a leading short jump is followed)
};

const Bytes kAddArgs = {0x8B, 0x44, 0x24, 0x04, 0x03, 0x44, 0x24, 0x08}; // eax = a + b

std::vector<PrologueCase> PrologueCases() {
    return {
        {"frame with sub esp, imm8",
         {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x08, 0x8B, 0x45, 0x08, 0x03, 0x45, 0x0C, 0x8B, 0xE5, 0x5D,
          0xC3},
         {},
         0,
         kTarget},
        {"frame with sub esp, imm32",
         {0x55, 0x8B, 0xEC, 0x81, 0xEC, 0x00, 0x01, 0x00, 0x00, 0x8B, 0x45, 0x08, 0x03, 0x45, 0x0C,
          0x8B, 0xE5, 0x5D, 0xC3},
         {},
         0,
         kTarget},
        {"mov edi, edi",
         {0x8B, 0xFF, 0x55, 0x8B, 0xEC, 0x8B, 0x45, 0x08, 0x03, 0x45, 0x0C, 0x5D, 0xC3},
         {},
         0,
         kTarget},
        {"leading short jump",
         Join({{0xEB, 0x04, 0xCC, 0xCC, 0xCC, 0xCC}, kAddArgs, {0xC3}}),
         {},
         0,
         kTarget + 6},
        {"leading near jump", Join({{0xE9}, Rel32(kTarget + 5, kHelper)}), Join({kAddArgs, {0xC3}}),
         0, kTarget},
        {"call in the first bytes",
         Join({{0xE8},
               Rel32(kTarget + 5, kHelper),
               {0x03, 0x44, 0x24, 0x04, 0x03, 0x44, 0x24, 0x08, 0xC3}}),
         {0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3},
         7,
         kTarget},
        {"short conditional jump widened",
         Join({{0x33, 0xC9, 0x74, 0x03, 0xCC, 0xCC, 0xCC}, kAddArgs, {0xC3}}),
         {},
         0,
         kTarget},
    };
}

class HookedPrologue : public ::testing::TestWithParam<PrologueCase> {};

TEST_P(HookedPrologue, RunsThroughHandlerAndTrampolineAndDetachesExactly) {
    const PrologueCase& c = GetParam();
    PlantCode(kTarget, c.code);
    if (!c.helper.empty()) {
        PlantCode(kHelper, c.helper);
    }
    auto function = reinterpret_cast<Sum>(kTarget);
    ASSERT_EQ(function(2, 3), 5 + c.bias);
    const Bytes before = testhost::ReadBytes(c.hookedAt, 24);

    g_original = function;
    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(AttachHook(&g_original, &SumHandler), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);
    const auto trampoline = reinterpret_cast<std::uintptr_t>(g_original);
    EXPECT_NE(trampoline, kTarget);
    EXPECT_LE(trampoline > kTarget ? trampoline - kTarget : kTarget - trampoline, kReach);
    EXPECT_EQ(testhost::ReadBytes(c.hookedAt, 1), Bytes{0xE9});
    EXPECT_EQ(testhost::ProtectionAt(c.hookedAt), static_cast<DWORD>(PAGE_EXECUTE_READ));

    EXPECT_EQ(function(2, 3), 1005 + c.bias) << "through the hooked function";
    EXPECT_EQ(g_original(20, 30), 50 + c.bias) << "through the trampoline";

    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(DetachHook(&g_original, &SumHandler), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(g_original), c.hookedAt);
    EXPECT_EQ(testhost::ReadBytes(c.hookedAt, 24), before);
    EXPECT_EQ(testhost::ProtectionAt(c.hookedAt), static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_TRUE(IsFree(reinterpret_cast<void*>(trampoline))) << "the empty region is released";
    EXPECT_EQ(function(2, 3), 5 + c.bias);
}

INSTANTIATE_TEST_SUITE_P(Compiled, HookedPrologue, ::testing::ValuesIn(PrologueCases()));

int g_calls = 0;
void(__cdecl* g_returnOnly)() = nullptr;
void __cdecl ReturnOnlyHandler() {
    ++g_calls;
    g_returnOnly();
}

TEST(HookedReturn, OneByteReturnCompletedByNopsIsHookable) {
    PlantCode(kTarget, {0xC3, 0x90, 0x90, 0x90, 0x90, 0xCC});
    g_returnOnly = reinterpret_cast<void(__cdecl*)()>(kTarget);
    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(AttachHook(&g_returnOnly, &ReturnOnlyHandler), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);
    reinterpret_cast<void(__cdecl*)()>(kTarget)();
    EXPECT_EQ(g_calls, 1);
    const Bytes jumpAndFiller = testhost::ReadBytes(kTarget, 6);
    EXPECT_EQ(jumpAndFiller[0], 0xE9);
    EXPECT_EQ(jumpAndFiller[5], 0xCC);
}

TEST(HookedReturn, OneByteReturnFollowedByBreakpointsIsRefused) {
    PlantCode(kTarget, {0xC3, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC});
    g_returnOnly = reinterpret_cast<void(__cdecl*)()>(kTarget);
    ASSERT_EQ(BeginHookTransaction(), 0u);
    EXPECT_EQ(AttachHook(&g_returnOnly, &ReturnOnlyHandler),
              static_cast<HookError>(ERROR_INVALID_BLOCK));
    EXPECT_EQ(CommitHookTransaction(), static_cast<HookError>(ERROR_INVALID_BLOCK));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(g_returnOnly), kTarget);
    EXPECT_EQ(testhost::ReadBytes(kTarget, 6), (Bytes{0xC3, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}));
}

TEST(RefusedTargets, UnusableTrampolinesAreNeverBuilt) {
    struct Case {
        const char* what;
        Bytes code;
    };
    const Case cases[] = {
        {"invalid opcode", {0xD6, 0x90, 0x90, 0x90, 0x90, 0xC3}},
        {"three-byte escape", {0x0F, 0x38, 0x00, 0xC0, 0x90, 0xC3}},
        {"loop cannot reach from the trampoline", {0xE2, 0x10, 0x90, 0x90, 0x90, 0xC3}},
        {"operand-size short jump", {0x66, 0xEB, 0x10, 0x90, 0x90, 0xC3}},
        {"run of prefixes over 15 bytes", Bytes(20, 0x2E)},
        {"widened jumps and a long instruction overflow the code bytes",
         {0x74, 0x00, 0x75, 0x00, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0x2E, 0xC7,
          0x84, 0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlantCode(kTarget, c.code);
        void* variable = reinterpret_cast<void*>(kTarget);
        ASSERT_EQ(BeginHookTransaction(), 0u);
        EXPECT_EQ(AttachHook(&variable, reinterpret_cast<void*>(&SumHandler)),
                  static_cast<HookError>(ERROR_INVALID_BLOCK));
        EXPECT_EQ(CommitHookTransaction(), static_cast<HookError>(ERROR_INVALID_BLOCK));
        EXPECT_EQ(testhost::ReadBytes(kTarget, c.code.size()), c.code);
        EXPECT_EQ(testhost::ProtectionAt(kTarget), static_cast<DWORD>(PAGE_EXECUTE_READ));
    }
}

} // namespace
