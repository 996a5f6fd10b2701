// The processor feature word that chooses between the SIMD variants of several routines.
#pragma once

#include <cstdint>

namespace ravelstone {

inline constexpr std::uint32_t kCpuSsse3 = 1u << 9;
inline constexpr std::uint32_t kCpuSse41 = 1u << 19;

// ECX of CPUID leaf 1 (0 when the processor has no leaf 1), read once while the library
// initialises its static data and never changed afterwards.
std::uint32_t CpuFeatures();

// The choices as functions of a feature word, so every kind of processor can be tested here.
constexpr bool HasSsse3(std::uint32_t features) {
    return (features & kCpuSsse3) != 0;
}
constexpr bool HasSse41(std::uint32_t features) {
    return (features & kCpuSse41) != 0;
}

inline bool HasSsse3() {
    return HasSsse3(CpuFeatures());
}
inline bool HasSse41() {
    return HasSse41(CpuFeatures());
}

} // namespace ravelstone
