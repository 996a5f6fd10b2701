#include "ravelstone/engine/math_routines.h"

#include "host/calling.h"
#include "ravelstone/core/cpu_features.h"
#include "ravelstone/detour/detour.h"
#include "ravelstone/engine/matrix_math.h"
#include "ravelstone/engine/packed_counter.h"
#include "ravelstone/engine/plane_test.h"

namespace ravelstone {

namespace {

// The packed counter is the 32-bit field at offset 8 of the game's object.
constexpr std::size_t kCounterFieldOffset = 8;

std::uint32_t* CounterField(void* object) {
    return reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(object) +
                                            kCounterFieldOffset);
}

// Detour pointers: the routines' addresses before commit, their trampolines after. The
// handlers never call the game's code, but the engine needs the variables to attach and detach.
void* g_matrixMultiply = reinterpret_cast<void*>(HostMatrixMultiply);
void* g_transformCompose = reinterpret_cast<void*>(HostTransformCompose);
void* g_boundInsidePlanes = reinterpret_cast<void*>(HostBoundInsidePlanes);
void* g_counterIncrement = reinterpret_cast<void*>(HostCounterIncrement);
void* g_counterDecrement = reinterpret_cast<void*>(HostCounterDecrement);

// The handlers, with the host functions' conventions: thiscall, the callee removing its stack
// arguments.
float* HOST_THISCALL MatrixMultiplyPlainHook(const float* a, float* result, const float* b) {
    MatrixProductPlain(a, result, b);
    return result;
}

__attribute__((target("ssse3"))) float* HOST_THISCALL MatrixMultiplySsse3Hook(const float* a,
                                                                              float* result,
                                                                              const float* b) {
    MatrixProductSsse3(a, result, b);
    return result;
}

float* HOST_THISCALL TransformComposePlainHook(const float* t, float* result, const float* u) {
    TransformComposePlain(t, result, u);
    return result;
}

__attribute__((target("ssse3"))) float* HOST_THISCALL TransformComposeSsse3Hook(const float* t,
                                                                                float* result,
                                                                                const float* u) {
    TransformComposeSsse3(t, result, u);
    return result;
}

__attribute__((target("sse3"))) bool HOST_THISCALL BoundInsidePlanesSse3Hook(const void* box,
                                                                             const void* planes) {
    return BoxInsidePlanesSse3(box, planes);
}

__attribute__((target("sse4.1"))) bool HOST_THISCALL
BoundInsidePlanesSse41Hook(const void* box, const void* planes) {
    return BoxInsidePlanesSse41(box, planes);
}

std::uint32_t HOST_THISCALL CounterIncrementHook(void* object) {
    return CounterAdd(CounterField(object));
}

std::uint32_t HOST_THISCALL CounterDecrementHook(void* object) {
    return CounterSubtract(CounterField(object));
}

struct VectorHandlers {
    void* matrixMultiply;
    void* transformCompose;
    void* boundInsidePlanes;
};

VectorHandlers ChooseVectorHandlers(std::uint32_t cpuFeatures) {
    const bool ssse3 = HasSsse3(cpuFeatures);
    return {ssse3 ? reinterpret_cast<void*>(&MatrixMultiplySsse3Hook)
                  : reinterpret_cast<void*>(&MatrixMultiplyPlainHook),
            ssse3 ? reinterpret_cast<void*>(&TransformComposeSsse3Hook)
                  : reinterpret_cast<void*>(&TransformComposePlainHook),
            HasSse41(cpuFeatures) ? reinterpret_cast<void*>(&BoundInsidePlanesSse41Hook)
                                  : reinterpret_cast<void*>(&BoundInsidePlanesSse3Hook)};
}

} // namespace

void AttachMathRoutines(std::uint32_t cpuFeatures) {
    const VectorHandlers chosen = ChooseVectorHandlers(cpuFeatures);
    detour::AttachHook(&g_matrixMultiply, chosen.matrixMultiply);
    detour::AttachHook(&g_transformCompose, chosen.transformCompose);
    detour::AttachHook(&g_boundInsidePlanes, chosen.boundInsidePlanes);
    detour::AttachHook(&g_counterIncrement, reinterpret_cast<void*>(&CounterIncrementHook));
    detour::AttachHook(&g_counterDecrement, reinterpret_cast<void*>(&CounterDecrementHook));
}

void DetachMathRoutines(std::uint32_t cpuFeatures) {
    const VectorHandlers chosen = ChooseVectorHandlers(cpuFeatures);
    detour::DetachHook(&g_matrixMultiply, chosen.matrixMultiply);
    detour::DetachHook(&g_transformCompose, chosen.transformCompose);
    detour::DetachHook(&g_boundInsidePlanes, chosen.boundInsidePlanes);
}

} // namespace ravelstone
