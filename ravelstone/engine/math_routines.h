// Five of the game's math routines replaced by Ravelstone's own: the matrix product, the
// transform composition and the box-against-planes test (each in the variant the processor
// supports), and the packed counter's add and subtract.
#pragma once

#include <cstdint>

namespace ravelstone {

inline constexpr std::uintptr_t HostMatrixMultiply = 0x00447ED0;
inline constexpr std::uintptr_t HostTransformCompose = 0x004EC9C0;
inline constexpr std::uintptr_t HostBoundInsidePlanes = 0x00AFC100;
inline constexpr std::uintptr_t HostCounterIncrement = 0x00406890;
inline constexpr std::uintptr_t HostCounterDecrement = 0x004068C0;

// Queues the five hooks in the caller's open hook transaction, choosing the vector routines'
// variants from the feature word (CpuFeatures()).
void AttachMathRoutines(std::uint32_t cpuFeatures);
// Queues the removal of the three vector routines' hooks, naming the same variants as the
// attach did for the same feature word. The counter hooks stay.
void DetachMathRoutines(std::uint32_t cpuFeatures);

} // namespace ravelstone
