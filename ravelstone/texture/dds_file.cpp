// Finding the header and the pixel data of a DDS file in memory.
#include <cstring>

#include "ravelstone/texture/dds_file.h"

namespace ravelstone {

HResult ParseDdsFile(const void* data, std::size_t size, DdsFile* file) {
    if (data == nullptr || size < kDdsPayloadOffset) {
        return kEFail;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t magic;
    std::memcpy(&magic, bytes, sizeof magic);
    if (magic != kDdsMagic) {
        return kEFail;
    }
    DdsHeader header;
    std::memcpy(&header, bytes + 4, sizeof header);
    if (header.size != kDdsHeaderSize || header.pixelFormat.size != kDdsPixelFormatSize) {
        return kEFail;
    }
    std::size_t payloadOffset = kDdsPayloadOffset;
    if ((header.pixelFormat.flags & kDdpfFourCC) && header.pixelFormat.fourCC == kDdsDx10FourCC) {
        if (size < kDdsDx10PayloadOffset) {
            return kEFail;
        }
        payloadOffset = kDdsDx10PayloadOffset;
    }
    file->header = header;
    file->payload = bytes + payloadOffset;
    file->payloadSize = size - payloadOffset;
    return kSOk;
}

} // namespace ravelstone
