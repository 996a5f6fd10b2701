// Direct3D 9 format numbers (D3DFORMAT) that DDS files map to. Kept here as plain numbers so that
// the texture code stays free of platform headers; for FourCC formats the number is the FourCC.
#pragma once

#include <cstdint>

namespace ravelstone {

using D3dFormat = std::uint32_t;

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

namespace d3dfmt {
inline constexpr D3dFormat kUnknown = 0;
inline constexpr D3dFormat kR8G8B8 = 20;
inline constexpr D3dFormat kA8R8G8B8 = 21;
inline constexpr D3dFormat kX8R8G8B8 = 22;
inline constexpr D3dFormat kR5G6B5 = 23;
inline constexpr D3dFormat kX1R5G5B5 = 24;
inline constexpr D3dFormat kA1R5G5B5 = 25;
inline constexpr D3dFormat kA4R4G4B4 = 26;
inline constexpr D3dFormat kA8 = 28;
inline constexpr D3dFormat kA8R3G3B2 = 29;
inline constexpr D3dFormat kX4R4G4B4 = 30;
inline constexpr D3dFormat kA2B10G10R10 = 31;
inline constexpr D3dFormat kA8B8G8R8 = 32;
inline constexpr D3dFormat kX8B8G8R8 = 33;
inline constexpr D3dFormat kG16R16 = 34;
inline constexpr D3dFormat kA2R10G10B10 = 35;
inline constexpr D3dFormat kA16B16G16R16 = 36;
inline constexpr D3dFormat kL8 = 50;
inline constexpr D3dFormat kA8L8 = 51;
inline constexpr D3dFormat kA4L4 = 52;
inline constexpr D3dFormat kL16 = 81;
inline constexpr D3dFormat kQ16W16V16U16 = 110;
inline constexpr D3dFormat kR16F = 111;
inline constexpr D3dFormat kG16R16F = 112;
inline constexpr D3dFormat kA16B16G16R16F = 113;
inline constexpr D3dFormat kR32F = 114;
inline constexpr D3dFormat kG32R32F = 115;
inline constexpr D3dFormat kA32B32G32R32F = 116;
inline constexpr D3dFormat kCxV8U8 = 117;

inline constexpr D3dFormat kDxt1 = MakeFourCC('D', 'X', 'T', '1');
inline constexpr D3dFormat kDxt2 = MakeFourCC('D', 'X', 'T', '2');
inline constexpr D3dFormat kDxt3 = MakeFourCC('D', 'X', 'T', '3');
inline constexpr D3dFormat kDxt4 = MakeFourCC('D', 'X', 'T', '4');
inline constexpr D3dFormat kDxt5 = MakeFourCC('D', 'X', 'T', '5');
inline constexpr D3dFormat kRgbg = MakeFourCC('R', 'G', 'B', 'G');
inline constexpr D3dFormat kGrgb = MakeFourCC('G', 'R', 'G', 'B');
inline constexpr D3dFormat kUyvy = MakeFourCC('U', 'Y', 'V', 'Y');
inline constexpr D3dFormat kYuy2 = MakeFourCC('Y', 'U', 'Y', '2');
} // namespace d3dfmt

} // namespace ravelstone
