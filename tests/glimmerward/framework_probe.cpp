// A plug-in built on the framework that overrides none of its hooks, with extra exports that
// show what the framework recorded.
#include "glimmerward/skse_plugin.h"

namespace {
class ProbePlugin : public SKSEPlugin {};
ProbePlugin g_probe;
} // namespace

extern "C" __declspec(dllexport) std::uint32_t ProbeReleaseIndex() {
    return SKSEPlugin::Framework().releaseIndex;
}
extern "C" __declspec(dllexport) std::uint32_t ProbePluginHandle() {
    return SKSEPlugin::Framework().pluginHandle;
}
extern "C" __declspec(dllexport) void* ProbeInterface(std::uint32_t index) {
    return SKSEPlugin::Framework().interfaces[index];
}
extern "C" __declspec(dllexport) const char* ProbeName() {
    return SKSEPlugin::Framework().name.c_str();
}
