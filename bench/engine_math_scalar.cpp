// The vector routines' arithmetic written one float at a time, the reference the SIMD variants
// are measured against (compiled at -O2, see CMakeLists.txt).
#include "bench/engine_math_scalar.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace bench {

void ScalarMatrixProduct(const float* a, float* result, const float* b) {
    float out[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i * 3 + j] = (a[i * 3 + 1] * b[3 + j] + a[i * 3] * b[j]) + a[i * 3 + 2] * b[6 + j];
        }
    }
    std::memcpy(result, out, sizeof out);
}

void ScalarTransformCompose(const float* t, float* result, const float* u) {
    float out[13];
    ScalarMatrixProduct(t, out, u);
    for (int k = 0; k < 3; ++k) {
        const float turned = (u[10] * t[k * 3 + 1] + u[9] * t[k * 3]) + u[11] * t[k * 3 + 2];
        out[9 + k] = turned * t[12] + t[9 + k];
    }
    out[12] = u[12] * t[12];
    std::memcpy(result, out, sizeof out);
}

bool ScalarBoxInsidePlanes(const void* box, const void* planeSet) {
    const auto* object = static_cast<const std::uint8_t*>(box);
    const auto* planes = static_cast<const std::uint8_t*>(planeSet);
    float c[3], e[3];
    std::memcpy(c, object + 0x10, sizeof c);
    std::memcpy(e, object + 0x20, sizeof e);
    std::uint32_t mask;
    std::memcpy(&mask, planes + 0x60, sizeof mask);
    for (int i = 0; i < 6; ++i) {
        if ((mask & (1u << i)) == 0) {
            continue;
        }
        float p[4];
        std::memcpy(p, planes + 16 * i, sizeof p);
        const float s = (p[0] * c[0] + p[1] * c[1]) + p[2] * c[2];
        const float r = (std::fabs(p[0]) * e[0] + std::fabs(p[1]) * e[1]) + std::fabs(p[2]) * e[2];
        if (p[3] > s - r) {
            return false;
        }
    }
    return true;
}

} // namespace bench
