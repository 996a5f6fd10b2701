#include "ravelstone/detour/trampoline.h"

#include <cstring>

#include <windows.h>

namespace ravelstone::detour {
namespace {

struct RegionHeader {
    std::uint32_t signature;
    RegionHeader* next;
    Trampoline* firstFree;
};

RegionHeader* g_regions = nullptr;
RegionHeader* g_current = nullptr;

constexpr std::uintptr_t kAllocationGranularity = 0x10000;
constexpr std::uintptr_t kPreferredDistance = 0x40000000;

std::uintptr_t RoundDown(std::uintptr_t a) {
    return a & ~(kAllocationGranularity - 1);
}
std::uintptr_t RoundUp(std::uintptr_t a) {
    return RoundDown(a + kAllocationGranularity - 1);
}

bool InRegion(const RegionHeader* region, std::uintptr_t address) {
    const auto base = reinterpret_cast<std::uintptr_t>(region);
    return address >= base && address - base < kRegionSize;
}

Trampoline* Cell(RegionHeader* region, std::uint32_t index) {
    return reinterpret_cast<Trampoline*>(reinterpret_cast<std::uint8_t*>(region) +
                                         index * sizeof(Trampoline));
}

bool InWindow(const void* cell, std::uintptr_t lo, std::uintptr_t hi) {
    const auto a = reinterpret_cast<std::uintptr_t>(cell);
    return cell != nullptr && a >= lo && a <= hi;
}

// Outcome of looking at one candidate address.
enum class Probe { Allocated, Occupied, Failed };

Probe ProbeAt(std::uintptr_t a, void** region, MEMORY_BASIC_INFORMATION& info) {
    if (VirtualQuery(reinterpret_cast<void*>(a), &info, sizeof info) == 0) {
        return Probe::Failed;
    }
    if (info.State == MEM_FREE && info.RegionSize >= kRegionSize) {
        *region = VirtualAlloc(reinterpret_cast<void*>(a), kRegionSize, MEM_COMMIT | MEM_RESERVE,
                               PAGE_EXECUTE_READWRITE);
        return *region != nullptr ? Probe::Allocated : Probe::Occupied;
    }
    return Probe::Occupied;
}

void* SearchDownward(std::uintptr_t start, std::uintptr_t limit) {
    if (start < kAllocationGranularity) {
        return nullptr;
    }
    std::uintptr_t a = RoundDown(start - kAllocationGranularity);
    for (;;) {
        if (a <= limit) {
            return nullptr;
        }
        if (a >= kForbiddenLow && a <= kForbiddenHigh) {
            a = kForbiddenLow - kAllocationGranularity;
            continue;
        }
        void* region = nullptr;
        MEMORY_BASIC_INFORMATION info;
        switch (ProbeAt(a, &region, info)) {
        case Probe::Allocated:
            return region;
        case Probe::Failed:
            return nullptr;
        case Probe::Occupied:
            break;
        }
        const std::uintptr_t next =
            info.State == MEM_FREE ? a : reinterpret_cast<std::uintptr_t>(info.AllocationBase);
        if (next < kAllocationGranularity) {
            return nullptr;
        }
        a = RoundDown(next - kAllocationGranularity);
    }
}

void* SearchUpward(std::uintptr_t start, std::uintptr_t limit) {
    std::uintptr_t a = RoundUp(start);
    for (;;) {
        if (a >= limit || a < start) {
            return nullptr;
        }
        if (a >= kForbiddenLow && a <= kForbiddenHigh) {
            a = kForbiddenHigh + kAllocationGranularity;
            continue;
        }
        void* region = nullptr;
        MEMORY_BASIC_INFORMATION info;
        switch (ProbeAt(a, &region, info)) {
        case Probe::Allocated:
            return region;
        case Probe::Failed:
            return nullptr;
        case Probe::Occupied:
            break;
        }
        const std::uintptr_t next =
            info.State == MEM_FREE
                ? a + kAllocationGranularity
                : RoundUp(reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize);
        if (next <= a) {
            return nullptr;
        }
        a = next;
    }
}

RegionHeader* CreateRegionNear(std::uintptr_t target, std::uintptr_t lo, std::uintptr_t hi) {
    const std::uintptr_t ta = RoundDown(target);
    void* memory = nullptr;
    if (ta > kPreferredDistance) {
        memory = SearchDownward(ta - kPreferredDistance, lo);
    }
    if (memory == nullptr && ta < kPreferredDistance) {
        memory = SearchUpward(ta + kPreferredDistance, hi);
    }
    if (memory == nullptr && ta > kPreferredDistance) {
        memory = SearchUpward(ta - kPreferredDistance, ta);
    }
    if (memory == nullptr && ta < kPreferredDistance) {
        memory = SearchDownward(ta + kPreferredDistance, ta);
    }
    if (memory == nullptr) {
        memory = SearchDownward(ta, lo);
    }
    if (memory == nullptr) {
        memory = SearchUpward(ta, hi);
    }
    if (memory == nullptr) {
        return nullptr;
    }
    auto* region = static_cast<RegionHeader*>(memory);
    region->signature = kRegionSignature;
    region->next = g_regions;
    region->firstFree = nullptr;
    for (std::uint32_t i = kLastCell; i >= kFirstUsableCell; --i) {
        Trampoline* cell = Cell(region, i);
        cell->resumeAddress =
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(region->firstFree));
        region->firstFree = cell;
    }
    g_regions = region;
    return region;
}

bool IsEmpty(RegionHeader* region) {
    for (std::uint32_t i = 1; i <= kLastCell; ++i) {
        const std::uint32_t word = Cell(region, i)->resumeAddress;
        if (word != 0 && !InRegion(region, word)) {
            return false;
        }
    }
    return true;
}

} // namespace

Trampoline* AllocateTrampoline(std::uintptr_t target) {
    const std::uintptr_t lo = target > kReach ? target - kReach : kAllocationGranularity;
    const std::uintptr_t hi = target < kForbiddenHigh ? target + kReach : 0xFFF80000u;
    RegionHeader* region = nullptr;
    if (g_current != nullptr && InWindow(g_current->firstFree, lo, hi)) {
        region = g_current;
    } else {
        for (RegionHeader* r = g_regions; r != nullptr; r = r->next) {
            if (InWindow(r->firstFree, lo, hi)) {
                region = r;
                break;
            }
        }
        if (region == nullptr) {
            region = CreateRegionNear(target, lo, hi);
            if (region == nullptr) {
                return nullptr;
            }
        }
        g_current = region;
    }
    Trampoline* cell = region->firstFree;
    if (cell == nullptr) {
        return nullptr;
    }
    region->firstFree =
        reinterpret_cast<Trampoline*>(static_cast<std::uintptr_t>(cell->resumeAddress));
    std::memset(cell, 0xCC, sizeof *cell);
    return cell;
}

void FreeTrampoline(Trampoline* trampoline) {
    auto* region =
        reinterpret_cast<RegionHeader*>(RoundDown(reinterpret_cast<std::uintptr_t>(trampoline)));
    std::memset(trampoline, 0, sizeof *trampoline);
    trampoline->resumeAddress =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(region->firstFree));
    region->firstFree = trampoline;
}

bool IsEngineTrampoline(const void* address) {
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    for (RegionHeader* r = g_regions; r != nullptr; r = r->next) {
        if (!InRegion(r, a)) {
            continue;
        }
        const std::uintptr_t offset = a - reinterpret_cast<std::uintptr_t>(r);
        if (offset % sizeof(Trampoline) != 0 || offset / sizeof(Trampoline) < kFirstUsableCell) {
            return false;
        }
        const std::uint32_t word = static_cast<const Trampoline*>(address)->resumeAddress;
        return word != 0 && !InRegion(r, word);
    }
    return false;
}

void ReleaseEmptyRegions() {
    RegionHeader** link = &g_regions;
    while (*link != nullptr) {
        RegionHeader* region = *link;
        if (region->signature == kRegionSignature && IsEmpty(region)) {
            *link = region->next;
            VirtualFree(region, 0, MEM_RELEASE);
        } else {
            link = &region->next;
        }
    }
    g_current = nullptr;
}

void SetRegionsWritable(bool writable) {
    for (RegionHeader* r = g_regions; r != nullptr; r = r->next) {
        DWORD old;
        VirtualProtect(r, kRegionSize, writable ? PAGE_EXECUTE_READWRITE : PAGE_EXECUTE_READ, &old);
        if (!writable) {
            FlushInstructionCache(GetCurrentProcess(), r, kRegionSize);
        }
    }
}

} // namespace ravelstone::detour
