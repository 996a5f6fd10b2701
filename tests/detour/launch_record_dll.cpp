// A module as a launcher leaves it: a ".detour" section that holds the saved copies of the
// executable's headers. Where they go back to is filled in by each test.
#include "tests/detour/launch_payload.h"

using namespace ravelstone::detour;
using launch_payload::Payload;

namespace {

constexpr std::uint8_t kOtherGuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

constexpr Payload MakePayload() {
    Payload payload{};
    payload.header = {64, kPayloadSignature, 64, sizeof(Payload)};
    payload.other.header.totalSize = sizeof payload.other;
    for (int i = 0; i < 16; ++i) {
        payload.other.header.guid[i] = kOtherGuid[i];
        payload.restore.header.guid[i] = kRestoreRecordGuid[i];
    }
    payload.restore.header.totalSize = sizeof payload.restore;
    payload.restore.record.recordSize = kRestoreRecordSize;
    return payload;
}

} // namespace

__attribute__((section(".detour"), used)) constinit Payload g_payload = MakePayload();

extern "C" __declspec(dllexport) Payload* LaunchPayload() {
    return &g_payload;
}
