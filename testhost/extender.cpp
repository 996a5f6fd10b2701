#include "testhost/extender.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace testhost {

namespace {

struct ExtenderState {
    ExtenderCalls calls;
    std::uint32_t pluginHandle = 0x00000007;
    std::uint32_t releaseIndex = 0;
    std::map<std::uint32_t, void*> interfaces;
};

ExtenderState* g_state = nullptr;

void* __cdecl QueryInterface(std::uint32_t id) {
    g_state->calls.queriedInterfaces.push_back(id);
    g_state->calls.sequence.push_back("QueryInterface(" + std::to_string(id) + ")");
    auto found = g_state->interfaces.find(id);
    return found == g_state->interfaces.end() ? nullptr : found->second;
}

std::uint32_t __cdecl GetPluginHandle() {
    ++g_state->calls.pluginHandleCalls;
    g_state->calls.sequence.push_back("GetPluginHandle");
    return g_state->pluginHandle;
}

std::uint32_t __cdecl GetReleaseIndex() {
    ++g_state->calls.releaseIndexCalls;
    g_state->calls.sequence.push_back("GetReleaseIndex");
    return g_state->releaseIndex;
}

} // namespace

Extender::Extender(std::uint32_t extenderVersion, std::uint32_t runtimeVersion, bool editor) {
    g_state = new ExtenderState;
    record_.extenderVersion = extenderVersion;
    record_.runtimeVersion = runtimeVersion;
    record_.editorVersion = 0;
    record_.isEditor = editor ? 1 : 0;
    record_.QueryInterface = &QueryInterface;
    record_.GetPluginHandle = &GetPluginHandle;
    record_.GetReleaseIndex = &GetReleaseIndex;
}

Extender::~Extender() {
    // The plug-in stays loaded, as in the game: its detach step runs at process end.
    delete g_state;
    g_state = nullptr;
}

ExtenderCalls& Extender::calls() {
    return g_state->calls;
}
void Extender::SetPluginHandle(std::uint32_t handle) {
    g_state->pluginHandle = handle;
}
void Extender::SetReleaseIndex(std::uint32_t index) {
    g_state->releaseIndex = index;
}
void Extender::SetInterface(std::uint32_t id, void* object) {
    g_state->interfaces[id] = object;
}

std::string BinDir() {
    const char* dir = std::getenv("TESTHOST_BIN_DIR");
    return dir != nullptr ? dir : ".";
}

HMODULE Extender::LoadPlugin(const std::string& dllName, const std::string& asName) {
    namespace fs = std::filesystem;
    const fs::path pluginDir = fs::current_path() / "Data" / "SKSE" / "Plugins";
    fs::create_directories(pluginDir);
    const fs::path target = pluginDir / (asName.empty() ? dllName : asName);
    std::error_code error;
    fs::copy_file(fs::path(BinDir()) / dllName, target, fs::copy_options::overwrite_existing,
                  error);
    EXPECT_FALSE(error) << "copying " << dllName << ": " << error.message();
    module_ = LoadLibraryA(target.string().c_str());
    EXPECT_NE(module_, nullptr) << "LoadLibrary " << target << ": " << GetLastError();
    return module_;
}

bool Extender::Query(host::PluginInfo& info) {
    auto query = reinterpret_cast<host::QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "SKSEPlugin_Query")));
    EXPECT_NE(query, nullptr);
    return query != nullptr && query(&record_, &info);
}

bool Extender::Load() {
    auto load = reinterpret_cast<host::LoadFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "SKSEPlugin_Load")));
    EXPECT_NE(load, nullptr);
    return load != nullptr && load(&record_);
}

} // namespace testhost
