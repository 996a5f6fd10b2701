// A counter packed into the upper 20 bits of a 32-bit field, the lower 12 bits being other
// data carried along unchanged. Lock-free: safe against other threads that update the same
// field with atomic read-modify-write.
#pragma once

#include <cstdint>

namespace ravelstone {

inline constexpr std::uint32_t kCounterStep = 0x1000;
inline constexpr std::uint32_t kCounterLowBits = kCounterStep - 1;

// Adds delta (wrapping modulo 2^32) with a compare-and-exchange loop; returns the new value
// with its low 12 bits cleared.
inline std::uint32_t StepPackedCounter(std::uint32_t* field, std::uint32_t delta) {
    std::uint32_t seen = __atomic_load_n(field, __ATOMIC_RELAXED);
    // A failed exchange leaves the value it found in seen: the next round starts from there.
    while (!__atomic_compare_exchange_n(field, &seen, seen + delta, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_RELAXED)) {
    }
    return (seen + delta) & ~kCounterLowBits;
}

inline std::uint32_t CounterAdd(std::uint32_t* field) {
    return StepPackedCounter(field, kCounterStep);
}

inline std::uint32_t CounterSubtract(std::uint32_t* field) {
    return StepPackedCounter(field, 0u - kCounterStep);
}

} // namespace ravelstone
