// The game's address range, owned by the test program at the real addresses of runtime
// 1.9.32.0: tests plant the bytes, data and functions that the plug-ins expect there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include <windows.h>

namespace testhost {

inline constexpr std::uintptr_t kGameBegin = 0x00401000;
inline constexpr std::uintptr_t kGameEnd = 0x01C00000;

// Fails the test (and returns false) when [address, address + size) leaves the game's range.
bool CheckInGameRange(std::uintptr_t address, std::size_t size);

// Copies bytes to a game address, whatever the page's protection is (restored afterwards).
void Plant(std::uintptr_t address, const void* bytes, std::size_t size);
void Plant(std::uintptr_t address, std::initializer_list<std::uint8_t> bytes);
std::vector<std::uint8_t> ReadBytes(std::uintptr_t address, std::size_t size);

template <class T> void Poke(std::uintptr_t address, const T& value) {
    Plant(address, &value, sizeof value);
}
template <class T> T Peek(std::uintptr_t address) {
    T value;
    std::memcpy(&value, reinterpret_cast<const void*>(address), sizeof value);
    return value;
}

// Plants a host function at address that forwards to implementation with every register and
// stack slot untouched, so the implementation may have any calling convention (declare it
// with HOST_THISCALL, HOST_STDCALL, ... from host/calling.h). The 9 planted bytes are a real
// frame prologue (push ebp; mov ebp, esp; pop ebp) and a relative jump, as hooking code
// expects to find at the start of a compiled function.
inline constexpr std::size_t kPlantedFunctionSize = 9;
void PlantFunction(std::uintptr_t address, const void* implementation);

template <class F> void PlantFunction(std::uintptr_t address, F* implementation) {
    PlantFunction(address, reinterpret_cast<const void*>(implementation));
}

// Page protection as the game's code would have it (PAGE_EXECUTE_READ), and as it is now.
void SetProtection(std::uintptr_t address, std::size_t size, DWORD protection);
DWORD ProtectionAt(std::uintptr_t address);

} // namespace testhost
