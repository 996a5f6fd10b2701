// Finding module images by walking the address space: this also sees images that a launcher
// mapped without the loader, which the loader's own module list would miss.
#include <windows.h>

#include "ravelstone/detour/launch_headers.h"
#include "ravelstone/detour/memory_probe.h"

namespace ravelstone::detour {
namespace {

bool IsModuleBase(const MEMORY_BASIC_INFORMATION& block) {
    if (block.State != MEM_COMMIT || block.Protect == PAGE_NOACCESS ||
        (block.Protect & PAGE_GUARD) != 0) {
        return false;
    }
    const auto base = reinterpret_cast<std::uintptr_t>(block.BaseAddress);
    IMAGE_DOS_HEADER dos;
    if (!SafeRead(base, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        return false;
    }
    const auto ntOffset = static_cast<std::uint32_t>(dos.e_lfanew);
    if (ntOffset < sizeof(IMAGE_DOS_HEADER) || ntOffset > block.RegionSize) {
        return false;
    }
    std::uint32_t signature = 0;
    return SafeRead(base + ntOffset, &signature, sizeof signature) &&
           signature == IMAGE_NT_SIGNATURE;
}

} // namespace

bool FindNextModule(std::uintptr_t from, std::uintptr_t& base) {
    std::uintptr_t at = from;
    MEMORY_BASIC_INFORMATION block;
    while (VirtualQuery(reinterpret_cast<void*>(at), &block, sizeof block) != 0) {
        if (IsModuleBase(block)) {
            base = reinterpret_cast<std::uintptr_t>(block.BaseAddress);
            return true;
        }
        const std::uintptr_t next =
            reinterpret_cast<std::uintptr_t>(block.BaseAddress) + block.RegionSize;
        if (next <= at) {
            return false; // the top of the address space
        }
        at = next;
    }
    return false;
}

} // namespace ravelstone::detour
