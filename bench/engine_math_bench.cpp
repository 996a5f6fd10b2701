// The engine's vector routines per call, both variants, beside a plain scalar version of the
// same arithmetic. Inputs cycle through a small table of ordinary values so the caches hold
// them and the branch of the box test is not always the same.
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/engine_math_scalar.h"
#include "ravelstone/engine/matrix_math.h"
#include "ravelstone/engine/plane_test.h"

namespace {

constexpr std::size_t kInputs = 256;

struct Inputs {
    std::vector<float> a, b;
    std::vector<float> result;
    Inputs() : a(kInputs * 13), b(kInputs * 13), result(kInputs * 13) {
        std::mt19937 engine(1);
        std::uniform_real_distribution<float> any(-2.0f, 2.0f);
        for (float& f : a) {
            f = any(engine);
        }
        for (float& f : b) {
            f = any(engine);
        }
    }
};

struct BoxInputs {
    struct Box {
        float unread[4], centre[4], extents[4];
    };
    struct Planes {
        float planes[6][4];
        std::uint32_t mask;
    };
    std::vector<Box> boxes;
    std::vector<Planes> planes;
    BoxInputs() : boxes(kInputs), planes(kInputs) {
        std::mt19937 engine(2);
        std::uniform_real_distribution<float> any(-1.0f, 1.0f);
        for (auto& box : boxes) {
            box = {{0, 0, 0, 0}, {any(engine), any(engine), any(engine), 0}, {0.1f, 0.1f, 0.1f, 0}};
        }
        for (auto& set : planes) {
            for (auto& p : set.planes) {
                p[0] = any(engine);
                p[1] = any(engine);
                p[2] = any(engine);
                p[3] = -2.5f + 0.3f * any(engine); // mostly inside: most calls test all six
            }
            set.mask = 0x3F;
        }
    }
};

template <void (*Routine)(const float*, float*, const float*)>
void VectorRoutine(benchmark::State& state) {
    Inputs in;
    std::size_t i = 0;
    for (auto _ : state) {
        Routine(&in.a[i * 13], &in.result[i * 13], &in.b[i * 13]);
        benchmark::ClobberMemory();
        i = (i + 1) % kInputs;
    }
}

template <bool (*Routine)(const void*, const void*)> void BoxRoutine(benchmark::State& state) {
    BoxInputs in;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Routine(&in.boxes[i], &in.planes[i]));
        i = (i + 1) % kInputs;
    }
}

// Out-of-line copies, so every version pays one call as the game's callers do.
__attribute__((noinline)) void MatrixPlain(const float* a, float* r, const float* b) {
    ravelstone::MatrixProductPlain(a, r, b);
}
__attribute__((noinline, target("ssse3"))) void MatrixSsse3(const float* a, float* r,
                                                            const float* b) {
    ravelstone::MatrixProductSsse3(a, r, b);
}
__attribute__((noinline)) void ComposePlain(const float* t, float* r, const float* u) {
    ravelstone::TransformComposePlain(t, r, u);
}
__attribute__((noinline, target("ssse3"))) void ComposeSsse3(const float* t, float* r,
                                                             const float* u) {
    ravelstone::TransformComposeSsse3(t, r, u);
}
__attribute__((noinline, target("sse3"))) bool BoxSse3(const void* box, const void* planes) {
    return ravelstone::BoxInsidePlanesSse3(box, planes);
}
__attribute__((noinline, target("sse4.1"))) bool BoxSse41(const void* box, const void* planes) {
    return ravelstone::BoxInsidePlanesSse41(box, planes);
}

BENCHMARK(VectorRoutine<bench::ScalarMatrixProduct>)->Name("MatrixProduct/scalar");
BENCHMARK(VectorRoutine<MatrixPlain>)->Name("MatrixProduct/plain");
BENCHMARK(VectorRoutine<MatrixSsse3>)->Name("MatrixProduct/ssse3");
BENCHMARK(VectorRoutine<bench::ScalarTransformCompose>)->Name("TransformCompose/scalar");
BENCHMARK(VectorRoutine<ComposePlain>)->Name("TransformCompose/plain");
BENCHMARK(VectorRoutine<ComposeSsse3>)->Name("TransformCompose/ssse3");
BENCHMARK(BoxRoutine<bench::ScalarBoxInsidePlanes>)->Name("BoxInsidePlanes/scalar");
BENCHMARK(BoxRoutine<BoxSse3>)->Name("BoxInsidePlanes/sse3");
BENCHMARK(BoxRoutine<BoxSse41>)->Name("BoxInsidePlanes/sse41");

} // namespace

BENCHMARK_MAIN();
