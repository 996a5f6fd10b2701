// The DDS pixel-format records Ravelstone recognises, as data. dds_format.cpp walks these tables.
#pragma once

#include <cstdint>
#include <span>

#include "ravelstone/texture/d3d_formats.h"

namespace ravelstone {

// One recognised record of a mask-described group (RGB, luminance, alpha only): the bit count
// and all four masks must equal the row's.
struct DdsMaskedFormatRow {
    std::uint32_t bitCount;
    std::uint32_t redMask;
    std::uint32_t greenMask;
    std::uint32_t blueMask;
    std::uint32_t alphaMask;
    D3dFormat format;
};

// A group of rows selected by one pixel-format flag; the groups are tried in table order and
// the first whose flag is set decides. A group that ignores masks matches on the bit count.
struct DdsMaskedFormatGroup {
    std::uint32_t flag;
    bool masksIgnored;
    std::span<const DdsMaskedFormatRow> rows;
};

std::span<const DdsMaskedFormatGroup> DdsMaskedFormatGroups();

// FourCC codes that stand for themselves, and the range of plain format numbers a FourCC field
// may carry instead. The FourCC group comes after every masked group.
std::span<const D3dFormat> DdsFourCCFormats();
inline constexpr D3dFormat kDdsNumericFourCCSingle = 36; // A16B16G16R16
inline constexpr D3dFormat kDdsNumericFourCCFirst = 110; // Q16W16V16U16
inline constexpr D3dFormat kDdsNumericFourCCLast = 117;  // CxV8U8

struct DdsFormatBits {
    D3dFormat format;
    std::uint32_t bitsPerPixel;
};

std::span<const DdsFormatBits> DdsFormatBitsTable();

} // namespace ravelstone
