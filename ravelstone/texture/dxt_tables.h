// Byte results of the block decoders' colour and alpha arithmetic, computed by the compiler.
//
// A decoded component is defined by single-precision arithmetic: endpoints are the channel value
// times the single-precision 1/31 or 1/63, the interpolated colours are c0 + (c1 - c0) x t with
// t the single-precision 1/3, 2/3 or 0.5, and the result times 255 is rounded to the nearest
// integer with ties to even and clamped to 0-255. Every channel depends only on its own pair of
// endpoint values, so the whole colour arithmetic fits in small tables; the compiler evaluates
// them in strict IEEE single precision, independent of any run-time rounding mode.
#pragma once

#include <array>
#include <cstdint>

namespace ravelstone::dxt {

inline constexpr float kOneThirtyFirst = 1.0f / 31.0f;
inline constexpr float kOneSixtyThird = 1.0f / 63.0f;
inline constexpr float kOneThird = 1.0f / 3.0f;
inline constexpr float kTwoThirds = 2.0f / 3.0f;
inline constexpr float kHalf = 0.5f;
inline constexpr float kOneFifteenth = 1.0f / 15.0f;
inline constexpr float kOne255th = 1.0f / 255.0f;
inline constexpr float kOneSeventh = 1.0f / 7.0f;
inline constexpr float kOneFifth = 0.2f;

// x x 255, rounded to nearest with ties to even, clamped to 0-255.
constexpr std::uint8_t UnitToByte(float x) {
    const float scaled = x * 255.0f;
    if (!(scaled > 0.0f)) {
        return 0;
    }
    if (scaled >= 255.0f) {
        return 255;
    }
    int whole = static_cast<int>(scaled);                      // truncation; scaled is positive
    const float fraction = scaled - static_cast<float>(whole); // exact
    if (fraction > 0.5f || (fraction == 0.5f && (whole & 1) != 0)) {
        ++whole;
    }
    return static_cast<std::uint8_t>(whole);
}

// Interpolation modes of a colour table entry.
enum InterpolationMode { kOneThirdMode, kTwoThirdsMode, kHalfMode, kModeCount };

inline constexpr float kModeWeights[kModeCount] = {kOneThird, kTwoThirds, kHalf};

template <int Bits> struct ChannelTables {
    static constexpr int kLevels = 1 << Bits;
    // Endpoint value -> byte.
    std::array<std::uint8_t, kLevels> endpoint{};
    // [mode][first x kLevels + second] -> byte of first + (second - first) x weight.
    std::array<std::array<std::uint8_t, kLevels * kLevels>, kModeCount> interpolated{};
};

template <int Bits> constexpr ChannelTables<Bits> MakeChannelTables(float scale) {
    ChannelTables<Bits> t;
    constexpr int levels = ChannelTables<Bits>::kLevels;
    for (int a = 0; a < levels; ++a) {
        const float ea = static_cast<float>(a) * scale;
        t.endpoint[a] = UnitToByte(ea);
        for (int b = 0; b < levels; ++b) {
            const float eb = static_cast<float>(b) * scale;
            for (int mode = 0; mode < kModeCount; ++mode) {
                const float difference = eb - ea;
                const float step = difference * kModeWeights[mode];
                t.interpolated[mode][a * levels + b] = UnitToByte(ea + step);
            }
        }
    }
    return t;
}

inline constexpr ChannelTables<5> kFiveBit = MakeChannelTables<5>(kOneThirtyFirst);
inline constexpr ChannelTables<6> kSixBit = MakeChannelTables<6>(kOneSixtyThird);

constexpr std::array<std::uint8_t, 16> MakeExplicitAlpha() {
    std::array<std::uint8_t, 16> t{};
    for (int v = 0; v < 16; ++v) {
        t[v] = UnitToByte(static_cast<float>(v) * kOneFifteenth);
    }
    return t;
}

// "DXT3" 4-bit alpha -> byte.
inline constexpr std::array<std::uint8_t, 16> kExplicitAlpha = MakeExplicitAlpha();

} // namespace ravelstone::dxt
