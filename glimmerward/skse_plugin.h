// The plug-in framework: turns a script extender plug-in into one class. The framework owns the
// DLL attach step, the two exports, the plug-in's log and a notification that reaches the plug-in
// once the game's data is loaded; it forwards to the virtual hooks of the one global object of a
// class derived from SKSEPlugin.
#pragma once

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

#include <windows.h>

#include "host/extender.h"

// The plug-in's log file; nothing beyond an output file stream.
class DebugLog : public std::ofstream {};

// What the framework learnt from Windows and the extender, readable by the derived plug-in.
struct PluginFrameworkState {
    const host::InterfaceRecord* skse = nullptr;
    host::PluginInfo* info = nullptr;
    std::uint32_t pluginHandle = 0xFFFFFFFF;
    std::uint32_t extenderVersion = 0;
    std::uint32_t runtimeVersion = 0;
    std::uint32_t releaseIndex = 0;
    void* interfaces[5] = {};
    HMODULE module = nullptr;
    std::string name;
};

class SKSEPlugin {
public:
    // Registers this object as the plug-in instance; there is exactly one, a global.
    SKSEPlugin();
    virtual ~SKSEPlugin();
    SKSEPlugin(const SKSEPlugin&) = delete;
    SKSEPlugin& operator=(const SKSEPlugin&) = delete;

    // The plug-in's own acceptance test, run at the end of the query.
    virtual bool OnQuery();
    // The plug-in's own load step, run first in the load.
    virtual bool OnLoad();
    // Runs once when the game is live. Overriding it is what subscribes the framework's
    // mod-loaded sink at all.
    virtual void OnModLoaded();

    static const PluginFrameworkState& Framework();
    static std::ostream& Log();

    // Whether the plug-in instance replaces the base OnModLoaded.
    bool OverridesOnModLoaded();
};

// The DLL entry: attach records the module and the plug-in name.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

PLUGIN_EXPORT bool SKSEPlugin_Query(const host::InterfaceRecord* skse, host::PluginInfo* info);
PLUGIN_EXPORT bool SKSEPlugin_Load(const host::InterfaceRecord* skse);
