// The script extender's side: the interface record, the functions behind it (recording how
// they were called), and loading a plug-in and calling its two exports.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "host/extender.h"

namespace testhost {

// What the plug-ins asked of the extender, in order.
struct ExtenderCalls {
    std::vector<std::uint32_t> queriedInterfaces;
    int pluginHandleCalls = 0;
    int releaseIndexCalls = 0;
    // Every call to any of the three functions, by name, in order.
    std::vector<std::string> sequence;
};

class Extender {
public:
    Extender(std::uint32_t extenderVersion, std::uint32_t runtimeVersion, bool editor);
    ~Extender();
    Extender(const Extender&) = delete;
    Extender& operator=(const Extender&) = delete;

    host::InterfaceRecord& record() { return record_; }
    ExtenderCalls& calls();

    // What the functions answer.
    void SetPluginHandle(std::uint32_t handle);
    void SetReleaseIndex(std::uint32_t index);
    void SetInterface(std::uint32_t id, void* object);

    // Copies the DLL from the build's output folder into the scenario's Data/SKSE/Plugins under
    // the given file name (the same name by default) and loads it from there.
    HMODULE LoadPlugin(const std::string& dllName, const std::string& asName = "");
    bool Query(host::PluginInfo& info);
    bool Load();

    HMODULE module() const { return module_; }

private:
    host::InterfaceRecord record_{};
    HMODULE module_ = nullptr;
};

// The build's output folder, where the plug-in DLLs are.
std::string BinDir();

} // namespace testhost
