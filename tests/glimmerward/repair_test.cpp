// The re-dressing of actors in the stand-in host: the whole call sequence, every test that
// stops it, the "OnlyFollowers" filter and the race exclusions.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "testhost/extender.h"
#include "tests/glimmerward/game_world.h"
#include "tests/glimmerward/plugin_files.h"

namespace glimmerward_test {
namespace {

constexpr std::uint32_t kDawnguardLocalRace = 0x00283A;
constexpr std::uint32_t kExcludedRace = 0x000CDD84;

// Glimmerward loaded, queried, loaded and told that the game is live: its repair handler is the
// one sink of the object-loaded dispatcher. The plug-in gets a file name of its own so that its
// log does not meet another scenario's.
class Repair : public ::testing::Test {
public:
    void SetUp() override { SetUpWithSettings("[GeneralSettings]\r\nOnlyFollowers=0\r\n"); }

    void SetUpWithSettings(const std::string& ini, bool placeholders = true) {
        if (!ini.empty()) {
            WriteSettings(ini);
        }
        if (!placeholders) {
            world.RemoveForm(kPlaceholderArmorId);
        }
        name_ = ScenarioPluginName("GlimmerwardRepair");
        log_ = LogPathFor(name_);
        module_ = loader.LoadPlugin("Glimmerward.dll", name_ + ".dll");
        ASSERT_NE(module_, nullptr);
        host::PluginInfo info{};
        ASSERT_TRUE(loader.Query(info));
        ASSERT_TRUE(loader.Load());
        int effect = 0;
        world.Dispatch(kMagicEffectDispatcher, &effect);
        ASSERT_EQ(world.sinks(kObjectLoadedDispatcher).size(), 1u);
        person = world.NewRace(0x00013746, true, false);
        world.calls().clear();
    }

    void TearDown() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
            module_ = nullptr;
        }
        DeleteFileA(log_.c_str());
    }

    // An actor of a person race wearing one armor piece.
    TestActor Dressed(std::uint32_t formId) {
        TestActor actor = world.NewActor(formId, person);
        world.AddItem(actor, formId + 0x100, {true});
        return actor;
    }

    bool Redressed() const {
        for (const auto& call : world.calls()) {
            if (call.what == "Rebuild") {
                return true;
            }
        }
        return false;
    }

    GameWorld world;
    testhost::Extender loader{0x01070000, 0x09200000, false};
    std::uint8_t* person = nullptr;

private:
    HMODULE module_ = nullptr;
    std::string name_, log_;
};

std::vector<std::uint32_t> Zeros(std::size_t n) {
    return std::vector<std::uint32_t>(n, 0);
}
std::vector<std::uint32_t> Join(std::vector<std::uint32_t> a, const std::vector<std::uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void ExpectCalls(const std::vector<HostCall>& actual, const std::vector<HostCall>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].what, expected[i].what) << "call " << i;
        EXPECT_EQ(actual[i].self, expected[i].self) << "call " << i << " " << expected[i].what;
        EXPECT_EQ(actual[i].args, expected[i].args) << "call " << i << " " << expected[i].what;
    }
}

TEST_F(Repair, RedressesAnActorWearingThreePieces) {
    TestActor actor = world.NewActor(0x00A2C94F, person);
    const ArmorInstances body = world.AddItem(actor, 0x00012E46, {true});
    world.AddItem(actor, 0x00012E47, {false}); // carried, not worn
    const ArmorInstances feet = world.AddItem(actor, 0x00012E48, {true});
    world.AddItem(actor, 0x00012E49, {true}, 0x29); // worn, but no armor
    const ArmorInstances hands = world.AddItem(actor, 0x00012E4A, {true});
    world.Watch(actor);
    const Address a = A(actor.actor);
    std::uint8_t* placeholder = world.LookupForm(kPlaceholderArmorId);

    world.DispatchObjectLoaded(actor.formId, true);

    std::vector<HostCall> expected = {
        {"LookupForm", 0, {actor.formId}},
        {"LookupForm", 0, {kPersonKeywordId}},
        {"LookupForm", 0, {kExcludedKeywordId}},
        {"HasKeyword", A(person + 0x44), {A(world.LookupForm(kPersonKeywordId))}},
        {"HasKeyword", A(person + 0x44), {A(world.LookupForm(kExcludedKeywordId))}},
        {"InventoryChanges", A(actor.actor + 0x48), {}},
        {"DynamicCast", 0, {a, 0, kNameSourceType, kNameTargetType, 0}},
        {"DisplayName", A(actor.nameComponent), {}},
        {"Equip", 0, Join({a, A(placeholder), 0, 1}, Zeros(5))},
        {"Unequip", 0, Join({a, A(placeholder), 0, 1}, Zeros(6))},
        {"RemoveItem", a, Join({0, A(placeholder), 1}, Zeros(5))},
        {"RefreshAfterRemoval", 0, {a}},
        {"UpdateEquipment", A(actor.process), {a}},
    };
    for (const ArmorInstances* piece : {&body, &feet, &hands}) {
        const Address armor = A(piece->armor), extra = A(piece->extraLists[0]);
        expected.push_back({"Equip", 0, Join({a, armor, extra, 1}, Zeros(5))});
        expected.push_back({"ApplyArmor", a, {armor, extra}});
    }
    expected.push_back({"Rebuild", a, {1}});
    ExpectCalls(world.calls(), expected);

    // Faded out before the first equip, back in before the rebuild.
    const auto& calls = world.calls();
    for (std::size_t i = 8; i + 1 < calls.size(); ++i) {
        EXPECT_EQ(calls[i].alpha, 0.0f) << calls[i].what;
    }
    EXPECT_EQ(calls.back().alpha, 1.0f);
    EXPECT_EQ(actor.Alpha(), 1.0f);
}

TEST_F(Repair, CollectsTwoWornInstancesOfOneArmorTwice) {
    TestActor actor = world.NewActor(0x00A2C950, person);
    const ArmorInstances ring = world.AddItem(actor, 0x0001CB34, {true, false, true});
    world.DispatchObjectLoaded(actor.formId, true);
    std::vector<std::vector<std::uint32_t>> equipped;
    for (const auto& call : world.calls()) {
        if (call.what == "ApplyArmor") {
            equipped.push_back(call.args);
        }
    }
    const std::vector<std::vector<std::uint32_t>> expected = {
        {A(ring.armor), A(ring.extraLists[0])}, {A(ring.armor), A(ring.extraLists[2])}};
    EXPECT_EQ(equipped, expected);
}

TEST_F(Repair, AnActorWithoutANameComponentIsRedressed) {
    TestActor actor = Dressed(0x00A2C951);
    world.nameComponentOf.erase(actor.actor);
    world.DispatchObjectLoaded(actor.formId, true);
    EXPECT_TRUE(Redressed());
}

TEST_F(Repair, EveryFailedTestLeavesTheActorAlone) {
    const std::vector<std::string> lookup = {"LookupForm"};
    const std::vector<std::string> raceFailed = {"LookupForm", "LookupForm", "LookupForm",
                                                 "HasKeyword"};
    const std::vector<std::string> personRace = {"LookupForm", "LookupForm", "LookupForm",
                                                 "HasKeyword", "HasKeyword"};
    auto then = [](std::vector<std::string> a, std::vector<std::string> b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const auto noWornArmor = then(personRace, {"InventoryChanges"});
    const auto emptyName = then(noWornArmor, {"DynamicCast", "DisplayName"});
    struct Case {
        const char* what;
        std::function<TestActor(Repair&)> setUp;
        bool loaded;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"unloaded", [](Repair& r) { return r.Dressed(0x01000001); }, false, {}},
        {"no such form",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000002);
             r.world.RemoveForm(t.formId);
             return t;
         },
         true, lookup},
        {"not an actor",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000003);
             At<std::uint8_t>(t.actor, 0x12) = 0x1A;
             return t;
         },
         true, lookup},
        {"the player",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000004);
             r.world.SetPlayer(t.actor);
             return t;
         },
         true, lookup},
        {"excluded race",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000005);
             At<std::uint8_t*>(t.baseForm, 0xC4) = r.world.NewRace(kExcludedRace, true, false);
             return t;
         },
         true, lookup},
        {"no base form",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000006);
             At<std::uint8_t*>(t.actor, 0x24) = nullptr;
             return t;
         },
         true, lookup},
        {"no race",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000007);
             At<std::uint8_t*>(t.baseForm, 0xC4) = nullptr;
             return t;
         },
         true, lookup},
        {"race without the person keyword",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000008);
             At<std::uint8_t*>(t.baseForm, 0xC4) = r.world.NewRace(0x00088794, false, false);
             return t;
         },
         true, raceFailed},
        {"race with the second keyword",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000009);
             At<std::uint8_t*>(t.baseForm, 0xC4) = r.world.NewRace(0x00088795, true, true);
             return t;
         },
         true, personRace},
        {"race form without a keyword component",
         [](Repair& r) {
             TestActor t = r.Dressed(0x0100000A);
             std::uint8_t* race = r.world.NewRace(0x00088796, true, false);
             At<std::uint8_t>(race, 0x12) = 0x0F; // a type that keeps no component
             At<std::uint8_t*>(t.baseForm, 0xC4) = race;
             return t;
         },
         true,
         {"LookupForm", "LookupForm", "LookupForm", "DynamicCast", "KeywordHolder"}},
        {"nothing worn",
         [](Repair& r) {
             TestActor t = r.world.NewActor(0x0100000B, r.person);
             r.world.AddItem(t, 0x0100100B, {false, false});
             r.world.AddItem(t, 0x0100200B, {});
             r.world.AddBareItem(t, 0x0100300B);
             r.world.AddItem(t, 0x0100400B, {true}, 0x29);
             return t;
         },
         true, noWornArmor},
        {"no inventory changes",
         [](Repair& r) {
             TestActor t = r.Dressed(0x0100000C);
             r.world.inventoryOf.erase(t.actor);
             return t;
         },
         true, noWornArmor},
        {"empty inventory", [](Repair& r) { return r.world.NewActor(0x0100000D, r.person); }, true,
         noWornArmor},
        {"empty name",
         [](Repair& r) {
             TestActor t = r.Dressed(0x0100000E);
             r.world.nameText[t.nameComponent] = "";
             return t;
         },
         true, emptyName},
        {"no name text",
         [](Repair& r) {
             TestActor t = r.Dressed(0x0100000F);
             r.world.nameText[t.nameComponent] = nullptr;
             return t;
         },
         true, emptyName},
        {"no process record",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000010);
             At<std::uint8_t*>(t.actor, 0x88) = nullptr;
             return t;
         },
         true, emptyName},
        {"no middle-process data",
         [](Repair& r) {
             TestActor t = r.Dressed(0x01000011);
             At<std::uint8_t*>(t.process, 0x04) = nullptr;
             return t;
         },
         true, emptyName},
    };
    for (const auto& c : cases) {
        world.SetPlayer(nullptr);
        TestActor actor = c.setUp(*this);
        const bool hasMiddle = At<std::uint8_t*>(actor.process, 0x04) != nullptr;
        world.calls().clear();
        world.DispatchObjectLoaded(actor.formId, c.loaded);
        EXPECT_EQ(world.CallNames(), c.calls) << c.what;
        if (hasMiddle) {
            EXPECT_EQ(actor.Alpha(), 0.5f) << c.what;
        }
    }
}

class RepairWithoutPlaceholder : public Repair {
public:
    void SetUp() override { SetUpWithSettings("[GeneralSettings]\r\nOnlyFollowers=0\r\n", false); }
};

TEST_F(RepairWithoutPlaceholder, StopsEveryRepairAndPreparesNoHalfPlaceholder) {
    EXPECT_EQ(At<std::uint32_t>(world.LookupForm(kPlaceholderAddonId), 0x20), 0u)
        << "the addon alone is not widened";
    TestActor actor = Dressed(0x00A2C952);
    world.DispatchObjectLoaded(actor.formId, true);
    const std::vector<std::string> expected = {"LookupForm", "LookupForm", "LookupForm",
                                               "HasKeyword", "HasKeyword", "LookupForm",
                                               "LookupForm"};
    EXPECT_EQ(world.CallNames(), expected);
    ASSERT_EQ(world.calls().size(), expected.size());
    EXPECT_EQ(world.calls()[5].args, std::vector<std::uint32_t>{kPlaceholderArmorId});
    EXPECT_EQ(actor.Alpha(), 0.5f);
}

void ExpectRaceExclusions(Repair& r, const std::vector<std::pair<std::uint32_t, bool>>& races) {
    for (const auto& [raceId, excluded] : races) {
        TestActor actor = r.Dressed(0x00B00000 + (raceId & 0xFFFF));
        At<std::uint8_t*>(actor.baseForm, 0xC4) = r.world.NewRace(raceId, true, false);
        r.world.calls().clear();
        r.world.DispatchObjectLoaded(actor.formId, true);
        const bool redressed = [&] {
            for (const auto& call : r.world.calls()) {
                if (call.what == "Rebuild") {
                    return true;
                }
            }
            return false;
        }();
        EXPECT_EQ(redressed, !excluded) << std::hex << "race " << raceId;
    }
}

TEST_F(Repair, ExcludesDawnguardsRaceByItsModIndex) {
    world.SetModFiles({"Skyrim.esm", "Update.esm", "DAWNGUARD.ESM", "HearthFires.esm"});
    world.DeferDataHandler();
    ExpectRaceExclusions(*this, {{0x0200283A, true},
                                 {kExcludedRace, true},
                                 {0x0100283A, false},
                                 {0x0000283A, false},
                                 {0x0200283B, false}});
    int created = 0;
    for (const auto& call : world.calls()) {
        created += call.what == "CreateDataHandler" ? 1 : 0;
    }
    EXPECT_EQ(created, 0) << "created once, on the first actor, then kept in the global";
}

TEST_F(Repair, WithoutDawnguardOnlyTheBaseGameRaceIsExcluded) {
    world.SetModFiles({"Skyrim.esm", "Update.esm", "Dawnguard.esp"});
    ExpectRaceExclusions(
        *this,
        {{0xFF00283A, false}, {0x0200283A, false}, {0x0000283A, false}, {kExcludedRace, true}});
}

struct FollowerCase {
    const char* ini;
    int onlyFollowers; // what the section amounts to
};

const char* const kFollowerCaseNames[] = {"Zero", "One", "Two", "NoFile", "OtherKeyOnly"};

class RepairOnlyFollowers : public Repair, public ::testing::WithParamInterface<FollowerCase> {
protected:
    void SetUp() override { SetUpWithSettings(GetParam().ini); }
};

TEST_P(RepairOnlyFollowers, ChoosesActorsByTeammateFlagAndFollowerForms) {
    const int setting = GetParam().onlyFollowers;
    struct Case {
        bool teammate;
        std::vector<std::uint32_t> formsHeld; // slot 248 answers true for these
    };
    const Case cases[] = {
        {false, {}},
        {true, {}},
        {false, {kFollowerFormAId}},
        {false, {kFollowerFormBId}},
        {true, {kFollowerFormAId, kFollowerFormBId}},
    };
    std::uint32_t formId = 0x00C00000;
    for (const auto& c : cases) {
        TestActor actor = Dressed(++formId);
        actor.SetTeammate(c.teammate);
        for (std::uint32_t held : c.formsHeld) {
            world.SetHasForm(actor.actor, held);
        }
        world.calls().clear();
        world.DispatchObjectLoaded(actor.formId, true);
        const bool expected = setting == 0 || c.teammate || (setting == 2 && !c.formsHeld.empty());
        EXPECT_EQ(Redressed(), expected)
            << "teammate " << c.teammate << " forms " << c.formsHeld.size();

        std::vector<std::uint32_t> asked; // slot 248 calls, by form ID
        for (const auto& call : world.calls()) {
            if (call.what == "HasForm") {
                ASSERT_EQ(call.self, A(actor.actor));
                asked.push_back(At<std::uint32_t>(
                    reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(call.args[0])),
                    0x0C));
            }
        }
        std::vector<std::uint32_t> expectedAsked;
        if (setting == 2 && !c.teammate) {
            expectedAsked.push_back(kFollowerFormAId);
            if (c.formsHeld.empty() || c.formsHeld[0] != kFollowerFormAId) {
                expectedAsked.push_back(kFollowerFormBId);
            }
        }
        EXPECT_EQ(asked, expectedAsked) << "teammate " << c.teammate;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RepairOnlyFollowers,
    ::testing::Values(FollowerCase{"[GeneralSettings]\r\nOnlyFollowers=0\r\n", 0},
                      FollowerCase{"[GeneralSettings]\r\nOnlyFollowers=1\r\n", 1},
                      FollowerCase{"[GeneralSettings]\r\nOnlyFollowers=2\r\n", 2},
                      FollowerCase{"", 1},                                  // no file
                      FollowerCase{"[GeneralSettings]\r\nOther=2\r\n", 0}), // key absent
    [](const auto& info) { return std::string(kFollowerCaseNames[info.index]); });

} // namespace
} // namespace glimmerward_test
