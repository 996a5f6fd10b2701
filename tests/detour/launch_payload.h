// The ".detour" payload of the test module launch_record.dll: a record of another kind, then
// the restore record. Tests change it in place through the module's LaunchPayload export.
#pragma once

#include <cstdint>

#include "ravelstone/detour/restore_record.h"

namespace launch_payload {

struct OtherRecord {
    ravelstone::detour::PayloadRecordHeader header;
    std::uint8_t data[8];
};

struct RestoreEntry {
    ravelstone::detour::PayloadRecordHeader header;
    ravelstone::detour::RestoreRecord record;
};

struct Payload {
    ravelstone::detour::PayloadHeader header;
    std::uint8_t headerRest[48];
    OtherRecord other;
    RestoreEntry restore;
};
static_assert(sizeof(Payload::header) + sizeof(Payload::headerRest) == 64);

using PayloadFn = Payload* (*)();

} // namespace launch_payload
