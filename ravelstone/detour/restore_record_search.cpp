// Searching one module's ".detour" section for the restore record. Every read goes through
// SafeRead: the images are found by walking memory, and their contents are not trusted.
#include <cstring>

#include <windows.h>

#include "ravelstone/detour/launch_headers.h"
#include "ravelstone/detour/memory_probe.h"
#include "ravelstone/detour/restore_record.h"

namespace ravelstone::detour {
namespace {

bool Writable(std::uintptr_t address, std::size_t size) {
    MEMORY_BASIC_INFORMATION block;
    if (VirtualQuery(reinterpret_cast<void*>(address), &block, sizeof block) == 0 ||
        block.State != MEM_COMMIT || (block.Protect & PAGE_GUARD) != 0) {
        return false;
    }
    constexpr DWORD kWritable =
        PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const auto end = reinterpret_cast<std::uintptr_t>(block.BaseAddress) + block.RegionSize;
    return (block.Protect & kWritable) != 0 && address + size <= end;
}

// The payload section's address, or why there is none.
std::uint32_t FindPayloadSection(std::uintptr_t base, std::uintptr_t& section) {
    IMAGE_DOS_HEADER dos;
    if (!SafeRead(base, &dos, sizeof dos)) {
        return ERROR_NOACCESS;
    }
    if (dos.e_magic != IMAGE_DOS_SIGNATURE) {
        return ERROR_BAD_EXE_FORMAT;
    }
    const std::uintptr_t nt = base + static_cast<std::uint32_t>(dos.e_lfanew);
    std::uint32_t signature = 0;
    IMAGE_FILE_HEADER file;
    if (!SafeRead(nt, &signature, sizeof signature) ||
        !SafeRead(nt + sizeof signature, &file, sizeof file)) {
        return ERROR_NOACCESS;
    }
    if (signature != IMAGE_NT_SIGNATURE) {
        return ERROR_INVALID_EXE_SIGNATURE;
    }
    std::uintptr_t header = nt + sizeof signature + sizeof file + file.SizeOfOptionalHeader;
    for (unsigned i = 0; i < file.NumberOfSections; ++i, header += sizeof(IMAGE_SECTION_HEADER)) {
        IMAGE_SECTION_HEADER candidate;
        if (!SafeRead(header, &candidate, sizeof candidate)) {
            return ERROR_NOACCESS;
        }
        if (std::memcmp(candidate.Name, kPayloadSectionName, sizeof candidate.Name) != 0) {
            continue;
        }
        if (candidate.VirtualAddress == 0 || candidate.SizeOfRawData == 0) {
            return ERROR_EXE_MARKED_INVALID;
        }
        section = base + candidate.VirtualAddress;
        return 0;
    }
    return ERROR_EXE_MARKED_INVALID;
}

} // namespace

std::uint32_t FindRestoreRecordInModule(std::uintptr_t base, FoundRecord& found) {
    std::uintptr_t section = 0;
    if (const std::uint32_t error = FindPayloadSection(base, section)) {
        return error;
    }
    PayloadHeader header;
    if (!SafeRead(section, &header, sizeof header)) {
        return ERROR_NOACCESS;
    }
    if (header.headerSize < kMinPayloadHeaderSize || header.signature != kPayloadSignature) {
        return ERROR_EXE_MARKED_INVALID;
    }
    if (header.dataOffset == 0) {
        header.dataOffset = header.headerSize;
        // Written back for whoever reads the payload next, where the section allows it.
        const std::uintptr_t field = section + offsetof(PayloadHeader, dataOffset);
        if (Writable(field, sizeof header.dataOffset)) {
            std::memcpy(reinterpret_cast<void*>(field), &header.dataOffset,
                        sizeof header.dataOffset);
        }
    }
    // 64-bit positions: offsets from an untrusted header must not wrap around.
    std::uint64_t at = std::uint64_t{section} + header.dataOffset;
    const std::uint64_t end = std::uint64_t{section} + header.dataEndOffset;
    while (at < end) {
        PayloadRecordHeader record;
        if (at > UINTPTR_MAX ||
            !SafeRead(static_cast<std::uintptr_t>(at), &record, sizeof record)) {
            return ERROR_NOACCESS;
        }
        // A record shorter than its own header would never move the walk forward.
        if (record.totalSize < sizeof record) {
            return ERROR_EXE_MARKED_INVALID;
        }
        if (std::memcmp(record.guid, kRestoreRecordGuid, sizeof record.guid) == 0) {
            found.data = static_cast<std::uintptr_t>(at + sizeof record);
            found.dataSize = record.totalSize - static_cast<std::uint32_t>(sizeof record);
            return 0;
        }
        at += record.totalSize;
    }
    return ERROR_INVALID_HANDLE;
}

} // namespace ravelstone::detour
