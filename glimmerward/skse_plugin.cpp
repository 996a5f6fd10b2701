#include "glimmerward/skse_plugin.h"

#include <cstring>

#include <shlobj.h>

#include "glimmerward/host_events.h"
#include "glimmerward/release_table.h"

namespace {

// From this extender version on the extender reports its release index itself.
constexpr std::uint32_t kExtenderWithReleaseIndex = 0x01070000;

constexpr char kLogFolder[] = "\\My Games\\Skyrim\\SKSE\\";
constexpr char kLogExtension[] = ".log";

SKSEPlugin* g_plugin = nullptr;
// The base class's own OnModLoaded, taken while the plug-in object is still only an SKSEPlugin.
void* g_baseOnModLoaded = nullptr;
PluginFrameworkState g_state;

DebugLog g_log;
// Tells the plug-in object's destructor whether the log still exists: the two are globals of
// different files, so their destruction order at exit is not fixed. Defined after g_log, so it
// is destroyed first.
bool g_logAlive = false;
struct LogLifetime {
    LogLifetime() { g_logAlive = true; }
    ~LogLifetime() { g_logAlive = false; }
} g_logLifetime;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpmf-conversions"
// The function a virtual call of OnModLoaded on plugin would reach (GCC's bound member
// function extraction).
void* OnModLoadedOf(SKSEPlugin* plugin) {
    return reinterpret_cast<void*>((void (*)(SKSEPlugin*))(plugin->*(&SKSEPlugin::OnModLoaded)));
}
#pragma GCC diagnostic pop

// The file name of path without drive, folder and extension.
std::string FileTitle(const char* path) {
    std::string name = path;
    const std::size_t folderEnd = name.find_last_of("\\/:");
    if (folderEnd != std::string::npos) {
        name.erase(0, folderEnd + 1);
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

// documents + "\My Games\Skyrim\SKSE\" + name + ".log", or empty when the documents folder is
// unknown or the path would not fit a 260-byte buffer.
std::string LogPath(const std::string& name) {
    char documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        return {};
    }
    std::string path = documents;
    path += kLogFolder;
    path += name;
    path += kLogExtension;
    return path.size() < MAX_PATH ? path : std::string();
}

void OpenLogOnce() {
    if (g_log.is_open() || g_state.name.empty()) {
        return;
    }
    const std::string path = LogPath(g_state.name);
    if (!path.empty()) {
        // A failed open leaves the stream failed; later writes are dropped.
        g_log.open(path, std::ios::out | std::ios::trunc);
    }
}

// The first applied magic effect is the sign that the game's data is loaded and the game runs.
class ModLoadedEventSink : public BSTEventSink<TESMagicEffectApplyEvent> {
public:
    ModLoadedEventSink() { functions = &kFunctions; }

private:
    static void* HOST_THISCALL Destroy(BSTEventSink* self, std::uint32_t) {
        // A function-local static: the game never owns its memory.
        return self;
    }
    static EventResult HOST_THISCALL ReceiveEvent(BSTEventSink* self, TESMagicEffectApplyEvent*,
                                                  EventDispatcher<TESMagicEffectApplyEvent>* from) {
        // Unsubscribing first makes OnModLoaded run once per process.
        RemoveEventSink(from, self);
        if (g_plugin != nullptr) {
            g_plugin->OnModLoaded();
        }
        return EventResult::Continue;
    }
    static constexpr FunctionTable kFunctions = {&Destroy, &ReceiveEvent};
};

} // namespace

SKSEPlugin::SKSEPlugin() {
    g_plugin = this;
    g_baseOnModLoaded = OnModLoadedOf(this);
}

SKSEPlugin::~SKSEPlugin() {
    if (g_logAlive && g_log.is_open()) {
        g_log.close();
    }
    if (g_plugin == this) {
        g_plugin = nullptr;
    }
}

bool SKSEPlugin::OnQuery() {
    return true;
}

bool SKSEPlugin::OnLoad() {
    g_log << g_state.name << ".dll" << std::endl;
    // An extender that left the information record without a name gets an empty one here
    // rather than a write through a null text.
    const host::PluginInfo* info = g_state.info;
    g_log << (info != nullptr && info->name != nullptr ? info->name : "") << " ver."
          << (info != nullptr ? info->version : 0u) << " loaded." << std::endl;
    return true;
}

void SKSEPlugin::OnModLoaded() {}

const PluginFrameworkState& SKSEPlugin::Framework() {
    return g_state;
}

std::ostream& SKSEPlugin::Log() {
    return g_log;
}

bool SKSEPlugin::OverridesOnModLoaded() {
    return OnModLoadedOf(this) != g_baseOnModLoaded;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_state.module = module;
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
        // A cut path (length MAX_PATH) would give a wrong name: keep the name empty instead.
        if (length != 0 && length < MAX_PATH) {
            g_state.name = FileTitle(path);
        }
    }
    return TRUE;
}

PLUGIN_EXPORT bool SKSEPlugin_Query(const host::InterfaceRecord* skse, host::PluginInfo* info) {
    if (g_plugin == nullptr) {
        return false;
    }
    g_state.skse = skse;
    g_state.info = info;
    if (skse->isEditor != 0 || skse->runtimeVersion != host::kRuntime1_9_32_0) {
        return false;
    }
    g_state.pluginHandle = skse->GetPluginHandle();
    g_state.extenderVersion = skse->extenderVersion;
    g_state.runtimeVersion = skse->runtimeVersion;
    if (skse->extenderVersion >= kExtenderWithReleaseIndex) {
        g_state.releaseIndex = skse->GetReleaseIndex();
    } else {
        g_state.releaseIndex =
            glimmerward::ReleaseIndexForVersion(skse->extenderVersion, g_state.releaseIndex);
    }
    OpenLogOnce();
    for (std::uint32_t id = 1; id <= 5; ++id) {
        g_state.interfaces[id - 1] = skse->QueryInterface(id);
    }
    return g_plugin->OnQuery();
}

PLUGIN_EXPORT bool SKSEPlugin_Load(const host::InterfaceRecord*) {
    if (g_plugin == nullptr || !g_plugin->OnLoad()) {
        return false;
    }
    if (!g_plugin->OverridesOnModLoaded()) {
        return true;
    }
    static ModLoadedEventSink sink;
    AddEventSink(GameDispatcher<TESMagicEffectApplyEvent>(),
                 static_cast<BSTEventSink<TESMagicEffectApplyEvent>*>(&sink));
    return true;
}
