// Writing back the executable's headers that a launcher saved before it changed them.
#include <cstring>

#include <windows.h>

#include "ravelstone/detour/detour.h"
#include "ravelstone/detour/launch_headers.h"
#include "ravelstone/detour/memory_probe.h"
#include "ravelstone/detour/restore_record.h"

namespace ravelstone::detour {
namespace {

// Where the walk starts, and how far past a module's base it resumes: the allocation
// granularity, below which nothing is ever mapped.
constexpr std::uintptr_t kWalkStep = 0x10000;

bool FindRestoreRecord(FoundRecord& found) {
    std::uintptr_t from = kWalkStep;
    std::uintptr_t base = 0;
    while (FindNextModule(from, base)) {
        if (FindRestoreRecordInModule(base, found) == 0) {
            return true;
        }
        if (base + kWalkStep < base) {
            break;
        }
        from = base + kWalkStep;
    }
    return false;
}

void* At(std::uint32_t address) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
}

// Copies saved bytes over live ones whose page may be read-only, restoring the protection.
bool WriteThroughProtection(std::uint32_t address, const void* saved, std::uint32_t size) {
    DWORD old = 0;
    if (!VirtualProtect(At(address), size, PAGE_EXECUTE_READWRITE, &old)) {
        return false;
    }
    std::memcpy(At(address), saved, size);
    VirtualProtect(At(address), size, old, &old);
    return true;
}

} // namespace

bool RestoreLaunchHeaders() {
    FoundRecord found{};
    if (!FindRestoreRecord(found) || found.dataSize == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    RestoreRecord record;
    // A record size of 1656 that is larger than the data is refused like any other size.
    if (found.dataSize < kRestoreRecordSize) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return false;
    }
    if (!SafeRead(found.data, &record, sizeof record)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    // Counts beyond their saved fields would copy whatever follows the record.
    if (record.recordSize != kRestoreRecordSize ||
        record.dosHeaderBytes > sizeof record.dosHeader ||
        record.ntHeadersBytes > sizeof record.ntHeaders ||
        record.clrFlagsBytes > sizeof record.clrFlags) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return false;
    }

    // The DOS and NT headers usually share a page: the NT headers' old protection is then the
    // one set for the DOS header, and restoring the DOS header's last gives the page back.
    bool restored = false;
    DWORD dosOld = 0;
    if (VirtualProtect(At(record.dosHeaderAddress), record.dosHeaderBytes, PAGE_EXECUTE_READWRITE,
                       &dosOld)) {
        DWORD ntOld = 0;
        if (VirtualProtect(At(record.ntHeadersAddress), record.ntHeadersBytes,
                           PAGE_EXECUTE_READWRITE, &ntOld)) {
            std::memcpy(At(record.dosHeaderAddress), record.dosHeader, record.dosHeaderBytes);
            std::memcpy(At(record.ntHeadersAddress), record.ntHeaders, record.ntHeadersBytes);
            restored = record.clrFlagsAddress == 0 ||
                       WriteThroughProtection(record.clrFlagsAddress, record.clrFlags,
                                              record.clrFlagsBytes);
            VirtualProtect(At(record.ntHeadersAddress), record.ntHeadersBytes, ntOld, &ntOld);
        }
        VirtualProtect(At(record.dosHeaderAddress), record.dosHeaderBytes, dosOld, &dosOld);
    }
    return restored;
}

} // namespace ravelstone::detour
