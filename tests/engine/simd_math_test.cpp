// The SIMD math kernels: both variants of each vector routine give the same bits, the
// arithmetic follows its fixed order, exactly the result's bytes are written, results may
// overwrite inputs, and the packed counter's arithmetic.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ravelstone/engine/matrix_math.h"
#include "ravelstone/engine/packed_counter.h"
#include "ravelstone/engine/plane_test.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using namespace ravelstone;

// Natively a million inputs. Under Wine, which on these machines runs inside an instruction
// emulator, a million takes about a minute of the two shared cores: a quarter of it is checked.
#ifdef _WIN32
constexpr int kRandomRounds = 250000;
#else
constexpr int kRandomRounds = 1000000;
#endif

bool HaveSsse3() {
    return __builtin_cpu_supports("ssse3");
}
bool HaveSse41() {
    return __builtin_cpu_supports("sse4.1");
}

std::uint32_t Bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}
float FromBits(std::uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// Floats of every kind: NaNs (quiet, signalling, with payloads), infinities, denormals, both
// zeros, and ordinary values of every size.
class FloatSource {
public:
    explicit FloatSource(std::uint32_t seed) : engine_(seed) {}
    float Next() {
        static const std::uint32_t specials[] = {0x7FC00000, 0xFFC00000, 0x7F800001, 0x7FC12345,
                                                 0x7F800000, 0xFF800000, 0x00000001, 0x807FFFFF,
                                                 0x00400000, 0x00000000, 0x80000000, 0x3F800000,
                                                 0xBF800000, 0x7F7FFFFF, 0x00800000};
        const std::uint32_t pick = engine_() % 16;
        if (pick < 3) {
            return FromBits(specials[engine_() % std::size(specials)]);
        }
        if (pick < 6) {
            return FromBits(static_cast<std::uint32_t>(engine_())); // any bits at all
        }
        return std::uniform_real_distribution<float>(-100.0f, 100.0f)(engine_);
    }
    void Fill(float* p, int n) {
        for (int i = 0; i < n; ++i) {
            p[i] = Next();
        }
    }

private:
    std::mt19937 engine_;
};

// A result area with guard bytes on both sides.
constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xCD;
struct Guarded {
    std::uint8_t bytes[kGuard + 64 + kGuard];
    Guarded() { std::memset(bytes, kGuardByte, sizeof bytes); }
    float* result() { return reinterpret_cast<float*>(bytes + kGuard); }
    // True when nothing outside [0, written) of the result area changed.
    bool GuardsIntact(std::size_t written) const {
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            if ((i < kGuard || i >= kGuard + written) && bytes[i] != kGuardByte) {
                return false;
            }
        }
        return true;
    }
};

// The arithmetic written out one value at a time, in the fixed order (reference for ordinary
// values; NaN payloads may differ from the vector code's).
void ScalarProduct(const float* a, float* r, const float* b) {
    float out[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i * 3 + j] = (a[i * 3 + 1] * b[3 + j] + a[i * 3] * b[j]) + a[i * 3 + 2] * b[6 + j];
        }
    }
    std::memcpy(r, out, sizeof out);
}

void ScalarCompose(const float* t, float* r, const float* u) {
    float out[13];
    ScalarProduct(t, out, u);
    for (int k = 0; k < 3; ++k) {
        const float turned = (u[10] * t[k * 3 + 1] + u[9] * t[k * 3]) + u[11] * t[k * 3 + 2];
        out[9 + k] = turned * t[12] + t[9 + k];
    }
    out[12] = u[12] * t[12];
    std::memcpy(r, out, sizeof out);
}

bool SameOrBothNaN(const float* x, const float* y, int n) {
    for (int i = 0; i < n; ++i) {
        if (Bits(x[i]) != Bits(y[i]) && !(std::isnan(x[i]) && std::isnan(y[i]))) {
            return false;
        }
    }
    return true;
}

using Routine = void (*)(const float*, float*, const float*);
using Scalar = void (*)(const float*, float*, const float*);

struct VectorRoutine {
    const char* name;
    Routine plain, ssse3;
    Scalar scalar;
    int inputFloats;   // 9 or 13
    std::size_t bytes; // bytes written: 36 or 52
};

const VectorRoutine kVectorRoutines[] = {
    {"matrix product", MatrixProductPlain, MatrixProductSsse3, ScalarProduct, 9, 36},
    {"transform composition", TransformComposePlain, TransformComposeSsse3, ScalarCompose, 13, 52},
};

TEST(VectorRoutines, BothVariantsGiveTheSameBitsAndWriteOnlyTheResult) {
    if (!HaveSsse3()) {
        GTEST_SKIP() << "this processor has no SSSE3";
    }
    for (const auto& routine : kVectorRoutines) {
        FloatSource source(1234);
        for (int round = 0; round < kRandomRounds; ++round) {
            float a[13], b[13];
            source.Fill(a, routine.inputFloats);
            source.Fill(b, routine.inputFloats);
            Guarded plain, ssse3;
            float scalar[13];
            routine.plain(a, plain.result(), b);
            routine.ssse3(a, ssse3.result(), b);
            routine.scalar(a, scalar, b);
            ASSERT_EQ(std::memcmp(plain.bytes, ssse3.bytes, sizeof plain.bytes), 0)
                << routine.name << " round " << round;
            ASSERT_TRUE(plain.GuardsIntact(routine.bytes)) << routine.name << " round " << round;
            ASSERT_TRUE(SameOrBothNaN(plain.result(), scalar, routine.inputFloats))
                << routine.name << " round " << round;
        }
    }
}

TEST(VectorRoutines, ResultMayBeEitherInput) {
    FloatSource source(99);
    for (const auto& routine : kVectorRoutines) {
        for (const Routine variant : {routine.plain, routine.ssse3}) {
            if (variant == routine.ssse3 && !HaveSsse3()) {
                continue;
            }
            for (int round = 0; round < 1000; ++round) {
                float a[13], b[13], expected[13];
                source.Fill(a, routine.inputFloats);
                source.Fill(b, routine.inputFloats);
                variant(a, expected, b);
                float inA[13], inB[13];
                std::memcpy(inA, a, sizeof a);
                std::memcpy(inB, b, sizeof b);
                variant(inA, inA, b);
                variant(a, inB, inB);
                ASSERT_EQ(std::memcmp(inA, expected, routine.bytes), 0) << routine.name;
                ASSERT_EQ(std::memcmp(inB, expected, routine.bytes), 0) << routine.name;
            }
        }
    }
}

constexpr float kIdentityMatrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
constexpr float kIdentityTransform[13] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};

// Finite values without negative zero: 0 x inf and +0 + -0 are where an identity cannot give
// its other operand back bit for bit.
void FillOrdinary(std::mt19937& engine, float* p, int n) {
    std::uniform_real_distribution<float> any(-1e6f, 1e6f);
    for (int i = 0; i < n; ++i) {
        p[i] = any(engine);
        if (p[i] == 0.0f) {
            p[i] = 0.0f;
        }
    }
}

TEST(VectorRoutines, IdentityOnEitherSideGivesTheOtherOperand) {
    std::mt19937 engine(7);
    for (const auto& routine : kVectorRoutines) {
        const float* identity = routine.inputFloats == 9 ? kIdentityMatrix : kIdentityTransform;
        for (const Routine variant : {routine.plain, routine.ssse3}) {
            if (variant == routine.ssse3 && !HaveSsse3()) {
                continue;
            }
            for (int round = 0; round < 1000; ++round) {
                float x[13], out[13];
                FillOrdinary(engine, x, routine.inputFloats);
                variant(identity, out, x);
                ASSERT_EQ(std::memcmp(out, x, routine.bytes), 0) << routine.name << " I * X";
                variant(x, out, identity);
                ASSERT_EQ(std::memcmp(out, x, routine.bytes), 0) << routine.name << " X * I";
            }
        }
    }
}

// Box object and plane set in the game's layouts.
struct Box {
    float unread[4];
    float centre[4];
    float extents[4];
};
struct PlaneSet {
    float planes[6][4];
    std::uint32_t mask;
};
static_assert(offsetof(Box, centre) == kBoxCentreOffset);
static_assert(offsetof(PlaneSet, mask) == kPlaneMaskOffset);

using BoxTest = bool (*)(const void*, const void*);

std::vector<std::pair<const char*, BoxTest>> BoxVariants() {
    std::vector<std::pair<const char*, BoxTest>> variants = {{"sse3", BoxInsidePlanesSse3}};
    if (HaveSse41()) {
        variants.push_back({"sse4.1", BoxInsidePlanesSse41});
    }
    return variants;
}

TEST(BoxInsidePlanes, BoundaryNaNAndTheMaskBits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Box centred at (1, 2, 3) with half extents (1, 1, 1); plane n = (0, 0, -1): the box's
    // lowest value of n . p is -4, so d = -4 touches it.
    const struct {
        const char* what;
        float plane[4];
        std::uint32_t mask;
        bool inside;
    } cases[] = {
        {"touching", {0, 0, -1, -4}, 1, true},
        {"just past touching", {0, 0, -1, std::nextafter(-4.0f, 0.0f)}, 1, false},
        {"well inside", {0, 0, -1, -100}, 1, true},
        {"slanted touching", {1, -1, 0, -3}, 1, true}, // s = -1, r = 2
        {"slanted past", {1, -1, 0, std::nextafter(-3.0f, 0.0f)}, 1, false},
        {"NaN distance passes", {0, 0, -1, nan}, 1, true},
        {"NaN normal passes", {nan, 0, -1, 100}, 1, true},
        {"inactive plane", {0, 0, -1, 100}, 0, true},
        {"only bits 6 and above", {0, 0, -1, 100}, 0xFFFFFFC0u, true},
        {"all six bits", {0, 0, -1, 100}, 0x3F, false},
    };
    for (const auto& [name, variant] : BoxVariants()) {
        for (const auto& c : cases) {
            Box box = {{nan, nan, nan, nan}, {1, 2, 3, nan}, {1, 1, 1, nan}};
            PlaneSet set{};
            for (auto& plane : set.planes) {
                plane[3] = -1e30f; // every other plane passes
            }
            std::memcpy(set.planes[0], c.plane, sizeof c.plane);
            if (c.mask == 0x3F) {
                std::memcpy(set.planes[5], c.plane, sizeof c.plane);
                set.planes[0][3] = -1e30f;
            }
            set.mask = c.mask;
            EXPECT_EQ(variant(&box, &set), c.inside) << name << ": " << c.what;
        }
    }
}

// Four bytes of mask at the start of a page whose preceding page cannot be read: a routine
// that touches any plane of this set faults.
class UnreadablePlanes {
public:
    UnreadablePlanes() {
#ifdef _WIN32
        page_ = 4096;
        base_ = static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        VirtualProtect(base_, page_, PAGE_NOACCESS, &old);
#else
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        base_ = static_cast<std::uint8_t*>(
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_, page_, PROT_NONE);
#endif
    }
    ~UnreadablePlanes() {
#ifdef _WIN32
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, 2 * page_);
#endif
    }
    void* set(std::uint32_t mask) {
        std::memcpy(base_ + page_, &mask, sizeof mask);
        return base_ + page_ - kPlaneMaskOffset;
    }

private:
    std::uint8_t* base_;
    std::size_t page_;
};

TEST(BoxInsidePlanes, NoActivePlaneReadsNoPlane) {
    UnreadablePlanes planes;
    const Box box = {{0, 0, 0, 0}, {1, 2, 3, 0}, {1, 1, 1, 0}};
    for (const auto& [name, variant] : BoxVariants()) {
        for (const std::uint32_t mask : {0u, 0x40u, 0x80000000u, 0xFFFFFFC0u}) {
            EXPECT_TRUE(variant(&box, planes.set(mask))) << name << " mask " << std::hex << mask;
        }
    }
}

TEST(BoxInsidePlanes, BothVariantsAgreeOnRandomBoxesAndPlanes) {
    if (!HaveSse41()) {
        GTEST_SKIP() << "this processor has no SSE4.1";
    }
    FloatSource source(4321);
    std::mt19937 masks(5);
    int inside = 0;
    for (int round = 0; round < kRandomRounds; ++round) {
        Box box;
        PlaneSet set;
        source.Fill(&box.unread[0], 12);
        source.Fill(&set.planes[0][0], 24);
        set.mask = static_cast<std::uint32_t>(masks());
        const bool sse3 = BoxInsidePlanesSse3(&box, &set);
        ASSERT_EQ(BoxInsidePlanesSse41(&box, &set), sse3) << "round " << round;
        inside += sse3;
    }
    // Both outcomes occur, so the agreement means something.
    EXPECT_GT(inside, kRandomRounds / 100);
    EXPECT_LT(inside, kRandomRounds - kRandomRounds / 100);
}

TEST(PackedCounter, StepsTheUpperTwentyBitsAndCarriesTheLowTwelve) {
    const struct {
        std::uint32_t before;
        bool add;
        std::uint32_t after, returned;
    } cases[] = {
        {0x00000ABC, true, 0x00001ABC, 0x00001000},
        {0xFFFFFABC, true, 0x00000ABC, 0x00000000},  // wraps at the top
        {0x00000ABC, false, 0xFFFFFABC, 0xFFFFF000}, // and at the bottom
        {0x12345FFF, true, 0x12346FFF, 0x12346000},
        {0x12345FFF, false, 0x12344FFF, 0x12344000},
        {0x00000000, true, 0x00001000, 0x00001000},
    };
    for (const auto& c : cases) {
        std::uint32_t field = c.before;
        const std::uint32_t returned = c.add ? CounterAdd(&field) : CounterSubtract(&field);
        EXPECT_EQ(field, c.after) << std::hex << c.before << (c.add ? " add" : " subtract");
        EXPECT_EQ(returned, c.returned) << std::hex << c.before << (c.add ? " add" : " subtract");
    }
}

#ifndef _WIN32
// Natively; the Windows build checks this through the game's address in the stand-in host,
// each test in its own process.
TEST(PackedCounter, FourThreadsLoseNoUpdate) {
    constexpr int kSteps = 200000;
    std::uint32_t field = 0x00000123;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        // Three adders and one subtracter: the net is two adders' worth.
        threads.emplace_back([&field, t] {
            for (int i = 0; i < kSteps; ++i) {
                if (t == 3) {
                    CounterSubtract(&field);
                } else {
                    CounterAdd(&field);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(field, 0x00000123u + 2u * kSteps * kCounterStep) << std::hex << field;
}
#endif

} // namespace
