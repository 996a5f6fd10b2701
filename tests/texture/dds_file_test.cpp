#include "ravelstone/texture/dds_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace ravelstone {
namespace {

using namespace d3dfmt;

// A file with a valid magic and header (A8R8G8B8) and payloadBytes bytes of pixel data.
std::vector<std::uint8_t> MakeDdsFile(std::size_t payloadBytes, DdsPixelFormat pf = {}) {
    if (pf.size == 0) {
        pf = {32, kDdpfRgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    }
    DdsHeader h{};
    h.size = 124;
    h.width = 4;
    h.height = 4;
    h.pixelFormat = pf;
    std::vector<std::uint8_t> file(128 + payloadBytes, 0xAB);
    std::memcpy(file.data(), "DDS ", 4);
    std::memcpy(file.data() + 4, &h, sizeof h);
    return file;
}

void SetField(std::vector<std::uint8_t>& file, std::size_t offset, std::uint32_t value) {
    std::memcpy(file.data() + offset, &value, 4);
}

TEST(ParseDdsFile, AcceptsAndRejectsByMagicSizesAndLength) {
    const DdsPixelFormat dx10 = {32, kDdpfFourCC, kDdsDx10FourCC, 0, 0, 0, 0, 0};
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        std::size_t size; // bytes handed to the parser
        HResult expected;
        std::size_t payloadOffset;
    };
    auto withField = [](std::size_t offset, std::uint32_t value) {
        auto f = MakeDdsFile(16);
        SetField(f, offset, value);
        return f;
    };
    std::vector<Case> cases = {
        {"header only", MakeDdsFile(0), 128, kSOk, 128},
        {"with pixels", MakeDdsFile(16), 144, kSOk, 128},
        {"127 bytes", MakeDdsFile(0), 127, kEFail, 0},
        {"empty", MakeDdsFile(0), 0, kEFail, 0},
        {"lower-case magic", withField(0, MakeFourCC('d', 'd', 's', ' ')), 144, kEFail, 0},
        {"header size 123", withField(4, 123), 144, kEFail, 0},
        {"header size 128", withField(4, 128), 144, kEFail, 0},
        {"pixel-format size 0", withField(76, 0), 144, kEFail, 0},
        {"pixel-format size 33", withField(76, 33), 144, kEFail, 0},
        {"DX10, 147 bytes", MakeDdsFile(19, dx10), 147, kEFail, 0},
        {"DX10, 148 bytes", MakeDdsFile(20, dx10), 148, kSOk, 148},
        {"DX10, 200 bytes", MakeDdsFile(72, dx10), 200, kSOk, 148},
        // "DX10" without the FourCC flag is not an extension header.
        {"DX10 unflagged", MakeDdsFile(0, {32, kDdpfRgb, kDdsDx10FourCC, 32, 0, 0, 0, 0}), 128,
         kSOk, 128},
    };
    for (const Case& c : cases) {
        DdsFile parsed{};
        parsed.payloadSize = 0xDEAD;
        const HResult hr = ParseDdsFile(c.file.data(), c.size, &parsed);
        EXPECT_EQ(hr, c.expected) << c.name;
        if (hr == kSOk) {
            EXPECT_EQ(parsed.payload, c.file.data() + c.payloadOffset) << c.name;
            EXPECT_EQ(parsed.payloadSize, c.size - c.payloadOffset) << c.name;
            EXPECT_EQ(parsed.header.width, 4u) << c.name;
        } else {
            EXPECT_EQ(parsed.payloadSize, 0xDEADu) << c.name << ": output touched on failure";
        }
    }
    DdsFile parsed{};
    EXPECT_EQ(ParseDdsFile(nullptr, 1000, &parsed), kEFail);
}

TEST(ParseDdsFile, DoesNotLookAtDimensionsCapsOrDepth) {
    auto file = MakeDdsFile(0);
    SetField(file, 8, kDdsFlagDepth | kDdsFlagPitch);
    SetField(file, 12, 0);          // height
    SetField(file, 16, 0xFFFFFFFF); // width
    SetField(file, 28, 0xFFFFFFFF); // mip-map count
    SetField(file, 112, 0x200);     // caps2: cube map
    DdsFile parsed{};
    ASSERT_EQ(ParseDdsFile(file.data(), file.size(), &parsed), kSOk);
    EXPECT_EQ(parsed.header.width, 0xFFFFFFFFu);
    EXPECT_EQ(parsed.header.mipMapCount, 0xFFFFFFFFu);
    EXPECT_EQ(parsed.header.caps2, 0x200u);
    EXPECT_EQ(parsed.header.flags, kDdsFlagDepth | kDdsFlagPitch);
}

TEST(ParseDdsFile, ReadsAHeaderAtAnOddAddress) {
    const auto file = MakeDdsFile(8);
    std::vector<std::uint8_t> shifted(file.size() + 1);
    std::memcpy(shifted.data() + 1, file.data(), file.size());
    DdsFile parsed{};
    ASSERT_EQ(ParseDdsFile(shifted.data() + 1, file.size(), &parsed), kSOk);
    EXPECT_EQ(DdsFormatFromPixelFormat(parsed.header.pixelFormat), kA8R8G8B8);
    EXPECT_EQ(parsed.payload, shifted.data() + 1 + 128);
}

struct MaskedRow {
    std::uint32_t flag, bits, r, g, b, a;
    D3dFormat format;
};

// Every mask-described row of the format table.
const MaskedRow kMaskedRows[] = {
    {kDdpfRgb, 16, 0xF800, 0x07E0, 0x001F, 0, kR5G6B5},
    {kDdpfRgb, 16, 0x7C00, 0x03E0, 0x001F, 0x8000, kA1R5G5B5},
    {kDdpfRgb, 16, 0x7C00, 0x03E0, 0x001F, 0, kX1R5G5B5},
    {kDdpfRgb, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, kA4R4G4B4},
    {kDdpfRgb, 16, 0x0F00, 0x00F0, 0x000F, 0, kX4R4G4B4},
    {kDdpfRgb, 16, 0x00E0, 0x001C, 0x0003, 0xFF00, kA8R3G3B2},
    {kDdpfRgb, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0, kR8G8B8},
    {kDdpfRgb, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000, kA8R8G8B8},
    {kDdpfRgb, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0, kX8R8G8B8},
    {kDdpfRgb, 32, 0x0000FF, 0x00FF00, 0xFF0000, 0xFF000000, kA8B8G8R8},
    {kDdpfRgb, 32, 0x0000FF, 0x00FF00, 0xFF0000, 0, kX8B8G8R8},
    {kDdpfRgb, 32, 0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000, kA2R10G10B10},
    {kDdpfRgb, 32, 0x000003FF, 0x000FFC00, 0x3FF00000, 0xC0000000, kA2B10G10R10},
    {kDdpfRgb, 32, 0x0000FFFF, 0xFFFF0000, 0, 0, kG16R16},
    {kDdpfRgb, 32, 0xFFFFFFFF, 0, 0, 0, kR32F},
    {kDdpfLuminance, 8, 0x0F, 0, 0, 0xF0, kA4L4},
    {kDdpfLuminance, 8, 0xFF, 0, 0, 0, kL8},
    {kDdpfLuminance, 16, 0xFFFF, 0, 0, 0, kL16},
    {kDdpfLuminance, 16, 0x00FF, 0, 0, 0xFF00, kA8L8},
};

DdsPixelFormat Record(const MaskedRow& row) {
    return {32, row.flag, 0, row.bits, row.r, row.g, row.b, row.a};
}

TEST(DdsFormatFromPixelFormat, EveryMaskedRowMatchesExactly) {
    for (const MaskedRow& row : kMaskedRows) {
        EXPECT_EQ(DdsFormatFromPixelFormat(Record(row)), row.format) << "format " << row.format;
    }
}

TEST(DdsFormatFromPixelFormat, OneFieldWrongMatchesNoRow) {
    // Each near miss changes one field to a value that no row of its group has with the others.
    for (const MaskedRow& row : kMaskedRows) {
        for (int field = 0; field < 5; ++field) {
            DdsPixelFormat pf = Record(row);
            std::uint32_t* target[] = {&pf.rgbBitCount, &pf.redMask, &pf.greenMask, &pf.blueMask,
                                       &pf.alphaMask};
            *target[field] ^= field == 0 ? 0x40u : 0x1u; // bit count 16->80, 24->88, 8->72
            EXPECT_EQ(DdsFormatFromPixelFormat(pf), kUnknown)
                << "format " << row.format << ", field " << field << " = " << std::hex
                << *target[field];
        }
    }
    // The case named in the table's own terms: alpha mask 0xFF instead of 0xFF000000.
    EXPECT_EQ(DdsFormatFromPixelFormat({32, kDdpfRgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF}),
              kUnknown);
}

TEST(DdsFormatFromPixelFormat, FlagsAreTestedInOrderAndTheFirstSetDecides) {
    struct Case {
        const char* name;
        DdsPixelFormat pf;
        D3dFormat expected;
    };
    const std::uint32_t dxt1 = kDxt1;
    const Case cases[] = {
        {"RGB beats FourCC",
         {32, kDdpfRgb | kDdpfFourCC, dxt1, 16, 0xF800, 0x7E0, 0x1F, 0},
         kR5G6B5},
        {"RGB mismatch does not fall back to FourCC",
         {32, kDdpfRgb | kDdpfFourCC, dxt1, 16, 0, 0, 0, 0},
         kUnknown},
        {"RGB beats luminance", {32, kDdpfRgb | kDdpfLuminance, 0, 8, 0xFF, 0, 0, 0}, kUnknown},
        {"luminance beats alpha", {32, kDdpfLuminance | kDdpfAlpha, 0, 8, 0xFF, 0, 0, 0}, kL8},
        {"luminance mismatch does not fall back to alpha",
         {32, kDdpfLuminance | kDdpfAlpha, 0, 8, 0x12, 0, 0, 0},
         kUnknown},
        {"alpha beats FourCC", {32, kDdpfAlpha | kDdpfFourCC, dxt1, 8, 0, 0, 0, 0}, kA8},
        {"alpha, any masks", {32, kDdpfAlpha, 0, 8, 1, 2, 3, 4}, kA8},
        {"alpha, 16 bits", {32, kDdpfAlpha, 0, 16, 0, 0, 0, 0xFFFF}, kUnknown},
        {"alpha pixels flag alone", {32, 0x1, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, kUnknown},
        {"no flags", {32, 0, dxt1, 32, 0xFF0000, 0xFF00, 0xFF, 0}, kUnknown},
        {"RGB, 8 bits", {32, kDdpfRgb, 0, 8, 0xE0, 0x1C, 0x3, 0}, kUnknown},
        {"luminance, 24 bits", {32, kDdpfLuminance, 0, 24, 0xFFFFFF, 0, 0, 0}, kUnknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DdsFormatFromPixelFormat(c.pf), c.expected) << c.name;
    }
}

TEST(DdsFormatFromPixelFormat, FourCCCodesAndNumbers) {
    struct Case {
        std::uint32_t fourCC;
        D3dFormat expected;
    };
    const Case cases[] = {
        {kDxt1, kDxt1},
        {kDxt2, kDxt2},
        {kDxt3, kDxt3},
        {kDxt4, kDxt4},
        {kDxt5, kDxt5},
        {kRgbg, kRgbg},
        {kGrgb, kGrgb},
        {kUyvy, kUyvy},
        {kYuy2, kYuy2},
        {MakeFourCC('D', 'X', '1', '0'), kUnknown},
        {MakeFourCC('D', 'X', 'T', '6'), kUnknown},
        {MakeFourCC('d', 'x', 't', '1'), kUnknown},
        {MakeFourCC('A', 'T', 'I', '2'), kUnknown},
        {36, 36},
        {35, kUnknown},
        {37, kUnknown},
        {109, kUnknown},
        {110, 110},
        {111, 111},
        {112, 112},
        {113, 113},
        {114, 114},
        {115, 115},
        {116, 116},
        {117, 117},
        {118, kUnknown},
        {0, kUnknown},
        {21, kUnknown},
    };
    for (const Case& c : cases) {
        // Bit count and masks are not consulted for FourCC records.
        const DdsPixelFormat pf = {32, kDdpfFourCC, c.fourCC, 99, 1, 2, 3, 4};
        EXPECT_EQ(DdsFormatFromPixelFormat(pf), c.expected) << std::hex << "FourCC " << c.fourCC;
    }
}

TEST(DdsBitsPerPixel, EveryFormatTheTableCanProduce) {
    struct Case {
        D3dFormat format;
        std::uint32_t bits;
    };
    const Case cases[] = {
        {kA32B32G32R32F, 128},
        {kA16B16G16R16, 64},
        {kQ16W16V16U16, 64},
        {kA16B16G16R16F, 64},
        {kG32R32F, 64},
        {kA8R8G8B8, 32},
        {kX8R8G8B8, 32},
        {kA2B10G10R10, 32},
        {kA8B8G8R8, 32},
        {kX8B8G8R8, 32},
        {kG16R16, 32},
        {kA2R10G10B10, 32},
        {kG16R16F, 32},
        {kR32F, 32},
        {kR8G8B8, 24},
        {kR5G6B5, 16},
        {kX1R5G5B5, 16},
        {kA1R5G5B5, 16},
        {kA4R4G4B4, 16},
        {kA8R3G3B2, 16},
        {kX4R4G4B4, 16},
        {kA8L8, 16},
        {kL16, 16},
        {kR16F, 16},
        {kCxV8U8, 16},
        {kYuy2, 16},
        {kUyvy, 16},
        {kRgbg, 16},
        {kGrgb, 16},
        {kA8, 8},
        {kL8, 8},
        {kA4L4, 8},
        {kDxt1, 4},
        {kDxt3, 8},
        {kDxt5, 8},
        {kUnknown, 0},
        {999, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DdsBitsPerPixel(c.format), c.bits) << "format " << c.format;
    }
    // Every row of the masked table has a size.
    for (const MaskedRow& row : kMaskedRows) {
        EXPECT_NE(DdsBitsPerPixel(row.format), 0u) << "format " << row.format;
    }
}

TEST(DdsLevelLayout, BlocksAndPixelRows) {
    struct Case {
        D3dFormat format;
        std::uint32_t width, height;
        std::uint64_t rowBytes, rows;
    };
    const Case cases[] = {
        {kDxt1, 4, 4, 8, 1},
        {kDxt1, 2, 2, 8, 1},
        {kDxt1, 1, 1, 8, 1},
        {kDxt1, 6, 6, 16, 2},
        {kDxt1, 4096, 4096, 8192, 1024},
        {kDxt5, 8, 4, 32, 1},
        {kDxt3, 8, 4, 32, 1},
        {kDxt2, 5, 9, 32, 3},
        {kDxt4, 1, 1, 16, 1},
        {kR8G8B8, 3, 7, 9, 7},
        {kA4L4, 3, 2, 3, 2},
        {kA32B32G32R32F, 1, 1, 16, 1},
        {kR5G6B5, 5, 1, 10, 1},
        {kA8R8G8B8, 640, 480, 2560, 480},
    };
    for (const Case& c : cases) {
        const DdsLayout layout = DdsLevelLayout(c.format, c.width, c.height);
        EXPECT_EQ(layout.rowBytes, c.rowBytes) << c.format << " " << c.width << "x" << c.height;
        EXPECT_EQ(layout.rows, c.rows) << c.format << " " << c.width << "x" << c.height;
        EXPECT_EQ(layout.Size(), c.rowBytes * c.rows);
    }
}

TEST(DdsLevelLayout, HugeDimensionsDoNotWrap) {
    // In 32-bit arithmetic these rows would wrap to a few bytes and let a tiny payload pass as
    // a level of a huge texture.
    const std::uint32_t max = 0xFFFFFFFF;
    EXPECT_EQ(DdsLevelLayout(kA32B32G32R32F, max, 1).rowBytes, std::uint64_t{max} * 16);
    EXPECT_EQ(DdsLevelLayout(kA8R8G8B8, 0x40000000, 1).rowBytes, 0x100000000u);
    EXPECT_EQ(DdsLevelLayout(kDxt1, max, 1).rowBytes, std::uint64_t{0x40000000} * 8);
    EXPECT_EQ(DdsLevelLayout(kDxt5, 0xFFFFFFFD, max).rows, 0x40000000u);
    // The level's size saturates instead of wrapping.
    EXPECT_EQ(DdsLevelLayout(kA32B32G32R32F, max, max).Size(), 0xFFFFFFFFFFFFFFFFu);
    EXPECT_EQ(DdsLevelLayout(kDxt5, max, max).Size(), 0xFFFFFFFFFFFFFFFFu);
    EXPECT_EQ(DdsLevelLayout(kA8R8G8B8, 0x10000, 0x10000).Size(), 0x400000000u);
}

TEST(DdsLevelLayout, UnknownFormatsHaveNoBytes) {
    EXPECT_EQ(DdsLevelLayout(kUnknown, 64, 64).Size(), 0u);
}

TEST(DdsNextLevelExtent, HalvesDownToOne) {
    std::uint32_t w = 5, h = 1;
    w = DdsNextLevelExtent(w);
    h = DdsNextLevelExtent(h);
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 1u);
    EXPECT_EQ(DdsNextLevelExtent(w), 1u);
    EXPECT_EQ(DdsNextLevelExtent(0), 1u);
    EXPECT_EQ(DdsNextLevelExtent(3), 1u);
    EXPECT_EQ(DdsNextLevelExtent(0xFFFFFFFF), 0x7FFFFFFFu);
}

} // namespace
} // namespace ravelstone
