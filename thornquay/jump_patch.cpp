// Thornquay: turns the short conditional jump at one game site into an unconditional one.
#include <cstdint>

#include "host/extender.h"
#include "host/host_code.h"

namespace {

// In runtime 1.9.32.0 this byte is the opcode of a two-byte short conditional jump (0x70-0x7F).
constexpr std::uintptr_t HostConditionalJump = 0x006AAC5F;
// The two-byte short unconditional jump; the displacement byte after it stays as it is.
constexpr std::uint8_t kJumpShortOpcode = 0xEB;

constexpr char kPluginName[] = "Thornquay";

} // namespace

PLUGIN_EXPORT bool SKSEPlugin_Query(const host::InterfaceRecord* skse, host::PluginInfo* info) {
    info->infoVersion = 1;
    info->name = kPluginName;
    info->version = 1;
    return skse->isEditor == 0 && skse->runtimeVersion == host::kRuntime1_9_32_0;
}

PLUGIN_EXPORT bool SKSEPlugin_Load(const host::InterfaceRecord*) {
    // The query's runtime check is the only guard: the byte is not read first. When the page
    // cannot be made writable nothing is written, and the load still succeeds.
    host::WriteHostCode(HostConditionalJump, &kJumpShortOpcode, sizeof kJumpShortOpcode);
    return true;
}
