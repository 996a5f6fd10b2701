// Finding a launcher's restore record among the process's modules.
#pragma once

#include <cstdint>

namespace ravelstone::detour {

// The next module image at or above from, found by walking the address space (committed,
// readable blocks that start with valid DOS and NT signatures); false when the walk ends.
bool FindNextModule(std::uintptr_t from, std::uintptr_t& base);

struct FoundRecord {
    std::uintptr_t data; // the record's data, behind its 24-byte header
    std::uint32_t dataSize;
};

// Searches the ".detour" section of the module image at base for the restore record. Returns
// 0 with found set, or why the module has none: ERROR_BAD_EXE_FORMAT (no DOS signature),
// ERROR_INVALID_EXE_SIGNATURE (no NT signature), ERROR_EXE_MARKED_INVALID (no usable section
// or payload header), ERROR_INVALID_HANDLE (no such record), ERROR_NOACCESS (unreadable).
std::uint32_t FindRestoreRecordInModule(std::uintptr_t base, FoundRecord& found);

} // namespace ravelstone::detour
