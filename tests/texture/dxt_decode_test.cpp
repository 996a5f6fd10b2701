#include "ravelstone/texture/dxt_decode.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "dxt_reference.h"

namespace ravelstone {
namespace {

using Pixel = std::array<std::uint8_t, 4>; // blue, green, red, alpha
using reference::BlockKind;

struct Block {
    std::array<std::uint8_t, 16> bytes{};
};

// Colour block bytes: two 5:6:5 colours and 16 two-bit indices.
void PutColourBlock(std::uint8_t* at, std::uint16_t c0, std::uint16_t c1,
                    const std::array<int, 16>& indices) {
    at[0] = static_cast<std::uint8_t>(c0);
    at[1] = static_cast<std::uint8_t>(c0 >> 8);
    at[2] = static_cast<std::uint8_t>(c1);
    at[3] = static_cast<std::uint8_t>(c1 >> 8);
    std::uint32_t bits = 0;
    for (int p = 0; p < 16; ++p) {
        bits |= static_cast<std::uint32_t>(indices[p] & 3) << (2 * p);
    }
    std::memcpy(at + 4, &bits, 4);
}

constexpr std::array<int, 16> kIndices0123 = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
constexpr std::array<int, 16> kAllZero = {};

Block Dxt1(std::uint16_t c0, std::uint16_t c1, const std::array<int, 16>& indices) {
    Block b;
    PutColourBlock(b.bytes.data(), c0, c1, indices);
    return b;
}

Block Dxt3(std::uint16_t c0, std::uint16_t c1, const std::array<int, 16>& indices,
           const std::array<int, 16>& alphas) {
    Block b;
    std::uint64_t bits = 0;
    for (int p = 0; p < 16; ++p) {
        bits |= static_cast<std::uint64_t>(alphas[p] & 15) << (4 * p);
    }
    std::memcpy(b.bytes.data(), &bits, 8);
    PutColourBlock(b.bytes.data() + 8, c0, c1, indices);
    return b;
}

Block Dxt5(std::uint8_t alpha0, std::uint8_t alpha1, const std::array<int, 16>& alphaIndices,
           std::uint16_t c0, std::uint16_t c1, const std::array<int, 16>& indices) {
    Block b;
    b.bytes[0] = alpha0;
    b.bytes[1] = alpha1;
    std::uint64_t bits = 0;
    for (int p = 0; p < 16; ++p) {
        bits |= static_cast<std::uint64_t>(alphaIndices[p] & 7) << (3 * p);
    }
    for (int i = 0; i < 6; ++i) {
        b.bytes[2 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    PutColourBlock(b.bytes.data() + 8, c0, c1, indices);
    return b;
}

// Decodes one block alone (blocks across 1) into its 16 pixels.
std::array<Pixel, 16> Decode(DxtBlockDecoder decoder, const Block& block) {
    std::array<std::uint8_t, 64> out{};
    decoder(out.data(), block.bytes.data(), 1);
    std::array<Pixel, 16> pixels;
    std::memcpy(pixels.data(), out.data(), out.size());
    return pixels;
}

std::string Show(const Pixel& p) {
    char text[32];
    std::snprintf(text, sizeof text, "(%d, %d, %d, %d)", p[0], p[1], p[2], p[3]);
    return text;
}

TEST(DxtEndpoints, EveryFiveAndSixBitValue) {
    // A channel value v of n bits becomes the nearest byte to v x 255 / (2^n - 1); no value lies
    // half-way, so the integer rounding here is exact.
    for (unsigned v = 0; v < 32; ++v) {
        const std::uint8_t expected = static_cast<std::uint8_t>((v * 255 + 15) / 31);
        const auto red = Decode(DecodeDxt1Block, Dxt1(v << 11, v << 11, kAllZero))[0];
        const auto blue = Decode(DecodeDxt1Block, Dxt1(v, v, kAllZero))[0];
        EXPECT_EQ(red, (Pixel{0, 0, expected, 255})) << "5-bit red " << v << ": " << Show(red);
        EXPECT_EQ(blue, (Pixel{expected, 0, 0, 255})) << "5-bit blue " << v << ": " << Show(blue);
    }
    for (unsigned v = 0; v < 64; ++v) {
        const std::uint8_t expected = static_cast<std::uint8_t>((v * 255 + 31) / 63);
        const auto green = Decode(DecodeDxt1Block, Dxt1(v << 5, v << 5, kAllZero))[0];
        EXPECT_EQ(green, (Pixel{0, expected, 0, 255}))
            << "6-bit green " << v << ": " << Show(green);
    }
    // The values named in the format's description.
    const std::pair<unsigned, int> fiveBit[] = {{0, 0},    {1, 8},    {15, 123},
                                                {16, 132}, {30, 247}, {31, 255}};
    for (auto [v, byte] : fiveBit) {
        EXPECT_EQ(Decode(DecodeDxt1Block, Dxt1(v, v, kAllZero))[0][0], byte) << v;
    }
    const std::pair<unsigned, int> sixBit[] = {{0, 0}, {1, 4}, {31, 125}, {32, 130}, {63, 255}};
    for (auto [v, byte] : sixBit) {
        EXPECT_EQ(Decode(DecodeDxt1Block, Dxt1(v << 5, v << 5, kAllZero))[0][1], byte) << v;
    }
}

struct ColourModeCase {
    const char* name;
    std::array<Pixel, 4> expected; // for indices 0, 1, 2, 3
};

void ExpectFirstRow(const std::array<Pixel, 16>& pixels, const ColourModeCase& c) {
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pixels[i], c.expected[i]) << c.name << ", index " << i << ": " << Show(pixels[i]);
        EXPECT_EQ(pixels[12 + i], pixels[i]) << c.name << ", last row, index " << i;
    }
}

TEST(DxtColourModes, FourAndThreeColours) {
    const std::array<Pixel, 4> fourColours = {
        {{0, 0, 255, 255}, {255, 0, 0, 255}, {85, 0, 170, 255}, {170, 0, 85, 255}}};
    // 127.5 is rounded to the even 128; index 3 is transparent black.
    const std::array<Pixel, 4> threeColours = {
        {{255, 0, 0, 255}, {0, 0, 255, 255}, {128, 0, 128, 255}, {0, 0, 0, 0}}};
    ExpectFirstRow(Decode(DecodeDxt1Block, Dxt1(0xF800, 0x001F, kIndices0123)),
                   {"DXT1, colour 0 greater", fourColours});
    ExpectFirstRow(Decode(DecodeDxt1Block, Dxt1(0x001F, 0xF800, kIndices0123)),
                   {"DXT1, colour 0 smaller", threeColours});

    // Equal colours also select three colours.
    const auto equal = Decode(DecodeDxt1Block, Dxt1(0x07E0, 0x07E0, kIndices0123));
    EXPECT_EQ(equal[2], (Pixel{0, 255, 0, 255})) << Show(equal[2]);
    EXPECT_EQ(equal[3], (Pixel{0, 0, 0, 0})) << Show(equal[3]);

    // The other block kinds always use four colours, also for the smaller colour 0.
    const std::array<Pixel, 4> reversedFour = {
        {{255, 0, 0, 255}, {0, 0, 255, 255}, {170, 0, 85, 255}, {85, 0, 170, 255}}};
    std::array<int, 16> opaque3;
    opaque3.fill(15);
    ExpectFirstRow(Decode(DecodeDxt3Block, Dxt3(0x001F, 0xF800, kIndices0123, opaque3)),
                   {"DXT3, colour 0 smaller", reversedFour});
    ExpectFirstRow(Decode(DecodeDxt5Block, Dxt5(255, 0, kAllZero, 0x001F, 0xF800, kIndices0123)),
                   {"DXT5, colour 0 smaller", reversedFour});
    const auto equal5 =
        Decode(DecodeDxt5Block, Dxt5(255, 0, kAllZero, 0x07E0, 0x07E0, kIndices0123));
    EXPECT_EQ(equal5[3], (Pixel{0, 255, 0, 255})) << Show(equal5[3]);
}

TEST(DxtAlpha, ExplicitAlphaValues) {
    std::array<int, 16> alphas;
    for (int p = 0; p < 16; ++p) {
        alphas[p] = p;
    }
    const auto pixels = Decode(DecodeDxt3Block, Dxt3(0xFFFF, 0, kAllZero, alphas));
    for (int p = 0; p < 16; ++p) {
        EXPECT_EQ(pixels[p], (Pixel{255, 255, 255, static_cast<std::uint8_t>(17 * p)}))
            << "4-bit alpha " << p << ": " << Show(pixels[p]);
    }
    EXPECT_EQ(pixels[8][3], 136);
}

TEST(DxtAlpha, InterpolatedAlphaTables) {
    struct Case {
        std::uint8_t alpha0, alpha1;
        std::array<int, 8> table;
    };
    const Case cases[] = {
        {255, 0, {255, 0, 219, 182, 146, 109, 73, 36}},
        {0, 255, {0, 255, 51, 102, 153, 204, 0, 255}},
        {200, 200, {200, 200, 200, 200, 200, 200, 0, 255}}, // equal: the six-value mode
        {1, 0, {1, 0, 1, 1, 1, 0, 0, 0}},                   // 6/7, 5/7, 4/7 round up; 3/7 down
    };
    std::array<int, 16> indices;
    for (int p = 0; p < 16; ++p) {
        indices[p] = p % 8;
    }
    for (const Case& c : cases) {
        const auto pixels =
            Decode(DecodeDxt5Block, Dxt5(c.alpha0, c.alpha1, indices, 0, 0, kAllZero));
        for (int p = 0; p < 16; ++p) {
            EXPECT_EQ(pixels[p][3], c.table[p % 8])
                << "alpha " << int{c.alpha0} << "/" << int{c.alpha1} << ", pixel " << p;
            EXPECT_EQ(pixels[p][2], 0) << "colour must not be divided or changed by alpha";
        }
    }
}

TEST(DxtAlpha, PixelIndexBitsAcrossTheTwoGroups) {
    // Pixels 0-7 take their indices from bytes 2-4, pixels 8-15 from bytes 5-7; a pattern that
    // differs in every pixel shows a bit taken from the wrong place.
    const std::array<int, 16> indices = {7, 6, 5, 4, 3, 2, 1, 0, 1, 3, 5, 7, 0, 2, 4, 6};
    const auto pixels = Decode(DecodeDxt5Block, Dxt5(255, 0, indices, 0, 0, kAllZero));
    const int table[8] = {255, 0, 219, 182, 146, 109, 73, 36};
    for (int p = 0; p < 16; ++p) {
        EXPECT_EQ(pixels[p][3], table[indices[p]]) << "pixel " << p;
    }
}

TEST(DecodeDxtBlockRow, WritesBlocksIntoTheDecodedImageLayout) {
    // Three blocks across, two block rows; each block a distinct solid colour so that every
    // pixel shows which block wrote it.
    constexpr std::uint32_t across = 3;
    constexpr std::uint32_t down = 2;
    struct Format {
        D3dFormat format;
        std::size_t blockBytes;
    };
    for (const Format f :
         {Format{d3dfmt::kDxt1, 8}, Format{d3dfmt::kDxt2, 16}, Format{d3dfmt::kDxt3, 16},
          Format{d3dfmt::kDxt4, 16}, Format{d3dfmt::kDxt5, 16}}) {
        EXPECT_EQ(DxtBlockBytes(f.format), f.blockBytes);
        std::vector<std::uint8_t> source(across * down * f.blockBytes);
        for (std::uint32_t i = 0; i < across * down; ++i) {
            const std::uint16_t colour = static_cast<std::uint16_t>((i + 1) << 11); // red = i + 1
            Block b = f.blockBytes == 8 ? Dxt1(colour, colour, kAllZero)
                                        : Dxt5(255, 0, kAllZero, colour, colour, kAllZero);
            if (f.format == d3dfmt::kDxt2 || f.format == d3dfmt::kDxt3) {
                std::array<int, 16> opaque;
                opaque.fill(15);
                b = Dxt3(colour, colour, kAllZero, opaque);
            }
            std::memcpy(source.data() + i * f.blockBytes, b.bytes.data(), f.blockBytes);
        }
        const std::size_t pitch = across * 16;
        std::vector<std::uint8_t> image(pitch * 4 * down + 16, 0xEE);
        for (std::uint32_t row = 0; row < down; ++row) {
            ASSERT_TRUE(DecodeDxtBlockRow(f.format, across, source.data(), image.data(), row));
        }
        for (std::uint32_t y = 0; y < 4 * down; ++y) {
            for (std::uint32_t x = 0; x < 4 * across; ++x) {
                const std::uint32_t block = (y / 4) * across + x / 4;
                const std::uint8_t red = image[y * pitch + x * 4 + 2];
                EXPECT_EQ(red, ((block + 1) * 255 + 15) / 31)
                    << "format " << f.format << ", pixel (" << x << ", " << y << ")";
            }
        }
        EXPECT_EQ(image[pitch * 4 * down], 0xEE) << "wrote past the image";
    }
    // The second block of the second row starts at (1 + 4 x 1 x 3) x 16 = 208, rows 48 apart.
    std::vector<std::uint8_t> source(6 * 8, 0);
    const Block marker = Dxt1(0xFFFF, 0xFFFF, kAllZero);
    std::memcpy(source.data() + 4 * 8, marker.bytes.data(), 8);
    std::vector<std::uint8_t> image(48 * 8, 0);
    DecodeDxtBlockRow(d3dfmt::kDxt1, 3, source.data(), image.data(), 1);
    for (std::size_t offset = 0; offset < image.size(); offset += 16) {
        const bool marked = offset == 208 || offset == 256 || offset == 304 || offset == 352;
        EXPECT_EQ(image[offset], marked ? 255 : 0) << "byte " << offset;
    }
}

TEST(DecodeDxtBlockRow, RefusesFormatsThatAreNotBlockCompressed) {
    std::uint8_t source[16] = {};
    std::uint8_t image[64];
    std::memset(image, 0xEE, sizeof image);
    for (D3dFormat f : {d3dfmt::kA8R8G8B8, d3dfmt::kR8G8B8, d3dfmt::kUnknown, d3dfmt::kUyvy}) {
        EXPECT_FALSE(DecodeDxtBlockRow(f, 1, source, image, 0)) << f;
        EXPECT_EQ(DxtBlockDecoderFor(f), nullptr) << f;
        EXPECT_EQ(DxtBlockBytes(f), 0u) << f;
    }
    EXPECT_EQ(image[0], 0xEE);
    EXPECT_EQ(DxtBlockDecoderFor(d3dfmt::kDxt1), &DecodeDxt1Block);
    EXPECT_EQ(DxtBlockDecoderFor(d3dfmt::kDxt2), &DecodeDxt3Block);
    EXPECT_EQ(DxtBlockDecoderFor(d3dfmt::kDxt4), &DecodeDxt5Block);
}

// Random blocks: the decoders under test against the plain reference.
#ifdef _WIN32
// Under Wine on an emulated processor the reference runs some ten times slower; fewer blocks
// keep the run short, and the native configurations check the full million.
constexpr int kRandomBlocks = 100000;
#else
constexpr int kRandomBlocks = 1000000;
#endif

void ExpectAgreementOnRandomBlocks(BlockKind kind, DxtBlockDecoder decoder, std::size_t size,
                                   std::uint32_t seed) {
    std::mt19937 random(seed);
    Block block;
    int mismatches = 0;
    for (int n = 0; n < kRandomBlocks && mismatches < 5; ++n) {
        for (std::size_t i = 0; i < size; i += 4) {
            const std::uint32_t word = random();
            std::memcpy(block.bytes.data() + i, &word, 4);
        }
        // One block in four has equal colours, one in four equal alphas: both are mode edges.
        if (n % 4 == 1) {
            std::memcpy(block.bytes.data() + size - 6, block.bytes.data() + size - 8, 2);
        }
        if (n % 4 == 2) {
            block.bytes[1] = block.bytes[0];
        }
        const auto expected = reference::DecodeBlock(kind, block.bytes.data());
        const auto actual = Decode(decoder, block);
        for (int p = 0; p < 16; ++p) {
            if (actual[p] != expected[p]) {
                ++mismatches;
                ADD_FAILURE() << "block " << n << ", pixel " << p << ": " << Show(actual[p])
                              << ", expected " << Show(expected[p]);
                break;
            }
        }
    }
}

TEST(DxtAgreesWithReference, RandomDxt1Blocks) {
    ExpectAgreementOnRandomBlocks(BlockKind::kDxt1, DecodeDxt1Block, 8, 1);
}

TEST(DxtAgreesWithReference, RandomDxt3Blocks) {
    ExpectAgreementOnRandomBlocks(BlockKind::kDxt3, DecodeDxt3Block, 16, 3);
}

TEST(DxtAgreesWithReference, RandomDxt5Blocks) {
    ExpectAgreementOnRandomBlocks(BlockKind::kDxt5, DecodeDxt5Block, 16, 5);
}

} // namespace
} // namespace ravelstone
