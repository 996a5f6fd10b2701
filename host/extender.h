// The two records that cross between the script extender and a plug-in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

// Game runtime 1.9.32.0 as the extender reports it.
inline constexpr std::uint32_t kRuntime1_9_32_0 = 0x09200000;

using QueryInterfaceFn = void*(__cdecl*)(std::uint32_t interfaceId);
using GetPluginHandleFn = std::uint32_t(__cdecl*)();
using GetReleaseIndexFn = std::uint32_t(__cdecl*)();

// Handed to both exports and only read by the plug-ins.
struct InterfaceRecord {
    std::uint32_t extenderVersion;
    std::uint32_t runtimeVersion;
    std::uint32_t editorVersion;
    std::uint32_t isEditor;
    QueryInterfaceFn QueryInterface;
    GetPluginHandleFn GetPluginHandle;
    GetReleaseIndexFn GetReleaseIndex;
};

// Filled by the plug-in during the query.
struct PluginInfo {
    std::uint32_t infoVersion;
    const char* name;
    std::uint32_t version;
};

#if defined(_WIN32)
static_assert(sizeof(void*) == 4, "the plug-ins are 32-bit");
static_assert(offsetof(InterfaceRecord, extenderVersion) == 0x00);
static_assert(offsetof(InterfaceRecord, runtimeVersion) == 0x04);
static_assert(offsetof(InterfaceRecord, editorVersion) == 0x08);
static_assert(offsetof(InterfaceRecord, isEditor) == 0x0C);
static_assert(offsetof(InterfaceRecord, QueryInterface) == 0x10);
static_assert(offsetof(InterfaceRecord, GetPluginHandle) == 0x14);
static_assert(offsetof(InterfaceRecord, GetReleaseIndex) == 0x18);
static_assert(sizeof(InterfaceRecord) == 0x1C);
static_assert(offsetof(PluginInfo, infoVersion) == 0x00);
static_assert(offsetof(PluginInfo, name) == 0x04);
static_assert(offsetof(PluginInfo, version) == 0x08);
static_assert(sizeof(PluginInfo) == 0x0C);
#endif

// The signatures of the two exports: cdecl, one-byte Boolean result.
using QueryFn = bool(__cdecl*)(const InterfaceRecord*, PluginInfo*);
using LoadFn = bool(__cdecl*)(const InterfaceRecord*);

} // namespace host

// Each plug-in exports exactly these two names, undecorated.
#if defined(_WIN32)
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C"
#endif
