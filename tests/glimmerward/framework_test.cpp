// The plug-in framework in the stand-in host: the query's order and checks, the plug-in name
// and log, the release index, and the once-only mod-loaded notification.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "testhost/extender.h"
#include "tests/glimmerward/game_world.h"
#include "tests/glimmerward/plugin_files.h"

namespace glimmerward_test {
namespace {

constexpr std::uint32_t kRuntime = 0x09200000;
constexpr std::uint32_t kSentinel = 0xCCCCCCCC;
const char* const kSentinelName = "untouched";

const std::vector<std::string> kQueryWithoutReleaseIndex = {
    "GetPluginHandle",   "QueryInterface(1)", "QueryInterface(2)",
    "QueryInterface(3)", "QueryInterface(4)", "QueryInterface(5)"};

// Loads a plug-in under a file name of the scenario's own, and at the end unloads it (which
// closes its log) and deletes that log, so the shared documents folder keeps nothing.
class ScenarioPlugin {
public:
    ScenarioPlugin(testhost::Extender& loader, const char* dll, std::string name)
        : loader_(loader), name_(std::move(name)), logPath_(LogPathFor(name_)) {
        DeleteFileA(logPath_.c_str());
        module_ = loader.LoadPlugin(dll, name_ + ".dll");
    }
    ~ScenarioPlugin() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
        DeleteFileA(logPath_.c_str());
    }
    ScenarioPlugin(const ScenarioPlugin&) = delete;
    ScenarioPlugin& operator=(const ScenarioPlugin&) = delete;

    HMODULE module() const { return module_; }
    const std::string& name() const { return name_; }
    const std::string& logPath() const { return logPath_; }
    template <class F> F Export(const char* symbol) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, symbol)));
    }

private:
    testhost::Extender& loader_;
    std::string name_;
    std::string logPath_;
    HMODULE module_ = nullptr;
};

host::PluginInfo UntouchedInfo() {
    return host::PluginInfo{kSentinel, kSentinelName, kSentinel};
}

void ExpectUntouched(const host::PluginInfo& info) {
    EXPECT_EQ(info.infoVersion, kSentinel);
    EXPECT_EQ(info.name, kSentinelName);
    EXPECT_EQ(info.version, kSentinel);
}

// The only scenario that uses the file name Glimmerward.dll, and so the only one that touches
// Glimmerward.log in the shared documents folder.
TEST(GlimmerwardQuery, NamesItselfGlimmerwardAndCreatesAnEmptyLog) {
    GameWorld world;
    const std::string log = LogPathFor("Glimmerward");
    DeleteFileA(log.c_str());
    testhost::Extender loader(0x010600C0, kRuntime, false);
    ASSERT_NE(loader.LoadPlugin("Glimmerward.dll"), nullptr);
    host::PluginInfo info = UntouchedInfo();
    ASSERT_TRUE(loader.Query(info));
    EXPECT_EQ(info.infoVersion, kSentinel) << "the information version is not Glimmerward's";
    ASSERT_NE(info.name, nullptr);
    EXPECT_STREQ(info.name, "Glimmerward");
    EXPECT_EQ(info.version, 1u);
    EXPECT_EQ(loader.calls().sequence, kQueryWithoutReleaseIndex);
    ASSERT_TRUE(FileExists(log)) << log;

    ASSERT_TRUE(loader.Load());
    EXPECT_EQ(ReadFile(log), "") << "Glimmerward writes nothing to its log";
    ASSERT_EQ(world.calls().size(), 1u);
    EXPECT_EQ(world.calls()[0].what, "AddSink");
    EXPECT_EQ(world.calls()[0].self, kMagicEffectDispatcher);
}

TEST(GlimmerwardQuery, TakesItsNameFromARenamedDll) {
    GameWorld world;
    testhost::Extender loader(0x010600C0, kRuntime, false);
    ScenarioPlugin plugin(loader, "Glimmerward.dll", ScenarioPluginName("Ward.Renamed"));
    ASSERT_NE(plugin.module(), nullptr);
    host::PluginInfo info = UntouchedInfo();
    ASSERT_TRUE(loader.Query(info));
    ASSERT_NE(info.name, nullptr);
    EXPECT_EQ(std::string(info.name), plugin.name()) << "only the last extension goes";
    EXPECT_TRUE(FileExists(plugin.logPath())) << plugin.logPath();
}

TEST(GlimmerwardQuery, RefusesOldExtendersAfterCreatingTheLogAndOpensItOnce) {
    GameWorld world;
    testhost::Extender loader(0x010600BF, kRuntime, false);
    ScenarioPlugin plugin(loader, "Glimmerward.dll", ScenarioPluginName("GlimmerwardOld"));
    ASSERT_NE(plugin.module(), nullptr);
    host::PluginInfo info = UntouchedInfo();
    EXPECT_FALSE(loader.Query(info)) << "0x010600BF is one below the oldest accepted";
    ExpectUntouched(info);
    EXPECT_EQ(loader.calls().sequence, kQueryWithoutReleaseIndex)
        << "the extender's refusal comes last";
    ASSERT_TRUE(FileExists(plugin.logPath())) << "created before the plug-in's own test";

    // A second query finds the log open and leaves the file as it is.
    {
        HANDLE file =
            CreateFileA(plugin.logPath().c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        DWORD written = 0;
        WriteFile(file, "kept", 4, &written, nullptr);
        CloseHandle(file);
    }
    loader.record().extenderVersion = 0x010600C0;
    EXPECT_TRUE(loader.Query(info));
    ASSERT_NE(info.name, nullptr);
    EXPECT_EQ(std::string(info.name), plugin.name());
    EXPECT_EQ(info.version, 1u);
    EXPECT_EQ(info.infoVersion, kSentinel);
    EXPECT_EQ(ReadFile(plugin.logPath()), "kept") << "the log is opened, and truncated, once";
}

TEST(GlimmerwardQuery, RefusesTheEditorAndOtherRuntimesBeforeAskingForAnything) {
    struct Case {
        std::uint32_t runtime;
        bool editor;
    };
    const Case cases[] = {
        {kRuntime, true}, {0x091FFFFF, false}, {0x09200001, false}, {0, false}, {0x0A000000, true}};
    GameWorld world;
    testhost::Extender loader(0x01070000, kRuntime, false);
    ScenarioPlugin plugin(loader, "Glimmerward.dll", ScenarioPluginName("GlimmerwardRefused"));
    ASSERT_NE(plugin.module(), nullptr);
    for (const auto& c : cases) {
        loader.record().runtimeVersion = c.runtime;
        loader.record().isEditor = c.editor ? 1 : 0;
        host::PluginInfo info = UntouchedInfo();
        EXPECT_FALSE(loader.Query(info)) << std::hex << c.runtime << " editor " << c.editor;
        ExpectUntouched(info);
    }
    EXPECT_TRUE(loader.calls().sequence.empty()) << "not even the plug-in handle";
    EXPECT_FALSE(FileExists(plugin.logPath())) << "no log either";
}

TEST(FrameworkQuery, ReleaseIndexFromTheTableOrFromTheExtender) {
    struct Case {
        std::uint32_t extenderVersion;
        std::uint32_t releaseIndex;
        bool askedTheExtender;
    };
    // In this order: the index is state of the process, and a version that matches no entry
    // keeps the previous one.
    const Case cases[] = {
        {0x01060101, 0, false}, // above the last entry: stays at its start value
        {0x01020000, 0, false}, // below the first entry
        {0x01030000, 0, false},  {0x01040000, 1, false},
        {0x01040001, 2, false}, // between two entries: the next higher one
        {0x010400F0, 16, false}, {0x01050000, 17, false}, // there is no 1.5.0 entry
        {0x010500B0, 27, false}, {0x010500B1, 28, false},
        {0x010600BF, 40, false}, {0x01060100, 44, false},
        {0x0106FFFF, 44, false}, // no entry: the previous index stays
        {0x01070000, 77, true},  {0xFFFFFFFF, 77, true},
    };
    GameWorld world;
    testhost::Extender loader(0, kRuntime, false);
    ScenarioPlugin plugin(loader, "GlimmerwardProbe.dll", ScenarioPluginName("Probe"));
    ASSERT_NE(plugin.module(), nullptr);
    auto releaseIndex = plugin.Export<std::uint32_t (*)()>("ProbeReleaseIndex");
    ASSERT_NE(releaseIndex, nullptr);
    loader.SetReleaseIndex(77);
    for (const auto& c : cases) {
        loader.record().extenderVersion = c.extenderVersion;
        loader.calls() = {};
        host::PluginInfo info{};
        EXPECT_TRUE(loader.Query(info));
        EXPECT_EQ(releaseIndex(), c.releaseIndex) << std::hex << c.extenderVersion;
        EXPECT_EQ(loader.calls().releaseIndexCalls, c.askedTheExtender ? 1 : 0)
            << std::hex << c.extenderVersion;
    }
}

TEST(FrameworkQuery, AsksForTheHandleThenTheReleaseThenFiveInterfacesAndKeepsThem) {
    GameWorld world;
    testhost::Extender loader(0x01070000, kRuntime, false);
    ScenarioPlugin plugin(loader, "GlimmerwardProbe.dll", ScenarioPluginName("Probe"));
    ASSERT_NE(plugin.module(), nullptr);
    int objects[5] = {};
    for (std::uint32_t id = 1; id <= 5; ++id) {
        loader.SetInterface(id, &objects[id - 1]);
    }
    loader.SetPluginHandle(0x1234);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    const std::vector<std::string> expected = {
        "GetPluginHandle",   "GetReleaseIndex",   "QueryInterface(1)", "QueryInterface(2)",
        "QueryInterface(3)", "QueryInterface(4)", "QueryInterface(5)"};
    EXPECT_EQ(loader.calls().sequence, expected);
    EXPECT_EQ(plugin.Export<std::uint32_t (*)()>("ProbePluginHandle")(), 0x1234u);
    auto interfaceAt = plugin.Export<void* (*)(std::uint32_t)>("ProbeInterface");
    for (std::uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(interfaceAt(i), &objects[i]) << "interface " << i + 1;
    }
    EXPECT_EQ(std::string(plugin.Export<const char* (*)()>("ProbeName")()), plugin.name());
}

TEST(FrameworkLoad, WithoutOnModLoadedSubscribesNothingAndWritesTheDefaultLines) {
    GameWorld world;
    testhost::Extender loader(0x01070000, kRuntime, false);
    ScenarioPlugin plugin(loader, "GlimmerwardProbe.dll", ScenarioPluginName("Probe"));
    ASSERT_NE(plugin.module(), nullptr);
    host::PluginInfo info{1, "Probe", 3};
    ASSERT_TRUE(loader.Query(info));
    EXPECT_TRUE(loader.Load());
    EXPECT_TRUE(world.calls().empty()) << "no sink is added";
    EXPECT_EQ(ReadFile(plugin.logPath()), plugin.name() + ".dll\r\nProbe ver.3 loaded.\r\n")
        << "text-mode lines, as the game's platform writes them";
}

TEST(GlimmerwardModLoaded, ManyMagicEffectsRunOnModLoadedOnce) {
    GameWorld world;
    testhost::Extender loader(0x01070000, kRuntime, false);
    ScenarioPlugin plugin(loader, "Glimmerward.dll", ScenarioPluginName("GlimmerwardLive"));
    ASSERT_NE(plugin.module(), nullptr);
    host::PluginInfo info{};
    ASSERT_TRUE(loader.Query(info));
    ASSERT_TRUE(loader.Load());
    ASSERT_EQ(world.sinks(kMagicEffectDispatcher).size(), 1u);
    const std::uint32_t sink = world.sinks(kMagicEffectDispatcher)[0];
    EXPECT_TRUE(world.sinks(kObjectLoadedDispatcher).empty()) << "nothing before the game is live";

    world.calls().clear();
    int effect = 0;
    for (int i = 0; i < 5; ++i) {
        world.Dispatch(kMagicEffectDispatcher, &effect);
    }
    ASSERT_EQ(world.CallNames(),
              (std::vector<std::string>{"RemoveSink", "LookupForm", "LookupForm", "AddSink"}));
    EXPECT_EQ(world.calls()[0].self, kMagicEffectDispatcher);
    EXPECT_EQ(world.calls()[0].args, std::vector<std::uint32_t>{sink});
    EXPECT_EQ(world.calls()[1].args, std::vector<std::uint32_t>{kPlaceholderArmorId});
    EXPECT_EQ(world.calls()[2].args, std::vector<std::uint32_t>{kPlaceholderAddonId});
    EXPECT_EQ(world.calls()[3].self, kObjectLoadedDispatcher);
    EXPECT_EQ(world.sinks(kObjectLoadedDispatcher).size(), 1u);
    EXPECT_EQ(At<std::uint32_t>(world.LookupForm(kPlaceholderArmorId), 0xE4), 0x7FCFFFFFu);
    EXPECT_EQ(At<std::uint32_t>(world.LookupForm(kPlaceholderAddonId), 0x20), 0x7FCFFFFFu);
}

} // namespace
} // namespace glimmerward_test
