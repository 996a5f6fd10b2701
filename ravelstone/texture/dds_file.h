// DDS files in memory: the header, where the pixel data lies, the Direct3D 9 format a header's
// pixel-format record stands for, and the bytes and rows each mip level occupies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ravelstone/texture/d3d_formats.h"

namespace ravelstone {

// The texture path reports results as COM result codes.
using HResult = std::int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005);

inline constexpr std::uint32_t kDdsMagic = MakeFourCC('D', 'D', 'S', ' ');
inline constexpr std::uint32_t kDdsHeaderSize = 124;
inline constexpr std::uint32_t kDdsPixelFormatSize = 32;
inline constexpr std::uint32_t kDdsDx10FourCC = MakeFourCC('D', 'X', '1', '0');
// Magic and header; a "DX10" file has a 20-byte extension header after them.
inline constexpr std::size_t kDdsPayloadOffset = 4 + kDdsHeaderSize;
inline constexpr std::size_t kDdsDx10PayloadOffset = kDdsPayloadOffset + 20;

// Header flags.
inline constexpr std::uint32_t kDdsFlagPitch = 0x8;
inline constexpr std::uint32_t kDdsFlagDepth = 0x800000;

// Pixel-format flags.
inline constexpr std::uint32_t kDdpfAlpha = 0x2;
inline constexpr std::uint32_t kDdpfFourCC = 0x4;
inline constexpr std::uint32_t kDdpfRgb = 0x40;
inline constexpr std::uint32_t kDdpfLuminance = 0x20000;

struct DdsPixelFormat {
    std::uint32_t size;
    std::uint32_t flags;
    std::uint32_t fourCC;
    std::uint32_t rgbBitCount;
    std::uint32_t redMask; // also the luminance mask
    std::uint32_t greenMask;
    std::uint32_t blueMask;
    std::uint32_t alphaMask;
};
static_assert(sizeof(DdsPixelFormat) == 32);

// The header as it lies in the file from offset 4 (the header-size field) on.
struct DdsHeader {
    std::uint32_t size;
    std::uint32_t flags;
    std::uint32_t height;
    std::uint32_t width;
    std::uint32_t pitchOrLinearSize;
    std::uint32_t depth;
    std::uint32_t mipMapCount;
    std::uint32_t reserved1[11];
    DdsPixelFormat pixelFormat;
    std::uint32_t caps;
    std::uint32_t caps2;
    std::uint32_t caps3;
    std::uint32_t caps4;
    std::uint32_t reserved2;
};
static_assert(sizeof(DdsHeader) == kDdsHeaderSize);
static_assert(offsetof(DdsHeader, mipMapCount) == 24);
static_assert(offsetof(DdsHeader, pixelFormat) == 72);
static_assert(offsetof(DdsHeader, caps2) == 108);

struct DdsFile {
    // A copy of the header: the file's bytes carry no alignment promise.
    DdsHeader header;
    const std::uint8_t* payload;
    std::size_t payloadSize;
};

// Checks the magic, the header size and the pixel-format size, and finds the pixel data.
// Reads nothing outside data[0, size). On failure returns kEFail and leaves *file untouched.
HResult ParseDdsFile(const void* data, std::size_t size, DdsFile* file);

// The Direct3D 9 format of a pixel-format record, or d3dfmt::kUnknown when it matches none.
D3dFormat DdsFormatFromPixelFormat(const DdsPixelFormat& pixelFormat);

// Bits per pixel of a format that DdsFormatFromPixelFormat returns (4 for "DXT1", 8 for "DXT2"
// to "DXT5"); 0 for any other number.
std::uint32_t DdsBitsPerPixel(D3dFormat format);

// Bytes per row and rows of one level. Computed in 64 bits, so that no width or height wraps:
// a level too large for any file simply needs more bytes than any payload has.
struct DdsLayout {
    std::uint64_t rowBytes;
    std::uint64_t rows;

    // rowBytes x rows, saturated at the largest 64-bit value.
    std::uint64_t Size() const;
};

DdsLayout DdsLevelLayout(D3dFormat format, std::uint32_t width, std::uint32_t height);

// The width or height of the next smaller level.
constexpr std::uint32_t DdsNextLevelExtent(std::uint32_t extent) {
    return extent / 2 > 1 ? extent / 2 : 1;
}

bool IsDxtFormat(D3dFormat format);

} // namespace ravelstone
