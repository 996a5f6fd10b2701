// The five math routines hooked at the game's addresses in the stand-in host: each variant
// the processor can run, called through the game's address with the game's convention, gives
// the kernel's bits; the detach restores the three vector routines and leaves the counters.
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "host/calling.h"
#include "ravelstone/core/cpu_features.h"
#include "ravelstone/detour/detour.h"
#include "ravelstone/engine/math_routines.h"
#include "ravelstone/engine/matrix_math.h"
#include "ravelstone/engine/plane_test.h"
#include "testhost/game_range.h"
#include "testhost/platform.h"
#include "tests/engine/host_call.h"

namespace {

using namespace ravelstone;
using Bytes = std::vector<std::uint8_t>;

// The stand-in's routines: reaching one means a hook is missing.
int g_gameRoutineCalls = 0;
std::uint32_t HOST_THISCALL GameRoutine(void*, std::uint32_t, std::uint32_t) {
    ++g_gameRoutineCalls;
    return 0;
}

constexpr std::uintptr_t kRoutines[] = {HostMatrixMultiply, HostTransformCompose,
                                        HostBoundInsidePlanes, HostCounterIncrement,
                                        HostCounterDecrement};

void PlantGameRoutines() {
    for (const std::uintptr_t at : kRoutines) {
        testhost::PlantFunction(at, &GameRoutine);
        testhost::SetProtection(at, testhost::kPlantedFunctionSize, PAGE_EXECUTE_READ);
    }
}

std::uint32_t Word(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

std::uint32_t CallHost(std::uintptr_t at, const void* self,
                       std::initializer_list<std::uint32_t> args) {
    const std::vector<std::uint32_t> list(args);
    return engine_test_call_thiscall(at, self, static_cast<std::uint32_t>(list.size()),
                                     list.data());
}

// Feature words for each choice of variants, limited to what this processor can run.
std::vector<std::uint32_t> RunnableFeatureWords() {
    __builtin_cpu_init(); // runs while static data is initialised
    std::vector<std::uint32_t> words = {0};
    if (__builtin_cpu_supports("ssse3")) {
        words.push_back(kCpuSsse3);
        if (__builtin_cpu_supports("sse4.1")) {
            words.push_back(kCpuSsse3 | kCpuSse41);
            words.push_back(kCpuSse41); // SSE4.1 without SSSE3: plain products, dpps box test
        }
    }
    return words;
}

float RandomFloat(std::mt19937& engine) {
    // Any bit pattern at all: NaNs, infinities, denormals and zeros of both signs included.
    const auto bits = static_cast<std::uint32_t>(engine());
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

struct Guarded {
    std::uint8_t bytes[16 + 52 + 16];
    Guarded() { std::memset(bytes, 0xCD, sizeof bytes); }
    float* result() { return reinterpret_cast<float*>(bytes + 16); }
};

// Random inputs per variant through the game's addresses; the kernels themselves are compared
// on a million inputs by the kernel test.
constexpr int kRounds = 100000;

class MathRoutines : public testing::TestWithParam<std::uint32_t> {};

TEST_P(MathRoutines, AnswerAtTheGameAddressesAndTheDetachRestoresTheVectorRoutines) {
    const std::uint32_t features = GetParam();
    PlantGameRoutines();
    std::vector<Bytes> original;
    for (const std::uintptr_t at : kRoutines) {
        original.push_back(testhost::ReadBytes(at, testhost::kPlantedFunctionSize));
    }
    {
        ASSERT_EQ(detour::BeginHookTransaction(), 0u);
        AttachMathRoutines(features);
        ASSERT_EQ(detour::CommitHookTransaction(), 0u);
        for (const std::uintptr_t at : kRoutines) {
            EXPECT_EQ(testhost::Peek<std::uint8_t>(at), 0xE9) << std::hex << at;
        }
        std::mt19937 engine(features + 1);
        for (int round = 0; round < kRounds; ++round) {
            float a[13], b[13];
            for (int i = 0; i < 13; ++i) {
                a[i] = RandomFloat(engine);
                b[i] = RandomFloat(engine);
            }
            Guarded viaGame, kernel;
            ASSERT_EQ(CallHost(HostMatrixMultiply, a, {Word(viaGame.result()), Word(b)}),
                      Word(viaGame.result()));
            ASSERT_EQ(engine_test_popped, 8u);
            MatrixProductPlain(a, kernel.result(), b);
            ASSERT_EQ(std::memcmp(viaGame.bytes, kernel.bytes, sizeof kernel.bytes), 0)
                << "matrix product, round " << round;

            ASSERT_EQ(CallHost(HostTransformCompose, a, {Word(viaGame.result()), Word(b)}),
                      Word(viaGame.result()));
            ASSERT_EQ(engine_test_popped, 8u);
            TransformComposePlain(a, kernel.result(), b);
            ASSERT_EQ(std::memcmp(viaGame.bytes, kernel.bytes, sizeof kernel.bytes), 0)
                << "transform composition, round " << round;

            struct {
                float box[12];
                float planes[24];
                std::uint32_t mask;
            } box;
            for (float& f : box.box) {
                f = RandomFloat(engine);
            }
            for (float& f : box.planes) {
                f = RandomFloat(engine);
            }
            box.mask = static_cast<std::uint32_t>(engine());
            const std::uint32_t inside =
                CallHost(HostBoundInsidePlanes, box.box, {Word(box.planes)});
            ASSERT_EQ(engine_test_popped, 4u);
            ASSERT_EQ(static_cast<std::uint8_t>(inside),
                      BoxInsidePlanesSse3(box.box, box.planes) ? 1u : 0u)
                << "box test, round " << round;
        }
        ASSERT_EQ(detour::BeginHookTransaction(), 0u);
        DetachMathRoutines(features);
        ASSERT_EQ(detour::CommitHookTransaction(), 0u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(testhost::ReadBytes(kRoutines[i], original[i].size()), original[i])
                << std::hex << kRoutines[i];
        }
        // The counters stay hooked.
        EXPECT_EQ(testhost::Peek<std::uint8_t>(HostCounterIncrement), 0xE9);
        EXPECT_EQ(testhost::Peek<std::uint8_t>(HostCounterDecrement), 0xE9);
    }
    EXPECT_EQ(g_gameRoutineCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(Variants, MathRoutines, testing::ValuesIn(RunnableFeatureWords()),
                         [](const testing::TestParamInfo<std::uint32_t>& info) {
                             return "Features" + std::to_string(info.param);
                         });

// A game object whose packed counter sits at offset 8.
struct CounterObject {
    std::uint32_t unknown[2];
    std::uint32_t field;
};

void AttachPlainRoutines() {
    PlantGameRoutines();
    ASSERT_EQ(detour::BeginHookTransaction(), 0u);
    AttachMathRoutines(0);
    ASSERT_EQ(detour::CommitHookTransaction(), 0u);
}

TEST(CounterRoutines, StepTheUpperBitsCarryTheLowOnesAndReturnTheNewCount) {
    AttachPlainRoutines();
    const struct {
        std::uint32_t before;
        std::uintptr_t routine;
        std::uint32_t after, returned;
    } cases[] = {
        {0x00000ABC, HostCounterIncrement, 0x00001ABC, 0x00001000},
        {0xFFFFFABC, HostCounterIncrement, 0x00000ABC, 0x00000000},
        {0x00000ABC, HostCounterDecrement, 0xFFFFFABC, 0xFFFFF000},
        {0x7654321F, HostCounterDecrement, 0x7654221F, 0x76542000},
    };
    for (const auto& c : cases) {
        CounterObject object{{0x11111111, 0x22222222}, c.before};
        EXPECT_EQ(CallHost(c.routine, &object, {}), c.returned) << std::hex << c.before;
        EXPECT_EQ(engine_test_popped, 0u);
        EXPECT_EQ(object.field, c.after) << std::hex << c.before;
        EXPECT_EQ(object.unknown[0], 0x11111111u);
        EXPECT_EQ(object.unknown[1], 0x22222222u);
    }
    EXPECT_EQ(g_gameRoutineCalls, 0);
}

TEST(CounterRoutines, FourThreadsOnOneFieldLoseNoUpdate) {
    SKIP_WHERE_THREADS_ARE_UNAVAILABLE();
    AttachPlainRoutines();
    constexpr int kSteps = 100000;
    CounterObject object{{0, 0}, 0x00000FFF};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&object, t] {
            using Step = std::uint32_t(HOST_THISCALL*)(CounterObject*);
            const auto step =
                reinterpret_cast<Step>(t == 0 ? HostCounterDecrement : HostCounterIncrement);
            for (int i = 0; i < kSteps; ++i) {
                step(&object);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(object.field, 0x00000FFFu + 2u * kSteps * 0x1000u) << std::hex << object.field;
}

TEST(BoundInsidePlanesRoutine, TouchingPassesAndNoActivePlaneIsRead) {
    AttachPlainRoutines();
    struct {
        float unread[4], centre[4], extents[4];
    } box = {{0, 0, 0, 0}, {1, 2, 3, 0}, {1, 1, 1, 0}};
    struct {
        float planes[6][4];
        std::uint32_t mask;
    } set{};
    set.planes[2][2] = -1;
    set.planes[2][3] = -4; // touches the box's lowest point along (0, 0, -1)
    set.mask = 1u << 2;
    EXPECT_EQ(CallHost(HostBoundInsidePlanes, &box, {Word(&set)}) & 0xFF, 1u);
    set.planes[2][3] = -3.999999f;
    EXPECT_EQ(CallHost(HostBoundInsidePlanes, &box, {Word(&set)}) & 0xFF, 0u);
    // The plane set ends at a page that cannot be read: only the mask is.
    auto* pages = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, 0x2000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages, 0x1000, PAGE_NOACCESS, &old));
    for (const std::uint32_t mask : {0u, 0xFFFFFFC0u}) {
        std::memcpy(pages + 0x1000, &mask, 4);
        EXPECT_EQ(CallHost(HostBoundInsidePlanes, &box, {Word(pages + 0x1000 - 0x60)}) & 0xFF, 1u)
            << std::hex << mask;
        EXPECT_EQ(engine_test_popped, 4u);
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

} // namespace
