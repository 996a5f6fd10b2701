// The detour engine: functions replaced in place by a jump to a handler, the replaced code kept
// callable through a trampoline; changes grouped in transactions that install all or nothing.
#pragma once

#include <cstdint>

namespace ravelstone::detour {

// Windows error codes; 0 is success.
using HookError = std::uint32_t;

// One open transaction per process, owned by the thread that began it.
HookError BeginHookTransaction();
// Suspends the thread until the end of the commit or abort and moves its instruction pointer
// out of the bytes the commit overwrites. The current thread's pseudo-handle enlists nothing.
HookError EnlistThread(void* thread);
// pointer: the variable holding the target's address; it holds the trampoline's after commit.
HookError AttachHook(void** pointer, void* handler);
// pointer: the variable holding the trampoline's address; it holds the target's after commit.
HookError DetachHook(void** pointer, void* handler);
// Installs every queued change, or none when any operation failed (returning that error).
HookError CommitHookTransaction();
HookError AbortHookTransaction();

// Follows import thunks (jmp [iat]) and hot-patch jumps to the code that really runs.
void* SkipJumpStubs(void* code);
// True for an instruction that leaves the function: jumps, returns, int3, jmp [mem].
bool EndsFunction(const void* instruction);

// Typed forms for function-pointer variables.
template <class F> HookError AttachHook(F** pointer, F* handler) {
    return AttachHook(reinterpret_cast<void**>(pointer), reinterpret_cast<void*>(handler));
}
template <class F> HookError DetachHook(F** pointer, F* handler) {
    return DetachHook(reinterpret_cast<void**>(pointer), reinterpret_cast<void*>(handler));
}

// An export of the module (loaded if need be, kept loaded), else a symbol known to the
// debug-help symbol engine; null when neither has it.
void* LookupFunction(const char* module, const char* function);
// Writes back the executable's headers saved by a launcher in a ".detour" section of one of
// the process's modules; false with the reason as last-error code when there is none to use.
bool RestoreLaunchHeaders();

} // namespace ravelstone::detour
