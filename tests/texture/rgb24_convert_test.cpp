#include "ravelstone/texture/rgb24_convert.h"

#include <gtest/gtest.h>

#include <cpuid.h>

#include <vector>

namespace ravelstone {
namespace {

bool ProcessorHasSsse3() {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSSE3) != 0;
}

TEST(Rgb24Conversion, PlainConverterAddsOpaqueAlpha) {
    const std::uint8_t source[] = {0x10, 0x20, 0x30, 0xFF, 0x00, 0x7F};
    std::uint8_t destination[9];
    std::fill(std::begin(destination), std::end(destination), 0xEE);
    ConvertRgb24ToArgb32(destination, source, 2);
    const std::uint8_t expected[] = {0x10, 0x20, 0x30, 0xFF, 0xFF, 0x00, 0x7F, 0xFF, 0xEE};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), destination));
    ConvertRgb24ToArgb32(destination, source, 0);
    EXPECT_EQ(destination[0], 0x10);
}

// Both converters on every count from 0 to 100, at every source and destination misalignment
// within 16 bytes; each must write exactly 4 x count bytes and nothing around them.
TEST(Rgb24Conversion, BothConvertersGiveIdenticalBytes) {
    if (!ProcessorHasSsse3()) {
        GTEST_SKIP() << "this processor has no SSSE3";
    }
    constexpr std::size_t kMaxCount = 100;
    constexpr std::size_t kGuard = 32;
    std::vector<std::uint8_t> source(3 * kMaxCount + 16);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    for (std::size_t count = 0; count <= kMaxCount; ++count) {
        for (std::size_t sourceShift = 0; sourceShift < 16; sourceShift += 5) {
            for (std::size_t destinationShift = 0; destinationShift < 16; destinationShift += 3) {
                std::vector<std::uint8_t> plain(4 * kMaxCount + 2 * kGuard + 16, 0xEE);
                std::vector<std::uint8_t> ssse3 = plain;
                const std::size_t at = kGuard + destinationShift;
                ConvertRgb24ToArgb32(plain.data() + at, source.data() + sourceShift, count);
                ConvertRgb24ToArgb32Ssse3(ssse3.data() + at, source.data() + sourceShift, count);
                ASSERT_EQ(plain, ssse3) << "count " << count << ", source +" << sourceShift
                                        << ", destination +" << destinationShift;
                for (std::size_t i = 0; i < plain.size(); ++i) {
                    const bool inside = i >= at && i < at + 4 * count;
                    if (!inside) {
                        ASSERT_EQ(plain[i], 0xEE) << "count " << count << ", byte " << i;
                    } else if ((i - at) % 4 == 3) {
                        ASSERT_EQ(plain[i], 0xFF);
                    } else {
                        const std::size_t pixel = (i - at) / 4;
                        ASSERT_EQ(plain[i], source[sourceShift + 3 * pixel + (i - at) % 4]);
                    }
                }
            }
        }
    }
}

TEST(Rgb24Conversion, SsseThreeConverterReadsOnlyItsPixels) {
    if (!ProcessorHasSsse3()) {
        GTEST_SKIP() << "this processor has no SSSE3";
    }
    // Exactly 3 x 17 source bytes, at the end of their own allocation: a read past them is a
    // fault the sanitizer configuration reports.
    std::vector<std::uint8_t> source(51, 0x42);
    std::vector<std::uint8_t> destination(68);
    ConvertRgb24ToArgb32Ssse3(destination.data(), source.data(), 17);
    for (std::size_t i = 0; i < destination.size(); ++i) {
        EXPECT_EQ(destination[i], i % 4 == 3 ? 0xFF : 0x42) << i;
    }
}

TEST(SelectRgb24Converter, ChoosesTheVariantByTheSsseThreeBit) {
    const Rgb24RowConverter before = ConvertRgb24Row;
    EXPECT_EQ(before, &ConvertRgb24ToArgb32) << "before the choice the plain converter is in use";
    SelectRgb24Converter(true);
    EXPECT_EQ(ConvertRgb24Row, &ConvertRgb24ToArgb32Ssse3);
    SelectRgb24Converter(false);
    EXPECT_EQ(ConvertRgb24Row, &ConvertRgb24ToArgb32);
    ConvertRgb24Row = before;
}

} // namespace
} // namespace ravelstone
