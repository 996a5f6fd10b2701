// Arbitrary bytes as a DDS file: parse it, map its format and walk its levels the way the
// texture builders do, decoding block-compressed levels and converting 24-bit ones. The
// sanitizers report any read or write outside the buffers involved; decoded blocks are checked
// against the tests' plain reference decoder, and the two 24-bit converters against each other.
#include <cpuid.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ravelstone/texture/dds_file.h"
#include "ravelstone/texture/dxt_decode.h"
#include "ravelstone/texture/rgb24_convert.h"
#include "tests/texture/dxt_reference.h"

namespace {

using namespace ravelstone;

bool ProcessorHasSsse3() {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSSE3) != 0;
}

const bool kHasSsse3 = ProcessorHasSsse3();

void DecodeLevel(D3dFormat format, const std::uint8_t* level, const DdsLayout& layout) {
    const std::size_t blockBytes = DxtBlockBytes(format);
    const auto blocksAcross = static_cast<std::uint32_t>(layout.rowBytes / blockBytes);
    const auto blocksDown = static_cast<std::uint32_t>(layout.rows);
    // Exactly the decoded image, so that a write past it is caught.
    std::vector<std::uint8_t> image(std::size_t{blocksAcross} * 16 * 4 * blocksDown);
    for (std::uint32_t row = 0; row < blocksDown; ++row) {
        if (!DecodeDxtBlockRow(format, blocksAcross, level, image.data(), row)) {
            std::abort();
        }
    }
    // Every block must match the plain reference decoder.
    const reference::BlockKind kind = blockBytes == 8 ? reference::BlockKind::kDxt1
                                      : DxtBlockDecoderFor(format) == DecodeDxt3Block
                                          ? reference::BlockKind::kDxt3
                                          : reference::BlockKind::kDxt5;
    const std::size_t pitch = std::size_t{blocksAcross} * 16;
    for (std::uint32_t by = 0; by < blocksDown; ++by) {
        for (std::uint32_t bx = 0; bx < blocksAcross; ++bx) {
            const auto expected = reference::DecodeBlock(
                kind, level + (std::size_t{by} * blocksAcross + bx) * blockBytes);
            for (int p = 0; p < 16; ++p) {
                const std::uint8_t* pixel =
                    image.data() + (std::size_t{bx} + 4 * std::size_t{by} * blocksAcross) * 16 +
                    (p / 4) * pitch + (p % 4) * 4;
                if (std::memcmp(pixel, expected[p].data(), 4) != 0) {
                    std::abort();
                }
            }
        }
    }
}

void ConvertLevel(const std::uint8_t* level, const DdsLayout& layout, std::uint32_t width) {
    std::vector<std::uint8_t> plain(std::size_t{width} * 4);
    std::vector<std::uint8_t> fast(plain.size());
    for (std::uint64_t row = 0; row < layout.rows; ++row) {
        const std::uint8_t* source = level + row * layout.rowBytes;
        ConvertRgb24ToArgb32(plain.data(), source, width);
        if (kHasSsse3) {
            ConvertRgb24ToArgb32Ssse3(fast.data(), source, width);
            if (plain != fast) {
                std::abort(); // the two converters must agree on every input
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DdsFile file;
    if (ParseDdsFile(data, size, &file) != kSOk) {
        return 0;
    }
    if (file.payload + file.payloadSize != data + size) {
        std::abort();
    }
    const D3dFormat format = DdsFormatFromPixelFormat(file.header.pixelFormat);
    if (DdsBitsPerPixel(format) == 0) {
        return 0;
    }
    std::uint32_t width = file.header.width;
    std::uint32_t height = file.header.height;
    const std::uint32_t levels = file.header.mipMapCount == 0 ? 1 : file.header.mipMapCount;
    const std::uint8_t* level = file.payload;
    std::size_t remaining = file.payloadSize;
    for (std::uint32_t i = 0; i < levels; ++i) {
        const DdsLayout layout = DdsLevelLayout(format, width, height);
        const std::uint64_t levelSize = layout.Size();
        if (levelSize > remaining) {
            break; // too few bytes for this level
        }
        if (levelSize == 0) {
            // A zero width or height: nothing to decode.
        } else if (IsDxtFormat(format)) {
            DecodeLevel(format, level, layout);
        } else if (format == d3dfmt::kR8G8B8) {
            ConvertLevel(level, layout, width);
        } else {
            volatile std::uint8_t last = level[levelSize - 1];
            (void)last;
        }
        level += levelSize;
        remaining -= static_cast<std::size_t>(levelSize);
        width = DdsNextLevelExtent(width);
        height = DdsNextLevelExtent(height);
    }
    return 0;
}
