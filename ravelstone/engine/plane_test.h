// Does a box lie on the inner side of up to six planes? Two variants with the same results:
// dot products by the SSE4.1 dot-product instruction, or by multiplications and horizontal
// additions (SSE3).
//
// Box object: centre (x, y, z, unused) at +0x10, half extents (x, y, z, unused) at +0x20.
// Plane set: planes (n.x, n.y, n.z, d) at +0, +16, ... +80; mask of active planes at +0x60.
#pragma once

#include <cstdint>
#include <cstring>

#include <pmmintrin.h>
#include <smmintrin.h>

#include "ravelstone/engine/simd_lanes.h"

namespace ravelstone {

inline constexpr std::size_t kBoxCentreOffset = 0x10;
inline constexpr std::size_t kBoxExtentsOffset = 0x20;
inline constexpr std::size_t kPlaneStride = 16;
inline constexpr std::size_t kPlaneMaskOffset = 0x60;
inline constexpr unsigned kPlaneCount = 6;

namespace lanes {

// Active planes: only bits 0..5 of the mask mean a plane.
RS_LANES std::uint32_t ActivePlanes(const std::uint8_t* planes) {
    std::uint32_t mask;
    std::memcpy(&mask, planes + kPlaneMaskOffset, sizeof mask);
    return mask & ((1u << kPlaneCount) - 1);
}

RS_LANES __m128 AbsoluteValues(__m128 v) {
    return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
}

// The box crosses or lies behind the plane when d > s - r (lane 0); a NaN compares as passing.
RS_LANES bool Crosses(__m128 plane, __m128 sMinusR) {
    return _mm_comigt_ss(Broadcast<3>(plane), sMinusR) != 0;
}

// The dot products (x, y, z lanes only) summed as the dot-product instruction sums them,
// (p.x + p.y) + (p.z + 0): the unused lane's product is replaced by +0 before the additions.
RS_LANES __m128 XyzOnly(__m128 v) {
    return _mm_and_ps(v, _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1)));
}

} // namespace lanes

// s = n . centre, r = |n| . extents; false at the first active plane with d > s - r.
__attribute__((target("sse3"))) inline bool BoxInsidePlanesSse3(const void* box,
                                                                const void* planeSet) {
    using namespace lanes;
    const auto* planes = static_cast<const std::uint8_t*>(planeSet);
    const std::uint32_t active = ActivePlanes(planes);
    if (active == 0) {
        return true;
    }
    const auto* object = static_cast<const std::uint8_t*>(box);
    const __m128 centre = Load(reinterpret_cast<const float*>(object + kBoxCentreOffset));
    const __m128 extents = Load(reinterpret_cast<const float*>(object + kBoxExtentsOffset));
    for (unsigned i = 0; i < kPlaneCount; ++i) {
        if ((active & (1u << i)) == 0) {
            continue;
        }
        const __m128 plane = Load(reinterpret_cast<const float*>(planes + i * kPlaneStride));
        const __m128 pc = XyzOnly(_mm_mul_ps(plane, centre));
        const __m128 pe = XyzOnly(_mm_mul_ps(AbsoluteValues(plane), extents));
        const __m128 pairs = _mm_hadd_ps(pc, pe);      // pc.x+pc.y, pc.z+0, pe.x+pe.y, pe.z+0
        const __m128 sums = _mm_hadd_ps(pairs, pairs); // s, r, s, r
        if (Crosses(plane, _mm_sub_ss(sums, Broadcast<1>(sums)))) {
            return false;
        }
    }
    return true;
}

__attribute__((target("sse4.1"))) inline bool BoxInsidePlanesSse41(const void* box,
                                                                   const void* planeSet) {
    using namespace lanes;
    const auto* planes = static_cast<const std::uint8_t*>(planeSet);
    const std::uint32_t active = ActivePlanes(planes);
    if (active == 0) {
        return true;
    }
    const auto* object = static_cast<const std::uint8_t*>(box);
    const __m128 centre = Load(reinterpret_cast<const float*>(object + kBoxCentreOffset));
    const __m128 extents = Load(reinterpret_cast<const float*>(object + kBoxExtentsOffset));
    for (unsigned i = 0; i < kPlaneCount; ++i) {
        if ((active & (1u << i)) == 0) {
            continue;
        }
        const __m128 plane = Load(reinterpret_cast<const float*>(planes + i * kPlaneStride));
        // Lanes x, y, z multiplied, the sum in lane 0.
        const __m128 s = _mm_dp_ps(plane, centre, 0x71);
        const __m128 r = _mm_dp_ps(AbsoluteValues(plane), extents, 0x71);
        if (Crosses(plane, _mm_sub_ss(s, r))) {
            return false;
        }
    }
    return true;
}

} // namespace ravelstone
