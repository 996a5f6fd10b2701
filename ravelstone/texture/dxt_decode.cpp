// Block decoders. Each block's four colours (and for "DXT5" its eight alphas) are made into
// finished 32-bit pixels once; the 16 pixels then only pick from them by index.
#include "ravelstone/texture/dxt_decode.h"

#include <emmintrin.h>

#include <cstring>

#include "ravelstone/texture/dxt_tables.h"

namespace ravelstone {
namespace {

constexpr std::uint32_t kOpaque = 0xFF000000;
constexpr std::size_t kBytesPerBlockRow = 16; // four pixels of four bytes

std::uint16_t Load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void StoreRow(std::uint8_t* destination, std::uint32_t p0, std::uint32_t p1, std::uint32_t p2,
              std::uint32_t p3) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination),
                     _mm_setr_epi32(static_cast<int>(p0), static_cast<int>(p1),
                                    static_cast<int>(p2), static_cast<int>(p3)));
}

struct Channels {
    unsigned red, green, blue;
};

Channels SplitColour(unsigned c) {
    return {c >> 11, (c >> 5) & 0x3F, c & 0x1F};
}

std::uint32_t EndpointPixel(Channels c) {
    return std::uint32_t{dxt::kFiveBit.endpoint[c.blue]} |
           std::uint32_t{dxt::kSixBit.endpoint[c.green]} << 8 |
           std::uint32_t{dxt::kFiveBit.endpoint[c.red]} << 16;
}

std::uint32_t InterpolatedPixel(Channels a, Channels b, dxt::InterpolationMode mode) {
    const auto& five = dxt::kFiveBit.interpolated[mode];
    const auto& six = dxt::kSixBit.interpolated[mode];
    return std::uint32_t{five[a.blue * 32 + b.blue]} |
           std::uint32_t{six[a.green * 64 + b.green]} << 8 |
           std::uint32_t{five[a.red * 32 + b.red]} << 16;
}

// The four colours of a "DXT1" block, alpha included: colour 0 not greater than colour 1 gives
// c2 half-way and c3 transparent black, otherwise c2 and c3 lie at one and two thirds. The mode
// is chosen without a branch: in real images both modes are common and mixed.
void MakeDxt1ColourTable(const std::uint8_t* colourBlock, std::uint32_t table[4]) {
    const std::uint16_t raw0 = Load16(colourBlock);
    const std::uint16_t raw1 = Load16(colourBlock + 2);
    const Channels c0 = SplitColour(raw0);
    const Channels c1 = SplitColour(raw1);
    const bool threeColours = raw0 <= raw1;
    table[0] = EndpointPixel(c0) | kOpaque;
    table[1] = EndpointPixel(c1) | kOpaque;
    table[2] =
        InterpolatedPixel(c0, c1, threeColours ? dxt::kHalfMode : dxt::kOneThirdMode) | kOpaque;
    const std::uint32_t twoThirds = InterpolatedPixel(c0, c1, dxt::kTwoThirdsMode) | kOpaque;
    table[3] = threeColours ? 0 : twoThirds;
}

// The four colours of the colour half of a "DXT2" to "DXT5" block: always the four-colour
// mode; alpha left 0 for the caller to add.
void MakeFourColourTable(const std::uint8_t* colourBlock, std::uint32_t table[4]) {
    const Channels c0 = SplitColour(Load16(colourBlock));
    const Channels c1 = SplitColour(Load16(colourBlock + 2));
    table[0] = EndpointPixel(c0);
    table[1] = EndpointPixel(c1);
    table[2] = InterpolatedPixel(c0, c1, dxt::kOneThirdMode);
    table[3] = InterpolatedPixel(c0, c1, dxt::kTwoThirdsMode);
}

// The eight "DXT5" alphas of a block, each already shifted into the alpha byte of a pixel.
// Computed in single precision, four at a time; results match dxt::UnitToByte.
void MakeInterpolatedAlphaTable(std::uint8_t alpha0, std::uint8_t alpha1, std::uint32_t out[8]) {
    const __m128 a0 = _mm_set1_ps(static_cast<float>(alpha0) * dxt::kOne255th);
    const __m128 a1 = _mm_set1_ps(static_cast<float>(alpha1) * dxt::kOne255th);
    // Both modes are computed and one is selected by mask: the mode varies from block to block,
    // and a mispredicted branch costs more than the second computation.
    // Eight values when alpha 0 > alpha 1: table[j + 1] = (a0 x (7 - j) + a1 x j) x 1/7, j = 1..6.
    const __m128 sevenths = _mm_set1_ps(dxt::kOneSeventh);
    const __m128 eightLow = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(a0, _mm_setr_ps(0, 0, 6, 5)),
                                                  _mm_mul_ps(a1, _mm_setr_ps(0, 0, 1, 2))),
                                       sevenths);
    const __m128 eightHigh = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(a0, _mm_setr_ps(4, 3, 2, 1)),
                                                   _mm_mul_ps(a1, _mm_setr_ps(3, 4, 5, 6))),
                                        sevenths);
    // Otherwise six: table[j + 1] = (a0 x (5 - j) + a1 x j) x 0.2, j = 1..4, then 0 and 1.
    const __m128 fifths = _mm_set1_ps(dxt::kOneFifth);
    const __m128 sixLow = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(a0, _mm_setr_ps(0, 0, 4, 3)),
                                                _mm_mul_ps(a1, _mm_setr_ps(0, 0, 1, 2))),
                                     fifths);
    const __m128 sixHigh =
        _mm_shuffle_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(a0, _mm_setr_ps(2, 1, 0, 0)),
                                             _mm_mul_ps(a1, _mm_setr_ps(3, 4, 0, 0))),
                                  fifths),
                       _mm_setr_ps(0, 0, 0, 1), _MM_SHUFFLE(3, 2, 1, 0));
    const __m128 eightMode =
        alpha0 > alpha1 ? _mm_castsi128_ps(_mm_set1_epi32(-1)) : _mm_setzero_ps();
    __m128 low = _mm_or_ps(_mm_and_ps(eightMode, eightLow), _mm_andnot_ps(eightMode, sixLow));
    const __m128 high =
        _mm_or_ps(_mm_and_ps(eightMode, eightHigh), _mm_andnot_ps(eightMode, sixHigh));
    // Entries 0 and 1 are the endpoints themselves.
    low = _mm_shuffle_ps(_mm_unpacklo_ps(a0, a1), low, _MM_SHUFFLE(3, 2, 1, 0));

    const __m128 byteScale = _mm_set1_ps(255.0f);
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(255.0f);
    // The conversion rounds by the processor's SSE rounding mode, which the process keeps at its
    // default: to nearest, ties to even (as do the multiplications and additions above).
    const __m128i lowBytes =
        _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(low, byteScale), zero), top));
    const __m128i highBytes =
        _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(high, byteScale), zero), top));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_slli_epi32(lowBytes, 24));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_slli_epi32(highBytes, 24));
}

} // namespace

void DecodeDxt1Block(std::uint8_t* destination, const std::uint8_t* block,
                     std::uint32_t blocksAcross) {
    std::uint32_t c[4];
    MakeDxt1ColourTable(block, c);
    const std::size_t pitch = std::size_t{blocksAcross} * kBytesPerBlockRow;
    std::uint32_t indices = Load32(block + 4);
    for (int row = 0; row < 4; ++row, indices >>= 8, destination += pitch) {
        StoreRow(destination, c[indices & 3], c[(indices >> 2) & 3], c[(indices >> 4) & 3],
                 c[(indices >> 6) & 3]);
    }
}

void DecodeDxt3Block(std::uint8_t* destination, const std::uint8_t* block,
                     std::uint32_t blocksAcross) {
    std::uint32_t c[4];
    MakeFourColourTable(block + 8, c);
    const auto& a = dxt::kExplicitAlpha;
    const std::size_t pitch = std::size_t{blocksAcross} * kBytesPerBlockRow;
    std::uint64_t alphas = Load64(block);
    std::uint32_t indices = Load32(block + 12);
    for (int row = 0; row < 4; ++row, indices >>= 8, alphas >>= 16, destination += pitch) {
        StoreRow(destination, c[indices & 3] | std::uint32_t{a[alphas & 15]} << 24,
                 c[(indices >> 2) & 3] | std::uint32_t{a[(alphas >> 4) & 15]} << 24,
                 c[(indices >> 4) & 3] | std::uint32_t{a[(alphas >> 8) & 15]} << 24,
                 c[(indices >> 6) & 3] | std::uint32_t{a[(alphas >> 12) & 15]} << 24);
    }
}

void DecodeDxt5Block(std::uint8_t* destination, const std::uint8_t* block,
                     std::uint32_t blocksAcross) {
    std::uint32_t a[8];
    MakeInterpolatedAlphaTable(block[0], block[1], a);
    std::uint32_t c[4];
    MakeFourColourTable(block + 8, c);
    const std::size_t pitch = std::size_t{blocksAcross} * kBytesPerBlockRow;
    // Bytes 2-7: 3-bit alpha indices, pixel 0 in the lowest bits.
    std::uint64_t alphas = Load64(block) >> 16;
    std::uint32_t indices = Load32(block + 12);
    for (int row = 0; row < 4; ++row, indices >>= 8, alphas >>= 12, destination += pitch) {
        StoreRow(destination, c[indices & 3] | a[alphas & 7],
                 c[(indices >> 2) & 3] | a[(alphas >> 3) & 7],
                 c[(indices >> 4) & 3] | a[(alphas >> 6) & 7],
                 c[(indices >> 6) & 3] | a[(alphas >> 9) & 7]);
    }
}

DxtBlockDecoder DxtBlockDecoderFor(D3dFormat format) {
    switch (format) {
    case d3dfmt::kDxt1:
        return DecodeDxt1Block;
    case d3dfmt::kDxt2:
    case d3dfmt::kDxt3:
        return DecodeDxt3Block;
    case d3dfmt::kDxt4:
    case d3dfmt::kDxt5:
        return DecodeDxt5Block;
    default:
        return nullptr;
    }
}

std::size_t DxtBlockBytes(D3dFormat format) {
    switch (format) {
    case d3dfmt::kDxt1:
        return 8;
    case d3dfmt::kDxt2:
    case d3dfmt::kDxt3:
    case d3dfmt::kDxt4:
    case d3dfmt::kDxt5:
        return 16;
    default:
        return 0;
    }
}

namespace {

template <DxtBlockDecoder Decode, std::size_t BlockBytes>
void DecodeRow(std::uint32_t blocksAcross, const std::uint8_t* source, std::uint8_t* destination,
               std::uint32_t blockRow) {
    const std::uint8_t* in = source + std::size_t{blockRow} * blocksAcross * BlockBytes;
    std::uint8_t* out = destination + std::size_t{blockRow} * 4 * blocksAcross * kBytesPerBlockRow;
    for (std::uint32_t b = 0; b < blocksAcross; ++b) {
        Decode(out, in, blocksAcross);
        in += BlockBytes;
        out += kBytesPerBlockRow;
    }
}

} // namespace

bool DecodeDxtBlockRow(D3dFormat format, std::uint32_t blocksAcross, const std::uint8_t* source,
                       std::uint8_t* destination, std::uint32_t blockRow) {
    switch (format) {
    case d3dfmt::kDxt1:
        DecodeRow<DecodeDxt1Block, 8>(blocksAcross, source, destination, blockRow);
        return true;
    case d3dfmt::kDxt2:
    case d3dfmt::kDxt3:
        DecodeRow<DecodeDxt3Block, 16>(blocksAcross, source, destination, blockRow);
        return true;
    case d3dfmt::kDxt4:
    case d3dfmt::kDxt5:
        DecodeRow<DecodeDxt5Block, 16>(blocksAcross, source, destination, blockRow);
        return true;
    default:
        return false;
    }
}

} // namespace ravelstone
