// The variant choices as functions of the processor's feature word.
#include <cpuid.h>

#include <gtest/gtest.h>

#include "ravelstone/core/cpu_features.h"

namespace {

TEST(CpuFeatures, ChoosesVariantsByBits9And19) {
    const struct {
        std::uint32_t features;
        bool ssse3, sse41;
    } cases[] = {
        {0, false, false}, // no leaf 1: every plain variant
        {ravelstone::kCpuSsse3, true, false},
        {ravelstone::kCpuSsse3 | ravelstone::kCpuSse41, true, true},
        {ravelstone::kCpuSse41, false, true},
        {~(ravelstone::kCpuSsse3 | ravelstone::kCpuSse41), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ravelstone::HasSsse3(c.features), c.ssse3) << std::hex << c.features;
        EXPECT_EQ(ravelstone::HasSse41(c.features), c.sse41) << std::hex << c.features;
    }
}

TEST(CpuFeatures, IsLeafOnesEcx) {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid_count(1, 0, eax, ebx, ecx, edx);
    EXPECT_EQ(ravelstone::CpuFeatures(), ecx);
}

} // namespace
