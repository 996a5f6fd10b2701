// Following the jumps that stand in front of the code that really runs: import thunks and
// hot-patch jumps.
#include <cstdint>
#include <cstring>

#include <windows.h>

#include "ravelstone/detour/detour.h"
#include "ravelstone/detour/memory_probe.h"

namespace ravelstone::detour {
namespace {

constexpr std::uint16_t kDosSignature = 0x5A4D;
constexpr std::uint32_t kNtSignature = 0x00004550;
constexpr std::uint32_t kNtHeaderOffsetField = 0x3C;
// The optional header's data directories of a 32-bit image start 0x78 bytes into the NT
// headers; the import address table is entry 12.
constexpr std::uint32_t kDataDirectoriesOffset = 0x78;
constexpr std::uint32_t kImportAddressTableEntry = 12;

// True when address lies in the import address table of the module that contains code.
bool InImportAddressTable(const std::uint8_t* code, std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(code, &info, sizeof info) == 0 || info.AllocationBase == nullptr) {
        return false;
    }
    const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
    std::uint16_t dos = 0;
    std::uint32_t ntOffset = 0, nt = 0, directory[2] = {};
    if (!SafeRead(base, &dos, sizeof dos) || dos != kDosSignature ||
        !SafeRead(base + kNtHeaderOffsetField, &ntOffset, sizeof ntOffset) ||
        !SafeRead(base + ntOffset, &nt, sizeof nt) || nt != kNtSignature ||
        !SafeRead(base + ntOffset + kDataDirectoriesOffset + 8 * kImportAddressTableEntry,
                  directory, sizeof directory)) {
        return false;
    }
    const std::uintptr_t begin = base + directory[0];
    return address >= begin && address - begin < directory[1];
}

// FF 25 a with a in the module's import address table: the address stored at a.
bool FollowImportThunk(const std::uint8_t* code, const std::uint8_t** next) {
    std::uint8_t bytes[6];
    if (!SafeRead(reinterpret_cast<std::uintptr_t>(code), bytes, sizeof bytes) ||
        bytes[0] != 0xFF || bytes[1] != 0x25) {
        return false;
    }
    std::uint32_t slot;
    std::memcpy(&slot, bytes + 2, 4);
    std::uint32_t stored;
    if (!InImportAddressTable(code, slot) || !SafeRead(slot, &stored, sizeof stored)) {
        return false;
    }
    *next = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(stored));
    return true;
}

} // namespace

void* SkipJumpStubs(void* address) {
    if (address == nullptr) {
        return nullptr;
    }
    const auto* code = static_cast<const std::uint8_t*>(address);
    const std::uint8_t* followed = nullptr;
    if (FollowImportThunk(code, &followed)) {
        code = followed;
    }
    std::uint8_t bytes[2];
    if (SafeRead(reinterpret_cast<std::uintptr_t>(code), bytes, 2) && bytes[0] == 0xEB) {
        const std::uint8_t* jumpTarget = code + 2 + static_cast<std::int8_t>(bytes[1]);
        if (FollowImportThunk(jumpTarget, &followed)) {
            return const_cast<std::uint8_t*>(followed);
        }
        std::uint8_t nearJump[5];
        if (SafeRead(reinterpret_cast<std::uintptr_t>(jumpTarget), nearJump, 5) &&
            nearJump[0] == 0xE9) {
            std::int32_t d32;
            std::memcpy(&d32, nearJump + 1, 4);
            return const_cast<std::uint8_t*>(jumpTarget + 5 + d32);
        }
        return const_cast<std::uint8_t*>(jumpTarget);
    }
    return const_cast<std::uint8_t*>(code);
}

bool EndsFunction(const void* instruction) {
    const auto* b = static_cast<const std::uint8_t*>(instruction);
    switch (b[0]) {
    case 0xEB:
    case 0xE9:
    case 0xE0:
    case 0xC2:
    case 0xC3:
    case 0xCC:
        return true;
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
        return b[1] == 0xFF && b[2] == 0x25;
    default:
        return b[0] == 0xFF && b[1] == 0x25;
    }
}

} // namespace ravelstone::detour
