#include "dxt_reference.h"

#include <cfenv>
#include <cmath>

namespace ravelstone::reference {
namespace {

struct Quad {
    float b, g, r, a;
};

Quad Endpoint(unsigned c) {
    const float s31 = 1.0f / 31.0f;
    const float s63 = 1.0f / 63.0f;
    Quad q;
    q.b = static_cast<float>(c & 0x1F) * s31;
    q.g = static_cast<float>((c & 0x7E0) / 32) * s63;
    q.r = static_cast<float>((c & 0xF800) / 2048) * s31;
    q.a = 1.0f;
    return q;
}

Quad Lerp(Quad c0, Quad c1, float t) {
    Quad q;
    q.b = c0.b + (c1.b - c0.b) * t;
    q.g = c0.g + (c1.g - c0.g) * t;
    q.r = c0.r + (c1.r - c0.r) * t;
    q.a = 1.0f;
    return q;
}

std::uint8_t ToByte(float x) {
    float v = std::nearbyint(x * 255.0f); // the default mode: nearest, ties to even
    if (v < 0.0f) {
        v = 0.0f;
    }
    if (v > 255.0f) {
        v = 255.0f;
    }
    return static_cast<std::uint8_t>(v);
}

} // namespace

DecodedBlock DecodeBlock(BlockKind kind, const std::uint8_t* block) {
    const std::uint8_t* colourBlock = kind == BlockKind::kDxt1 ? block : block + 8;
    const unsigned colour0 = colourBlock[0] | colourBlock[1] << 8;
    const unsigned colour1 = colourBlock[2] | colourBlock[3] << 8;
    const std::uint32_t colourIndices = colourBlock[4] | colourBlock[5] << 8 |
                                        colourBlock[6] << 16 |
                                        static_cast<std::uint32_t>(colourBlock[7]) << 24;
    Quad c[4];
    c[0] = Endpoint(colour0);
    c[1] = Endpoint(colour1);
    if (kind == BlockKind::kDxt1 && !(colour0 > colour1)) {
        c[2] = Lerp(c[0], c[1], 0.5f);
        c[3] = {0.0f, 0.0f, 0.0f, 0.0f};
    } else {
        c[2] = Lerp(c[0], c[1], 1.0f / 3.0f);
        c[3] = Lerp(c[0], c[1], 2.0f / 3.0f);
    }

    Quad pixels[16];
    for (int p = 0; p < 16; ++p) {
        pixels[p] = c[(colourIndices >> (2 * p)) & 3];
    }

    if (kind == BlockKind::kDxt3) {
        std::uint64_t explicitAlpha = 0;
        for (int i = 0; i < 8; ++i) {
            explicitAlpha |= static_cast<std::uint64_t>(block[i]) << (8 * i);
        }
        for (int p = 0; p < 16; ++p) {
            pixels[p].a = static_cast<float>((explicitAlpha >> (4 * p)) & 15) * (1.0f / 15.0f);
        }
    }
    if (kind == BlockKind::kDxt5) {
        const float s255 = 1.0f / 255.0f;
        const float a0 = static_cast<float>(block[0]) * s255;
        const float a1 = static_cast<float>(block[1]) * s255;
        float table[8];
        table[0] = a0;
        table[1] = a1;
        if (block[0] > block[1]) {
            for (int j = 1; j <= 6; ++j) {
                table[j + 1] =
                    (a0 * static_cast<float>(7 - j) + a1 * static_cast<float>(j)) * (1.0f / 7.0f);
            }
        } else {
            for (int j = 1; j <= 4; ++j) {
                table[j + 1] = (a0 * static_cast<float>(5 - j) + a1 * static_cast<float>(j)) * 0.2f;
            }
            table[6] = 0.0f;
            table[7] = 1.0f;
        }
        const std::uint32_t low = block[2] | block[3] << 8 | block[4] << 16;
        const std::uint32_t high = block[5] | block[6] << 8 | block[7] << 16;
        for (int p = 0; p < 16; ++p) {
            const std::uint32_t group = p < 8 ? low : high;
            pixels[p].a = table[(group >> (3 * (p % 8))) & 7];
        }
    }

    DecodedBlock out;
    for (int p = 0; p < 16; ++p) {
        out[p] = {ToByte(pixels[p].b), ToByte(pixels[p].g), ToByte(pixels[p].r),
                  ToByte(pixels[p].a)};
    }
    return out;
}

} // namespace ravelstone::reference
