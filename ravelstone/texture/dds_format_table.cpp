#include "ravelstone/texture/dds_format_table.h"

#include "ravelstone/texture/dds_file.h"

namespace ravelstone {
namespace {

using namespace d3dfmt;

constexpr DdsMaskedFormatRow kRgbRows[] = {
    // bits  red         green       blue        alpha       format
    {16, 0xF800, 0x07E0, 0x001F, 0x0000, kR5G6B5},
    {16, 0x7C00, 0x03E0, 0x001F, 0x8000, kA1R5G5B5},
    {16, 0x7C00, 0x03E0, 0x001F, 0x0000, kX1R5G5B5},
    {16, 0x0F00, 0x00F0, 0x000F, 0xF000, kA4R4G4B4},
    {16, 0x0F00, 0x00F0, 0x000F, 0x0000, kX4R4G4B4},
    {16, 0x00E0, 0x001C, 0x0003, 0xFF00, kA8R3G3B2},
    {24, 0xFF0000, 0x00FF00, 0x0000FF, 0x00000000, kR8G8B8},
    {32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000, kA8R8G8B8},
    {32, 0xFF0000, 0x00FF00, 0x0000FF, 0x00000000, kX8R8G8B8},
    {32, 0x0000FF, 0x00FF00, 0xFF0000, 0xFF000000, kA8B8G8R8},
    {32, 0x0000FF, 0x00FF00, 0xFF0000, 0x00000000, kX8B8G8R8},
    {32, 0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000, kA2R10G10B10},
    {32, 0x000003FF, 0x000FFC00, 0x3FF00000, 0xC0000000, kA2B10G10R10},
    {32, 0x0000FFFF, 0xFFFF0000, 0x00000000, 0x00000000, kG16R16},
    {32, 0xFFFFFFFF, 0x00000000, 0x00000000, 0x00000000, kR32F},
};

constexpr DdsMaskedFormatRow kLuminanceRows[] = {
    {8, 0x0F, 0, 0, 0xF0, kA4L4},
    {8, 0xFF, 0, 0, 0x00, kL8},
    {16, 0xFFFF, 0, 0, 0x0000, kL16},
    {16, 0x00FF, 0, 0, 0xFF00, kA8L8},
};

constexpr DdsMaskedFormatRow kAlphaRows[] = {
    {8, 0, 0, 0, 0, kA8},
};

constexpr DdsMaskedFormatGroup kGroups[] = {
    {kDdpfRgb, false, kRgbRows},
    {kDdpfLuminance, false, kLuminanceRows},
    {kDdpfAlpha, true, kAlphaRows},
};

constexpr D3dFormat kFourCCs[] = {kDxt1, kDxt2, kDxt3, kDxt4, kDxt5, kRgbg, kGrgb, kUyvy, kYuy2};

constexpr DdsFormatBits kBits[] = {
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
    // Block-compressed: a 4x4 block of 8 or 16 bytes.
    {kDxt1, 4},
    {kDxt2, 8},
    {kDxt3, 8},
    {kDxt4, 8},
    {kDxt5, 8},
};

} // namespace

std::span<const DdsMaskedFormatGroup> DdsMaskedFormatGroups() {
    return kGroups;
}
std::span<const D3dFormat> DdsFourCCFormats() {
    return kFourCCs;
}
std::span<const DdsFormatBits> DdsFormatBitsTable() {
    return kBits;
}

} // namespace ravelstone
