// The transaction rules, enlisted threads, system DLL exports and where regions are placed.
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

constexpr std::uintptr_t kTargetA = 0x00610000;
constexpr std::uintptr_t kTargetB = 0x00610100;
const Bytes kFrame = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x08, 0x8B, 0x45,
                      0x08, 0x03, 0x45, 0x0C, 0x8B, 0xE5, 0x5D, 0xC3};

void PlantCode(std::uintptr_t at, const Bytes& bytes) {
    testhost::Plant(at, bytes.data(), bytes.size());
    testhost::SetProtection(at, bytes.size(), PAGE_EXECUTE_READ);
}

int __cdecl Handler(int, int) {
    return 0;
}
void* HandlerAddress() {
    return reinterpret_cast<void*>(&Handler);
}

DWORD WINAPI TryBegin(void* result) {
    *static_cast<HookError*>(result) = BeginHookTransaction();
    return 0;
}

TEST(TransactionRules, SecondBeginFromAnyThreadIsRefused) {
    ASSERT_EQ(BeginHookTransaction(), 0u);
    EXPECT_EQ(BeginHookTransaction(), static_cast<HookError>(ERROR_INVALID_OPERATION));
    HookError other = 0xDEADBEEF;
    HANDLE thread = CreateThread(nullptr, 0, &TryBegin, &other, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(other, static_cast<HookError>(ERROR_INVALID_OPERATION));
    EXPECT_EQ(AbortHookTransaction(), 0u);
    EXPECT_EQ(BeginHookTransaction(), 0u) << "closed again after the abort";
    EXPECT_EQ(CommitHookTransaction(), 0u);
}

struct ForeignCalls {
    void* variable;
    HookError attach, detach, commit, abort, enlist;
};

DWORD WINAPI CallFromForeignThread(void* context) {
    auto* calls = static_cast<ForeignCalls*>(context);
    calls->attach = AttachHook(&calls->variable, HandlerAddress());
    calls->detach = DetachHook(&calls->variable, HandlerAddress());
    calls->enlist = EnlistThread(GetCurrentThread());
    calls->commit = CommitHookTransaction();
    calls->abort = AbortHookTransaction();
    return 0;
}

TEST(TransactionRules, ErrorTable) {
    PlantCode(kTargetA, kFrame);
    PlantCode(kTargetB, kFrame);
    const HookError kInvalidOperation = ERROR_INVALID_OPERATION;

    // No transaction open: every operation belongs to no one.
    void* a = reinterpret_cast<void*>(kTargetA);
    EXPECT_EQ(AttachHook(&a, HandlerAddress()), kInvalidOperation);
    EXPECT_EQ(CommitHookTransaction(), kInvalidOperation);
    EXPECT_EQ(AbortHookTransaction(), kInvalidOperation);

    ASSERT_EQ(BeginHookTransaction(), 0u);
    ForeignCalls foreign{a, 1, 1, 1, 1, 1};
    HANDLE thread = CreateThread(nullptr, 0, &CallFromForeignThread, &foreign, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(foreign.attach, kInvalidOperation);
    EXPECT_EQ(foreign.detach, kInvalidOperation);
    EXPECT_EQ(foreign.enlist, kInvalidOperation);
    EXPECT_EQ(foreign.commit, kInvalidOperation);
    EXPECT_EQ(foreign.abort, kInvalidOperation);

    // A null pointer is refused without poisoning the transaction.
    EXPECT_EQ(AttachHook(static_cast<void**>(nullptr), HandlerAddress()),
              static_cast<HookError>(ERROR_INVALID_HANDLE));
    // Attaching a variable that already holds the handler queues nothing.
    void* already = HandlerAddress();
    EXPECT_EQ(AttachHook(&already, HandlerAddress()), 0u);
    EXPECT_EQ(EnlistThread(GetCurrentThread()), 0u);
    // A valid attach, then a null variable that poisons the rest.
    EXPECT_EQ(AttachHook(&a, HandlerAddress()), 0u);
    void* null = nullptr;
    EXPECT_EQ(AttachHook(&null, HandlerAddress()), static_cast<HookError>(ERROR_INVALID_HANDLE));
    void* b = reinterpret_cast<void*>(kTargetB);
    EXPECT_EQ(AttachHook(&b, HandlerAddress()), static_cast<HookError>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(CommitHookTransaction(), static_cast<HookError>(ERROR_INVALID_HANDLE));

    // Nothing installed, protections restored, variables untouched.
    EXPECT_EQ(a, reinterpret_cast<void*>(kTargetA));
    EXPECT_EQ(b, reinterpret_cast<void*>(kTargetB));
    EXPECT_EQ(testhost::ReadBytes(kTargetA, kFrame.size()), kFrame);
    EXPECT_EQ(testhost::ReadBytes(kTargetB, kFrame.size()), kFrame);
    EXPECT_EQ(testhost::ProtectionAt(kTargetA), static_cast<DWORD>(PAGE_EXECUTE_READ));

    // A detach of something that is no trampoline, or with the wrong handler.
    ASSERT_EQ(BeginHookTransaction(), 0u);
    EXPECT_EQ(DetachHook(&a, HandlerAddress()), static_cast<HookError>(ERROR_INVALID_BLOCK));
    EXPECT_EQ(AbortHookTransaction(), 0u);
    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(AttachHook(&a, HandlerAddress()), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);
    ASSERT_EQ(BeginHookTransaction(), 0u);
    EXPECT_EQ(DetachHook(&a, reinterpret_cast<void*>(&PlantCode)),
              static_cast<HookError>(ERROR_INVALID_BLOCK));
    EXPECT_EQ(CommitHookTransaction(), static_cast<HookError>(ERROR_INVALID_BLOCK));
    EXPECT_NE(a, reinterpret_cast<void*>(kTargetA)) << "still hooked";
}

TEST(TransactionRules, AbortRestoresProtectionsAndFreesTrampolines) {
    PlantCode(kTargetA, kFrame);
    void* a = reinterpret_cast<void*>(kTargetA);
    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(AttachHook(&a, HandlerAddress()), 0u);
    EXPECT_NE(testhost::ProtectionAt(kTargetA), static_cast<DWORD>(PAGE_EXECUTE_READ))
        << "writable while the transaction is open";
    EXPECT_EQ(AbortHookTransaction(), 0u);
    EXPECT_EQ(testhost::ProtectionAt(kTargetA), static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_EQ(a, reinterpret_cast<void*>(kTargetA));
    EXPECT_EQ(testhost::ReadBytes(kTargetA, kFrame.size()), kFrame);
    // The freed cell is the one the next attach receives.
    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(AttachHook(&a, HandlerAddress()), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);
    const auto cell = reinterpret_cast<std::uintptr_t>(a);
    EXPECT_EQ(cell % kRegionSize, kFirstUsableCell * sizeof(Trampoline));
}

// A function whose first bytes are short straight-line code and which then spins while g_spin
// is set: mov edi, edi; mov eax, eax; nop; spin: cmp dword [g_spin], 0; jne spin; mov eax, 42;
// ret.
volatile LONG g_spin = 1;
constexpr std::uintptr_t kSpinner = 0x00620000;
constexpr std::uintptr_t kSpinLoopEnd = kSpinner + 0x0E;
using Spinner = int(__cdecl*)();
Spinner g_spinnerOriginal = nullptr;
int __cdecl SpinnerHandler() {
    return g_spinnerOriginal() + 1000;
}

DWORD WINAPI RunSpinner(void* result) {
    *static_cast<int*>(result) = reinterpret_cast<Spinner>(kSpinner)();
    return 0;
}

TEST(EnlistedThread, ThreadInsideTheTargetIsMovedIntoTheTrampoline) {
    const auto flag = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&g_spin));
    PlantCode(kSpinner, {0x8B,
                         0xFF,
                         0x8B,
                         0xC0,
                         0x90,
                         0x83,
                         0x3D,
                         static_cast<std::uint8_t>(flag),
                         static_cast<std::uint8_t>(flag >> 8),
                         static_cast<std::uint8_t>(flag >> 16),
                         static_cast<std::uint8_t>(flag >> 24),
                         0x00,
                         0x75,
                         0xF7,
                         0xB8,
                         0x2A,
                         0x00,
                         0x00,
                         0x00,
                         0xC3});
    int result = 0;
    HANDLE thread = CreateThread(nullptr, 0, &RunSpinner, &result, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Sleep(50);
    // Hold the thread at the second instruction of the stretch the jump overwrites.
    ASSERT_NE(SuspendThread(thread), static_cast<DWORD>(-1));
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    ASSERT_TRUE(GetThreadContext(thread, &context));
    ASSERT_GE(context.Eip, kSpinner);
    ASSERT_LT(context.Eip, kSpinLoopEnd) << "the thread spins inside the planted function";
    // As if it had been suspended just behind mov edi, edi, inside the bytes the jump takes.
    context.Eip = kSpinner + 2;
    ASSERT_TRUE(SetThreadContext(thread, &context));

    g_spinnerOriginal = reinterpret_cast<Spinner>(kSpinner);
    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(EnlistThread(thread), 0u);
    ASSERT_EQ(AttachHook(&g_spinnerOriginal, &SpinnerHandler), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);

    // Still held by the first suspension: the commit moved it into the trampoline, just behind
    // the copy of mov edi, edi.
    context.ContextFlags = CONTEXT_CONTROL;
    ASSERT_TRUE(GetThreadContext(thread, &context));
    EXPECT_EQ(context.Eip, reinterpret_cast<std::uintptr_t>(g_spinnerOriginal) + 2);
    ResumeThread(thread);
    Sleep(20);
    InterlockedExchange(&g_spin, 0);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD exitCode = 0;
    GetExitCodeThread(thread, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(thread);
    // It ran the relocated instructions, resumed behind the jump and finished the call it
    // had entered before the hook existed.
    EXPECT_EQ(result, 42);
    EXPECT_EQ(reinterpret_cast<Spinner>(kSpinner)(), 1042) << "later calls reach the handler";
}

// Real exports of Wine's system DLLs.
using StringLength = int(WINAPI*)(LPCSTR);
StringLength g_lstrlenA = nullptr;
int WINAPI LstrlenHandler(LPCSTR s) {
    return g_lstrlenA(s) + 100;
}

using MulDivFunction = int(WINAPI*)(int, int, int);
MulDivFunction g_mulDiv = nullptr;
int WINAPI MulDivHandler(int a, int b, int c) {
    return g_mulDiv(a, b, c) + 100;
}

using CharTest = BOOL(WINAPI*)(CHAR);
CharTest g_isCharAlpha = nullptr;
BOOL WINAPI IsCharAlphaHandler(CHAR c) {
    return c == '1' ? TRUE : g_isCharAlpha(c);
}

using Atoi = int(__cdecl*)(const char*);
Atoi g_atoi = nullptr;
int __cdecl AtoiHandler(const char* s) {
    return g_atoi(s) + 100;
}

template <class F> F Export(const char* module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryA(module), name)));
}

TEST(SystemExports, HookedAndRestoredExactly) {
    g_lstrlenA = Export<StringLength>("kernel32.dll", "lstrlenA");
    g_mulDiv = Export<MulDivFunction>("kernel32.dll", "MulDiv");
    g_isCharAlpha = Export<CharTest>("user32.dll", "IsCharAlphaA");
    g_atoi = Export<Atoi>("msvcrt.dll", "atoi");
    ASSERT_TRUE(g_lstrlenA && g_mulDiv && g_isCharAlpha && g_atoi);
    const StringLength lstrlenEntry = g_lstrlenA;
    const MulDivFunction mulDivEntry = g_mulDiv;
    const CharTest isCharAlphaEntry = g_isCharAlpha;
    const Atoi atoiEntry = g_atoi;
    void* targets[] = {SkipJumpStubs(reinterpret_cast<void*>(g_lstrlenA)),
                       SkipJumpStubs(reinterpret_cast<void*>(g_mulDiv)),
                       SkipJumpStubs(reinterpret_cast<void*>(g_isCharAlpha)),
                       SkipJumpStubs(reinterpret_cast<void*>(g_atoi))};
    std::vector<Bytes> before;
    for (void* t : targets) {
        before.push_back(testhost::ReadBytes(reinterpret_cast<std::uintptr_t>(t), 24));
    }

    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(AttachHook(&g_lstrlenA, &LstrlenHandler), 0u);
    ASSERT_EQ(AttachHook(&g_mulDiv, &MulDivHandler), 0u);
    ASSERT_EQ(AttachHook(&g_isCharAlpha, &IsCharAlphaHandler), 0u);
    ASSERT_EQ(AttachHook(&g_atoi, &AtoiHandler), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);

    EXPECT_EQ(lstrlenEntry("abcd"), 104);
    EXPECT_EQ(g_lstrlenA("abcd"), 4);
    EXPECT_EQ(mulDivEntry(6, 7, 2), 121);
    EXPECT_EQ(g_mulDiv(6, 7, 2), 21);
    EXPECT_TRUE(isCharAlphaEntry('1'));
    EXPECT_FALSE(g_isCharAlpha('1'));
    EXPECT_TRUE(g_isCharAlpha('q'));
    EXPECT_EQ(atoiEntry("23"), 123);
    EXPECT_EQ(g_atoi("23"), 23);

    ASSERT_EQ(BeginHookTransaction(), 0u);
    ASSERT_EQ(DetachHook(&g_lstrlenA, &LstrlenHandler), 0u);
    ASSERT_EQ(DetachHook(&g_mulDiv, &MulDivHandler), 0u);
    ASSERT_EQ(DetachHook(&g_isCharAlpha, &IsCharAlphaHandler), 0u);
    ASSERT_EQ(DetachHook(&g_atoi, &AtoiHandler), 0u);
    ASSERT_EQ(CommitHookTransaction(), 0u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(testhost::ReadBytes(reinterpret_cast<std::uintptr_t>(targets[i]), 24), before[i])
            << "target " << i;
    }
    EXPECT_EQ(lstrlenEntry("abcd"), 4);
    EXPECT_EQ(atoiEntry("23"), 23);
}

// Targets across the address space: planted in memory reserved at spread-out addresses.
TEST(Regions, WithinReachAndNeverInTheForbiddenWindow) {
    const std::uintptr_t wanted[] = {0x00620000, 0x10000000, 0x30000000,
                                     0x48000000, 0x70000000, 0x7FF00000};
    for (std::uintptr_t at : wanted) {
        void* memory = VirtualAlloc(reinterpret_cast<void*>(at), 0x1000, MEM_COMMIT | MEM_RESERVE,
                                    PAGE_EXECUTE_READWRITE);
        if (memory == nullptr) {
            continue; // taken in this process; the others still spread the targets
        }
        std::memcpy(memory, kFrame.data(), kFrame.size());
        void* variable = memory;
        ASSERT_EQ(BeginHookTransaction(), 0u);
        ASSERT_EQ(AttachHook(&variable, HandlerAddress()), 0u) << std::hex << at;
        ASSERT_EQ(CommitHookTransaction(), 0u);
        const auto target = reinterpret_cast<std::uintptr_t>(memory);
        const auto cell = reinterpret_cast<std::uintptr_t>(variable);
        const std::uintptr_t distance = cell > target ? cell - target : target - cell;
        EXPECT_LE(distance, kReach) << std::hex << target << " -> " << cell;
        const std::uintptr_t region = cell & ~std::uintptr_t{0xFFFF};
        EXPECT_TRUE(region < kForbiddenLow || region > kForbiddenHigh)
            << std::hex << target << " -> " << cell;
    }
}

} // namespace
