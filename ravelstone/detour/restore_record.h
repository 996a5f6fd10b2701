// The layout a launcher uses to leave saved copies of the executable's headers in a ".detour"
// section of one of the process's modules. All integers are 32-bit little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ravelstone::detour {

inline constexpr char kPayloadSectionName[8] = ".detour";

// At the section's start. Offsets count from the header's start.
struct PayloadHeader {
    std::uint32_t headerSize;
    std::uint32_t signature;
    std::uint32_t dataOffset; // 0 stands for headerSize
    std::uint32_t dataEndOffset;
};
inline constexpr std::uint32_t kPayloadSignature = 0x00727444;
inline constexpr std::uint32_t kMinPayloadHeaderSize = 64;

// Records follow one another from the data offset to the data end offset.
struct PayloadRecordHeader {
    std::uint32_t totalSize; // this header included
    std::uint32_t reserved;
    std::uint8_t guid[16];
};
static_assert(sizeof(PayloadRecordHeader) == 24);

// {2ED7A3FF-3339-4A8D-805C-D498153FC28F} as it lies in memory.
inline constexpr std::uint8_t kRestoreRecordGuid[16] = {
    0xFF, 0xA3, 0xD7, 0x2E, 0x39, 0x33, 0x8D, 0x4A, 0x80, 0x5C, 0xD4, 0x98, 0x15, 0x3F, 0xC2, 0x8F};

// The data of the record with that GUID.
struct RestoreRecord {
    std::uint32_t recordSize;
    std::uint32_t dosHeaderBytes;
    std::uint32_t ntHeadersBytes;
    std::uint32_t clrFlagsBytes;
    std::uint32_t dosHeaderAddress;
    std::uint32_t ntHeadersAddress;
    std::uint32_t clrFlagsAddress; // 0 when the executable has none
    std::uint8_t dosHeader[64];
    std::uint8_t ntHeaders[1544];
    std::uint8_t clrFlags[20];
};
inline constexpr std::uint32_t kRestoreRecordSize = 1656;
static_assert(sizeof(RestoreRecord) == kRestoreRecordSize);
static_assert(offsetof(RestoreRecord, dosHeader) == 28);
static_assert(offsetof(RestoreRecord, ntHeaders) == 92);
static_assert(offsetof(RestoreRecord, clrFlags) == 1636);

} // namespace ravelstone::detour
