// Decoding of the block-compressed formats "DXT1" to "DXT5" into A8R8G8B8 pixels (bytes blue,
// green, red, alpha).
//
// The decoded image has a row pitch of blocks across x 16 bytes: the block at block column bx
// and block row by has its top-left pixel at byte (bx + 4 x by x blocks across) x 16, and its
// four pixel rows follow one pitch apart.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ravelstone/texture/d3d_formats.h"

namespace ravelstone {

// Each writes one block's 16 pixels into four rows of 16 bytes, blocksAcross x 16 bytes apart,
// starting at destination (the block's top-left pixel). No alignment is needed.
using DxtBlockDecoder = void (*)(std::uint8_t* destination, const std::uint8_t* block,
                                 std::uint32_t blocksAcross);

// "DXT1": 8-byte blocks; colour 0 not greater than colour 1 selects three colours and
// transparent black.
void DecodeDxt1Block(std::uint8_t* destination, const std::uint8_t* block,
                     std::uint32_t blocksAcross);
// "DXT2" and "DXT3": 16-byte blocks with explicit 4-bit alpha (colours are not divided by it).
void DecodeDxt3Block(std::uint8_t* destination, const std::uint8_t* block,
                     std::uint32_t blocksAcross);
// "DXT4" and "DXT5": 16-byte blocks with interpolated alpha.
void DecodeDxt5Block(std::uint8_t* destination, const std::uint8_t* block,
                     std::uint32_t blocksAcross);

// The decoder and block size of a block-compressed format; nullptr and 0 for any other format.
DxtBlockDecoder DxtBlockDecoderFor(D3dFormat format);
std::size_t DxtBlockBytes(D3dFormat format);

// Decodes block row blockRow of a level: block b is read at source offset
// (blockRow x blocksAcross + b) x block size. The caller makes sure that the level holds that
// many blocks and that the destination holds the decoded image. Returns false, writing nothing,
// when the format is not block-compressed.
bool DecodeDxtBlockRow(D3dFormat format, std::uint32_t blocksAcross, const std::uint8_t* source,
                       std::uint8_t* destination, std::uint32_t blockRow);

} // namespace ravelstone
