// Trampolines: 72-byte cells of 64 KiB regions of executable memory, each placed within reach
// of a 32-bit displacement from its target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ravelstone::detour {

#pragma pack(push, 1)
struct Trampoline {
    std::uint8_t code[30]; // relocated instructions, the jump back, 0xCC filler
    std::uint8_t codeLength;
    std::uint8_t savedBytes[22]; // the target bytes that the jump overwrites
    std::uint8_t savedLength;
    // One entry per relocated instruction: low 3 bits the target offset just behind it
    // (modulo 8), high 5 bits the trampoline offset just behind its copy.
    std::uint8_t addressMap[8];
    // The target behind the overwritten bytes; in a free cell, the next free cell.
    std::uint32_t resumeAddress;
    std::uint32_t handler;
    std::uint8_t unused[2];
};
#pragma pack(pop)
static_assert(sizeof(Trampoline) == 72);
static_assert(offsetof(Trampoline, codeLength) == 30);
static_assert(offsetof(Trampoline, savedBytes) == 31);
static_assert(offsetof(Trampoline, savedLength) == 53);
static_assert(offsetof(Trampoline, addressMap) == 54);
static_assert(offsetof(Trampoline, resumeAddress) == 62);
static_assert(offsetof(Trampoline, handler) == 66);

inline constexpr std::uint32_t kRegionSize = 0x10000;
inline constexpr std::uint32_t kRegionSignature = 0x52727464;
inline constexpr std::uint32_t kFirstUsableCell = 3;
inline constexpr std::uint32_t kLastCell = kRegionSize / sizeof(Trampoline) - 1; // 909
// Farthest a trampoline may lie from its target, and the window regions are never placed in.
inline constexpr std::uint32_t kReach = 0x7FF80000;
inline constexpr std::uint32_t kForbiddenLow = 0x50000000;
inline constexpr std::uint32_t kForbiddenHigh = 0x80000000;

// A free cell within reach of target, filled with 0xCC; null when none can be placed.
Trampoline* AllocateTrampoline(std::uintptr_t target);
void FreeTrampoline(Trampoline* trampoline);
// True when the address is a used cell of one of the engine's regions.
bool IsEngineTrampoline(const void* address);
// Releases every region without used cells.
void ReleaseEmptyRegions();
// PAGE_EXECUTE_READWRITE while a transaction is open, PAGE_EXECUTE_READ (flushed) otherwise.
void SetRegionsWritable(bool writable);

} // namespace ravelstone::detour
