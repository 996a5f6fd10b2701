#include "ravelstone/detour/memory_probe.h"

#include <cstring>

#include <windows.h>

namespace ravelstone::detour {
namespace {

bool Readable(const MEMORY_BASIC_INFORMATION& info) {
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) {
        return false;
    }
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return (info.Protect & kReadable) != 0;
}

} // namespace

// GCC targeting mingw has no structured exception handling, so readability is established
// from the page states before the copy; the engine runs on one thread while it reads.
bool SafeRead(std::uintptr_t address, void* out, std::size_t size) {
    if (size == 0) {
        return true;
    }
    if (address + size < address) {
        return false;
    }
    std::uintptr_t at = address;
    const std::uintptr_t end = address + size;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == 0 || !Readable(info)) {
            return false;
        }
        at = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return true;
}

} // namespace ravelstone::detour
