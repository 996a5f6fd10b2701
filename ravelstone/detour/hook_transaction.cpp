// Hook transactions: attaches and detaches are checked and prepared one by one, and only the
// commit writes the targets, all together, with the enlisted threads suspended.
#include <atomic>
#include <cstring>
#include <new>

#include <windows.h>

#include "ravelstone/detour/detour.h"
#include "ravelstone/detour/instruction_copier.h"
#include "ravelstone/detour/trampoline.h"

namespace ravelstone::detour {
namespace {

constexpr std::uint8_t kJumpOpcode = 0xE9;
constexpr std::uint8_t kBreakpoint = 0xCC;
constexpr std::uint8_t kNop = 0x90;
constexpr int kJumpLength = 5;
constexpr int kCodeSize = sizeof(Trampoline::code);
// The relocated instructions may take the code bytes that the jump back leaves free.
constexpr int kMaxRelocatedLength = kCodeSize - kJumpLength;
constexpr int kMapEntries = sizeof(Trampoline::addressMap);

struct HookOperation {
    HookOperation* next;
    BOOL isDetach;
    void** pointer;
    std::uint8_t* target;
    Trampoline* trampoline;
    DWORD previousProtection;
};

struct EnlistedThread {
    EnlistedThread* next;
    HANDLE thread;
};

std::atomic<DWORD> g_owner{0};
HookError g_pendingError = 0;
HookOperation* g_operations = nullptr;
EnlistedThread* g_threads = nullptr;

bool OwnedByCaller() {
    return g_owner.load() == GetCurrentThreadId();
}

HookError Record(HookError error) {
    g_pendingError = error;
    return error;
}

std::uint32_t Address(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

void WriteJump(std::uint8_t* at, std::uint32_t destination) {
    at[0] = kJumpOpcode;
    const std::uint32_t displacement = destination - (Address(at) + kJumpLength);
    std::memcpy(at + 1, &displacement, 4);
}

// Instruction boundaries of the saved target bytes (offsets just behind each instruction), as
// the copier measured them when the trampoline was built.
int SavedBoundaries(const Trampoline& t, int (&offsets)[kMapEntries]) {
    std::uint8_t scratch[kMaxCopyLength];
    std::uint8_t saved[sizeof(t.savedBytes) + kMaxInstructionLength] = {};
    std::memcpy(saved, t.savedBytes, sizeof t.savedBytes);
    int count = 0, taken = 0;
    while (count < kMapEntries && t.addressMap[count] != 0) {
        const CopiedInstruction c = CopyInstructionStaged(scratch, 0, saved + taken);
        taken = static_cast<int>(c.nextSource - saved);
        offsets[count++] = taken;
    }
    return count;
}

int TrampolineOffset(const Trampoline& t, int entry) {
    return t.addressMap[entry] >> 3;
}

// Where a thread suspended at target + offset continues in the trampoline.
std::uint32_t IntoTrampoline(const Trampoline& t, std::uint32_t offset) {
    if (offset == 0) {
        return Address(&t);
    }
    int boundaries[kMapEntries];
    const int count = SavedBoundaries(t, boundaries);
    for (int i = 0; i < count; ++i) {
        if (static_cast<std::uint32_t>(boundaries[i]) == offset) {
            return Address(&t) + TrampolineOffset(t, i);
        }
    }
    return Address(&t);
}

// Where a thread suspended at trampoline + offset continues in the target.
std::uint32_t OutOfTrampoline(const Trampoline& t, std::uint8_t* target, std::uint32_t offset) {
    int boundaries[kMapEntries];
    const int count = SavedBoundaries(t, boundaries);
    for (int i = 0; i < count; ++i) {
        if (static_cast<std::uint32_t>(TrampolineOffset(t, i)) == offset) {
            return Address(target) + boundaries[i];
        }
    }
    return Address(target);
}

// Relocates the target's first instructions into the trampoline. ERROR_INVALID_BLOCK for a
// target whose trampoline would not run as the target did.
HookError BuildTrampoline(Trampoline* t, std::uint8_t* target, std::uint32_t handler) {
    std::memset(t->addressMap, 0, sizeof t->addressMap);
    std::uint8_t code[kCodeSize + kMaxCopyLength];
    std::memset(code, kBreakpoint, sizeof code);
    int taken = 0, output = 0, entries = 0;
    while (taken < kJumpLength) {
        if (entries == kMapEntries) {
            return ERROR_INVALID_BLOCK;
        }
        const CopiedInstruction copied =
            CopyInstructionStaged(code + output, Address(t) + output, target + taken);
        if (copied.trouble != CopyTrouble::None) {
            return ERROR_INVALID_BLOCK;
        }
        const int nextTaken = static_cast<int>(copied.nextSource - target);
        const int nextOutput = output + (nextTaken - taken) + copied.extra;
        if (nextOutput > kMaxRelocatedLength) {
            return ERROR_INVALID_BLOCK;
        }
        t->addressMap[entries++] = static_cast<std::uint8_t>((nextTaken & 7) | (nextOutput << 3));
        const bool ends = EndsFunction(target + taken);
        taken = nextTaken;
        output = nextOutput;
        if (ends) {
            break;
        }
    }
    while (taken < kJumpLength && target[taken] == kNop) {
        ++taken;
    }
    if (taken < kJumpLength) {
        return ERROR_INVALID_BLOCK;
    }
    std::memcpy(t->code, code, static_cast<std::size_t>(output));
    t->codeLength = static_cast<std::uint8_t>(output);
    t->savedLength = static_cast<std::uint8_t>(taken);
    std::memcpy(t->savedBytes, target, static_cast<std::size_t>(taken));
    t->resumeAddress = Address(target) + static_cast<std::uint32_t>(taken);
    t->handler = handler;
    WriteJump(t->code + output, t->resumeAddress);
    std::memset(t->code + output + kJumpLength, kBreakpoint,
                static_cast<std::size_t>(kCodeSize - output - kJumpLength));
    return 0;
}

void RestoreProtection(const HookOperation& op) {
    DWORD ignored;
    VirtualProtect(op.target, op.trampoline->savedLength, op.previousProtection, &ignored);
}

void ResumeEnlistedThreads() {
    while (g_threads != nullptr) {
        EnlistedThread* entry = g_threads;
        g_threads = entry->next;
        ResumeThread(entry->thread);
        delete entry;
    }
}

void MoveThreadOutOfChangedCode(HANDLE thread) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) {
        return;
    }
    for (HookOperation* op = g_operations; op != nullptr; op = op->next) {
        const Trampoline& t = *op->trampoline;
        const std::uint32_t ip = context.Eip;
        std::uint32_t moved = ip;
        if (!op->isDetach) {
            const std::uint32_t offset = ip - Address(op->target);
            if (offset < t.savedLength) {
                moved = IntoTrampoline(t, offset);
            }
        } else {
            const std::uint32_t offset = ip - Address(&t);
            if (offset < static_cast<std::uint32_t>(t.codeLength + kJumpLength)) {
                moved = OutOfTrampoline(t, op->target, offset);
            }
        }
        if (moved != ip) {
            context.Eip = moved;
            SetThreadContext(thread, &context);
            return;
        }
    }
}

HookError CheckOperationStart(void** pointer) {
    if (!OwnedByCaller()) {
        return ERROR_INVALID_OPERATION;
    }
    if (g_pendingError != 0) {
        return g_pendingError;
    }
    if (pointer == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (*pointer == nullptr) {
        return Record(ERROR_INVALID_HANDLE);
    }
    return 0;
}

} // namespace

HookError BeginHookTransaction() {
    DWORD expected = 0;
    if (g_owner.load() != 0 || !g_owner.compare_exchange_strong(expected, GetCurrentThreadId())) {
        return ERROR_INVALID_OPERATION;
    }
    g_operations = nullptr;
    g_threads = nullptr;
    g_pendingError = 0;
    SetRegionsWritable(true);
    return 0;
}

HookError EnlistThread(void* thread) {
    if (!OwnedByCaller()) {
        return ERROR_INVALID_OPERATION;
    }
    if (g_pendingError != 0) {
        return g_pendingError;
    }
    if (thread == GetCurrentThread()) {
        return 0;
    }
    auto* entry = new (std::nothrow) EnlistedThread{g_threads, thread};
    if (entry == nullptr) {
        return Record(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
        const HookError error = Record(GetLastError());
        delete entry;
        return error;
    }
    g_threads = entry;
    return 0;
}

HookError AttachHook(void** pointer, void* handler) {
    if (const HookError error = CheckOperationStart(pointer)) {
        return error;
    }
    auto* target = static_cast<std::uint8_t*>(SkipJumpStubs(*pointer));
    handler = SkipJumpStubs(handler);
    if (handler == target) {
        return 0;
    }
    auto* op = new (std::nothrow) HookOperation{};
    if (op == nullptr) {
        return Record(ERROR_NOT_ENOUGH_MEMORY);
    }
    Trampoline* t = AllocateTrampoline(reinterpret_cast<std::uintptr_t>(target));
    HookError error =
        t == nullptr ? ERROR_NOT_ENOUGH_MEMORY : BuildTrampoline(t, target, Address(handler));
    DWORD previous = 0;
    if (error == 0 && !VirtualProtect(target, t->savedLength, PAGE_EXECUTE_READWRITE, &previous)) {
        error = GetLastError();
    }
    if (error != 0) {
        if (t != nullptr) {
            FreeTrampoline(t);
        }
        delete op;
        return Record(error);
    }
    *op = HookOperation{g_operations, FALSE, pointer, target, t, previous};
    g_operations = op;
    return 0;
}

HookError DetachHook(void** pointer, void* handler) {
    if (const HookError error = CheckOperationStart(pointer)) {
        return error;
    }
    auto* op = new (std::nothrow) HookOperation{};
    if (op == nullptr) {
        return Record(ERROR_NOT_ENOUGH_MEMORY);
    }
    auto* t = static_cast<Trampoline*>(SkipJumpStubs(*pointer));
    handler = SkipJumpStubs(handler);
    HookError error = 0;
    // Only a used cell of the engine's regions is read as a trampoline.
    if (!IsEngineTrampoline(t) || t->savedLength == 0 || t->savedLength > kCodeSize ||
        t->handler != Address(handler)) {
        error = ERROR_INVALID_BLOCK;
    }
    std::uint8_t* target = nullptr;
    DWORD previous = 0;
    if (error == 0) {
        target = reinterpret_cast<std::uint8_t*>(
            static_cast<std::uintptr_t>(t->resumeAddress - t->savedLength));
        if (!VirtualProtect(target, t->savedLength, PAGE_EXECUTE_READWRITE, &previous)) {
            error = GetLastError();
        }
    }
    if (error != 0) {
        delete op;
        return Record(error);
    }
    *op = HookOperation{g_operations, TRUE, pointer, target, t, previous};
    g_operations = op;
    return 0;
}

HookError CommitHookTransaction() {
    if (!OwnedByCaller()) {
        return ERROR_INVALID_OPERATION;
    }
    if (g_pendingError != 0) {
        const HookError error = g_pendingError;
        AbortHookTransaction();
        return error;
    }
    for (HookOperation* op = g_operations; op != nullptr; op = op->next) {
        Trampoline* t = op->trampoline;
        if (!op->isDetach) {
            WriteJump(op->target, t->handler);
            std::memset(op->target + kJumpLength, kBreakpoint,
                        static_cast<std::size_t>(t->savedLength - kJumpLength));
            *op->pointer = t;
        } else {
            std::memcpy(op->target, t->savedBytes, t->savedLength);
            *op->pointer = op->target;
        }
    }
    for (EnlistedThread* e = g_threads; e != nullptr; e = e->next) {
        MoveThreadOutOfChangedCode(e->thread);
    }
    bool freed = false;
    while (g_operations != nullptr) {
        HookOperation* op = g_operations;
        g_operations = op->next;
        const std::uint8_t length = op->trampoline->savedLength;
        RestoreProtection(*op);
        FlushInstructionCache(GetCurrentProcess(), op->target, length);
        if (op->isDetach) {
            FreeTrampoline(op->trampoline);
            freed = true;
        }
        delete op;
    }
    if (freed) {
        ReleaseEmptyRegions();
    }
    SetRegionsWritable(false);
    ResumeEnlistedThreads();
    g_owner.store(0);
    return 0;
}

HookError AbortHookTransaction() {
    if (!OwnedByCaller()) {
        return ERROR_INVALID_OPERATION;
    }
    while (g_operations != nullptr) {
        HookOperation* op = g_operations;
        g_operations = op->next;
        RestoreProtection(*op);
        if (!op->isDetach) {
            FreeTrampoline(op->trampoline);
        }
        delete op;
    }
    SetRegionsWritable(false);
    ResumeEnlistedThreads();
    g_owner.store(0);
    return 0;
}

} // namespace ravelstone::detour
