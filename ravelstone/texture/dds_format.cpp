// Mapping a DDS pixel-format record to a Direct3D 9 format, and the layout of a level.
#include <limits>

#include "ravelstone/texture/dds_file.h"
#include "ravelstone/texture/dds_format_table.h"

namespace ravelstone {
namespace {

bool RowMatches(const DdsMaskedFormatRow& row, const DdsPixelFormat& pf, bool masksIgnored) {
    if (pf.rgbBitCount != row.bitCount) {
        return false;
    }
    return masksIgnored || (pf.redMask == row.redMask && pf.greenMask == row.greenMask &&
                            pf.blueMask == row.blueMask && pf.alphaMask == row.alphaMask);
}

D3dFormat FormatFromFourCC(std::uint32_t fourCC) {
    for (D3dFormat f : DdsFourCCFormats()) {
        if (fourCC == f) {
            return f;
        }
    }
    if (fourCC == kDdsNumericFourCCSingle ||
        (fourCC >= kDdsNumericFourCCFirst && fourCC <= kDdsNumericFourCCLast)) {
        return fourCC;
    }
    return d3dfmt::kUnknown;
}

} // namespace

D3dFormat DdsFormatFromPixelFormat(const DdsPixelFormat& pixelFormat) {
    for (const DdsMaskedFormatGroup& group : DdsMaskedFormatGroups()) {
        if ((pixelFormat.flags & group.flag) == 0) {
            continue;
        }
        for (const DdsMaskedFormatRow& row : group.rows) {
            if (RowMatches(row, pixelFormat, group.masksIgnored)) {
                return row.format;
            }
        }
        return d3dfmt::kUnknown; // the first group whose flag is set decides
    }
    if (pixelFormat.flags & kDdpfFourCC) {
        return FormatFromFourCC(pixelFormat.fourCC);
    }
    return d3dfmt::kUnknown;
}

std::uint32_t DdsBitsPerPixel(D3dFormat format) {
    for (const DdsFormatBits& entry : DdsFormatBitsTable()) {
        if (entry.format == format) {
            return entry.bitsPerPixel;
        }
    }
    return 0;
}

bool IsDxtFormat(D3dFormat format) {
    return format == d3dfmt::kDxt1 || format == d3dfmt::kDxt2 || format == d3dfmt::kDxt3 ||
           format == d3dfmt::kDxt4 || format == d3dfmt::kDxt5;
}

std::uint64_t DdsLayout::Size() const {
    if (rows != 0 && rowBytes > std::numeric_limits<std::uint64_t>::max() / rows) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return rowBytes * rows;
}

DdsLayout DdsLevelLayout(D3dFormat format, std::uint32_t width, std::uint32_t height) {
    if (IsDxtFormat(format)) {
        const std::uint64_t blockBytes = format == d3dfmt::kDxt1 ? 8 : 16;
        const std::uint64_t blocksAcross = (std::uint64_t{width} + 3) / 4;
        const std::uint64_t blocksDown = (std::uint64_t{height} + 3) / 4;
        return {blocksAcross * blockBytes, blocksDown};
    }
    return {(std::uint64_t{DdsBitsPerPixel(format)} * width + 7) / 8, height};
}

} // namespace ravelstone
