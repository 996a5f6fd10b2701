// Ravelstone's three entries: Windows' DLL entry, the extender's query and load. The load
// installs every feature in one fixed order.
#include <windows.h>

#include "host/extender.h"
#include "ravelstone/core/cpu_features.h"
#include "ravelstone/core/log.h"
#include "ravelstone/detour/detour.h"
#include "ravelstone/engine/camera_scale.h"
#include "ravelstone/engine/math_routines.h"
#include "ravelstone/engine/sleep_cave.h"
#include "ravelstone/texture/rgb24_convert.h"

using ravelstone::GetLog;
using ravelstone::LogMessage;
namespace detour = ravelstone::detour;

namespace {

constexpr char kPluginName[] = "Ravelstone";

BOOL AttachStep(HINSTANCE module) {
    // The first use of the log creates the file, so its first line is the bare name.
    ravelstone::LogLine(GetLog(), "%s", kPluginName);
    DisableThreadLibraryCalls(module);
    detour::BeginHookTransaction();
    detour::EnlistThread(GetCurrentThread());
    detour::CommitHookTransaction();
    return TRUE;
}

BOOL DetachStep() {
    LogMessage(GetLog(), ravelstone::kLogInfo, "Detach");
    detour::BeginHookTransaction();
    detour::EnlistThread(GetCurrentThread());
    // The same variants as the load step chose: the feature word does not change.
    ravelstone::DetachMathRoutines(ravelstone::CpuFeatures());
    // Whatever the commit answers, the library goes.
    detour::CommitHookTransaction();
    return TRUE;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return AttachStep(module);
    case DLL_PROCESS_DETACH:
        return DetachStep();
    default:
        return TRUE;
    }
}

PLUGIN_EXPORT bool SKSEPlugin_Query(const host::InterfaceRecord* skse, host::PluginInfo* info) {
    info->infoVersion = 1;
    info->name = kPluginName;
    info->version = 1;
    if (skse->isEditor != 0) {
        LogMessage(GetLog(), ravelstone::kLogError, "loaded in editor, marking as incompatible");
        return false;
    }
    // Any later runtime is accepted too.
    if (skse->runtimeVersion < host::kRuntime1_9_32_0) {
        LogMessage(GetLog(), ravelstone::kLogError, "unsupported runtime version %08X",
                   static_cast<unsigned>(skse->runtimeVersion));
        return false;
    }
    // The handle is asked for, as the extender expects of a plug-in, but not needed.
    if (skse->GetPluginHandle != nullptr) {
        skse->GetPluginHandle();
    }
    LogMessage(GetLog(), ravelstone::kLogInfo, "Queue OK");
    return true;
}

PLUGIN_EXPORT bool SKSEPlugin_Load(const host::InterfaceRecord*) {
    // Whatever a launcher saved of the game's headers goes back first; the result changes nothing.
    detour::RestoreLaunchHeaders();
    // Hooks take effect at the commit, all or none; jumps take effect as they are written.
    detour::BeginHookTransaction();
    ravelstone::SelectRgb24Converter(ravelstone::HasSsse3());
    ravelstone::InstallSleepCave();
    ravelstone::InstallCameraFix();
    ravelstone::AttachMathRoutines(ravelstone::CpuFeatures());
    detour::CommitHookTransaction();
    LogMessage(GetLog(), ravelstone::kLogInfo, "SKSEPlugin_Load");
    return true;
}
