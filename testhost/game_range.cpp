#include "testhost/game_range.h"

#include <gtest/gtest.h>

#include "host/relative_jump.h"

extern "C" char testhost_game_range_start[];

namespace testhost {

namespace {

// The linker script must have put the range at its real address; a program linked without it
// would plant into memory it does not own.
const bool kRangeAtRealAddress = [] {
    if (reinterpret_cast<std::uintptr_t>(testhost_game_range_start) != kGameBegin) {
        std::fprintf(stderr, "testhost: game range at %p, not at 0x%08X\n",
                     static_cast<void*>(testhost_game_range_start),
                     static_cast<unsigned>(kGameBegin));
        std::abort();
    }
    return true;
}();

} // namespace

bool CheckInGameRange(std::uintptr_t address, std::size_t size) {
    const bool inside = address >= kGameBegin && address < kGameEnd && size <= kGameEnd - address;
    EXPECT_TRUE(inside) << std::hex << "0x" << address << "+" << size << " leaves the game range";
    return inside;
}

void Plant(std::uintptr_t address, const void* bytes, std::size_t size) {
    if (!CheckInGameRange(address, size)) {
        return;
    }
    DWORD old = 0;
    auto* target = reinterpret_cast<void*>(address);
    if (!VirtualProtect(target, size, PAGE_EXECUTE_READWRITE, &old)) {
        ADD_FAILURE() << "VirtualProtect failed: " << GetLastError();
        return;
    }
    std::memcpy(target, bytes, size);
    VirtualProtect(target, size, old, &old);
}

void Plant(std::uintptr_t address, std::initializer_list<std::uint8_t> bytes) {
    Plant(address, bytes.begin(), bytes.size());
}

std::vector<std::uint8_t> ReadBytes(std::uintptr_t address, std::size_t size) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(address);
    return std::vector<std::uint8_t>(p, p + size);
}

void PlantFunction(std::uintptr_t address, const void* implementation) {
    const auto jump = host::EncodeRelativeJump(static_cast<std::uint32_t>(address + 4),
                                               reinterpret_cast<std::uintptr_t>(implementation));
    const std::uint8_t code[kPlantedFunctionSize] = {0x55,          // push ebp
                                                     0x8B,    0xEC, // mov ebp, esp
                                                     0x5D,          // pop ebp
                                                     jump[0], jump[1], jump[2], jump[3], jump[4]};
    Plant(address, code, sizeof code);
}

void SetProtection(std::uintptr_t address, std::size_t size, DWORD protection) {
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(reinterpret_cast<void*>(address), size, protection, &old))
        << "VirtualProtect: " << GetLastError();
}

DWORD ProtectionAt(std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) != sizeof info) {
        return 0;
    }
    return info.Protect;
}

} // namespace testhost
