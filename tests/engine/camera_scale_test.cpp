// The third-person camera fix in the stand-in host: the routine's hook and the scale copy over
// a small scene graph, the two caves with their register contracts, and the INI switch.
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "host/calling.h"
#include "host/relative_jump.h"
#include "ravelstone/detour/detour.h"
#include "ravelstone/engine/camera_scale.h"
#include "testhost/game_range.h"
#include "testhost/raw_code.h"
#include "testhost/text_file.h"

namespace {

using namespace ravelstone;
using Bytes = std::vector<std::uint8_t>;

// --- The game's routine and the two calls inside it -----------------------------------------

struct RoutineCall {
    void* self;
    std::uint32_t argument;
};
std::vector<RoutineCall> g_routineCalls;
std::uint32_t HOST_THISCALL GameCameraRoutine(void* self, std::uint32_t argument) {
    g_routineCalls.push_back({self, argument});
    return 0xC0FFEE00 + argument;
}

// The callees record the ECX they were called with: the caves must not touch it before the call.
std::uint32_t g_calleeEcx = 0;
float g_calleeFloat = 0;
float HOST_THISCALL GameFloatCallee(void* self) {
    g_calleeEcx = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(self));
    return g_calleeFloat;
}
float g_vector[4]; // three floats and a guard
float* HOST_THISCALL GameVectorCallee(void* self) {
    g_calleeEcx = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(self));
    return g_vector;
}

Bytes CallBytes(std::uintptr_t site, std::uintptr_t target) {
    const std::uint32_t d = static_cast<std::uint32_t>(target - (site + 5));
    return {0xE8, static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
            static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)};
}

// --- Scene graph ---------------------------------------------------------------------------

std::map<std::uint32_t, SceneObject*> g_bodyByName; // what the body root finds
std::vector<std::uint32_t> g_namesAsked;
constexpr std::uint32_t kRefusedName = 0x0BAD;
std::uint32_t HOST_THISCALL GameNameCheck(const std::uint32_t* name) {
    return *name == kRefusedName ? 0 : 1;
}

std::uintptr_t HOST_THISCALL ReportsNode(SceneObject*) {
    return 1;
}
std::uintptr_t HOST_THISCALL ReportsNotNode(SceneObject*) {
    return 0;
}
SceneObject* HOST_THISCALL FindInBody(SceneObject*, const std::uint32_t* name) {
    g_namesAsked.push_back(*name);
    const auto found = g_bodyByName.find(*name);
    return found == g_bodyByName.end() ? nullptr : found->second;
}

SceneObjectTable MakeTable(bool node) {
    SceneObjectTable table{};
    table.isNode = node ? &ReportsNode : &ReportsNotNode;
    table.findByName = &FindInBody;
    return table;
}
const SceneObjectTable kNodeTable = MakeTable(true);
const SceneObjectTable kLeafTable = MakeTable(false);

SceneNode MakeNode(std::uint32_t name, float scale, bool node = true) {
    SceneNode n{};
    n.object.table = node ? &kNodeTable : &kLeafTable;
    n.object.name = name;
    n.object.localScale = scale;
    return n;
}

// --- Player ----------------------------------------------------------------------------------

struct Loaded3D {
    std::uint8_t unknown[0x20];
    SceneObject* root;
};
struct Player {
    std::uint8_t unknown[0x44];
    Loaded3D* loaded3D;
    std::uint8_t unknown48[0x58C - 0x48];
    SceneNode* secondSkeleton;
};
static_assert(offsetof(Loaded3D, root) == kLoaded3DRootOffset);
static_assert(offsetof(Player, loaded3D) == kPlayerLoaded3DOffset);
static_assert(offsetof(Player, secondSkeleton) == kPlayerSecondSkeletonOffset);

const Bytes kFloatSiteBytes = CallBytes(HostScaledFloatSite, HostScaledFloatCallee);
const Bytes kVectorSiteBytes = CallBytes(HostScaledVectorSite, HostScaledVectorCallee);

void PlantGame() {
    testhost::PlantFunction(HostCameraScaleRoutine, &GameCameraRoutine);
    testhost::PlantFunction(HostScaledFloatCallee, &GameFloatCallee);
    testhost::PlantFunction(HostScaledVectorCallee, &GameVectorCallee);
    testhost::PlantFunction(HostNodeNameCheck, &GameNameCheck);
    testhost::Plant(HostScaledFloatSite, kFloatSiteBytes.data(), kFloatSiteBytes.size());
    testhost::Plant(HostScaledVectorSite, kVectorSiteBytes.data(), kVectorSiteBytes.size());
    testhost::SetProtection(HostCameraScaleRoutine, 0x200, PAGE_EXECUTE_READ);
    testhost::Poke<std::uint32_t>(HostPlayer, 0);
}

void Install() {
    ASSERT_EQ(detour::BeginHookTransaction(), 0u);
    InstallCameraFix();
    ASSERT_EQ(detour::CommitHookTransaction(), 0u);
}

std::uint32_t CallRoutine(void* self, std::uint32_t argument) {
    return host::CallThiscall<std::uint32_t>(HostCameraScaleRoutine, self, argument);
}

TEST(CameraFix, WithoutAnIniHooksTheRoutineAndJumpsToTheCaves) {
    PlantGame();
    Install();
    EXPECT_EQ(testhost::Peek<std::uint8_t>(HostCameraScaleRoutine), 0xE9);
    const struct {
        std::uintptr_t site;
        void (*cave)();
    } jumps[] = {{HostScaledFloatSite, &ScaledFloatCave},
                 {HostScaledVectorSite, &ScaledVectorCave}};
    for (const auto& j : jumps) {
        const auto expected = host::EncodeRelativeJump(static_cast<std::uint32_t>(j.site),
                                                       reinterpret_cast<std::uintptr_t>(j.cave));
        EXPECT_EQ(testhost::ReadBytes(j.site, 5), Bytes(expected.begin(), expected.end()))
            << std::hex << j.site;
        EXPECT_EQ(testhost::ProtectionAt(j.site), static_cast<DWORD>(PAGE_EXECUTE_READ));
    }
}

TEST(CameraFix, SwitchedOffLeavesTheRoutineAndBothSitesUntouched) {
    PlantGame();
    testhost::WriteTextFile(testhost::ExeDir() + "\\data\\skse\\plugins\\Ravelstone.ini",
                            "[Camera]\nfix3rdPersonCameraScale=0\n");
    const Bytes routine = testhost::ReadBytes(HostCameraScaleRoutine, 0x120);
    Install();
    EXPECT_EQ(testhost::ReadBytes(HostCameraScaleRoutine, 0x120), routine);
    EXPECT_EQ(testhost::ReadBytes(HostScaledFloatSite, 5), kFloatSiteBytes);
    EXPECT_EQ(testhost::ReadBytes(HostScaledVectorSite, 5), kVectorSiteBytes);
}

TEST(CameraFix, TheHookPassesTheCallThroughWhenALinkIsMissing) {
    PlantGame();
    Install();
    SceneNode skeleton = MakeNode(0x100, 1.0f);
    SceneNode body = MakeNode(0x100, 3.0f);
    g_bodyByName[0x100] = &body.object;
    Loaded3D loaded{};
    Player player{};
    enum Missing { kPlayer, kLoaded3D, kRoot, kSkeleton };
    for (const Missing missing : {kPlayer, kLoaded3D, kRoot, kSkeleton}) {
        loaded.root = missing == kRoot ? nullptr : &body.object;
        player.loaded3D = missing == kLoaded3D ? nullptr : &loaded;
        player.secondSkeleton = missing == kSkeleton ? nullptr : &skeleton;
        testhost::Poke<Player*>(HostPlayer, missing == kPlayer ? nullptr : &player);
        g_routineCalls.clear();
        int self = 0;
        EXPECT_EQ(CallRoutine(&self, 0x42 + missing), 0xC0FFEE42u + missing) << missing;
        ASSERT_EQ(g_routineCalls.size(), 1u);
        EXPECT_EQ(g_routineCalls[0].self, &self) << "ECX passed through";
        EXPECT_EQ(g_routineCalls[0].argument, 0x42u + missing);
        EXPECT_TRUE(g_namesAsked.empty()) << missing;
        EXPECT_EQ(skeleton.object.localScale, 1.0f) << missing;
    }
}

TEST(CameraFix, TheHookCopiesScalesIntoTheSecondSkeleton) {
    PlantGame();
    Install();
    // Body: named nodes with their scales; 0x300 is there but not a node.
    SceneNode bodyRoot = MakeNode(0x1, 1.0f);
    SceneNode bodyHead = MakeNode(0x200, 1.5f);
    SceneNode bodyHand = MakeNode(0x300, 2.5f, false);
    SceneNode bodyRefused = MakeNode(kRefusedName, 4.0f);
    SceneNode bodyFoot = MakeNode(0x500, 0.5f);
    g_bodyByName = {{0x200, &bodyHead.object},
                    {0x300, &bodyHand.object},
                    {kRefusedName, &bodyRefused.object},
                    {0x500, &bodyFoot.object}};
    // Second skeleton:
    //   root (no name)
    //     [0] head 0x200            -> 1.5
    //     [1] null slot
    //     [2] hand 0x300            namesake is not a node: stays
    //     [3] refused name          not looked up: stays
    //       [0] foot 0x500          child of a refused node: still visited -> 0.5
    //     [4] unknown 0x400         not found: stays
    //       [0] foot again 0x500    -> 0.5
    //     [5] leaf 0x200            not a node: neither copied nor walked
    //       [0] foot 0x500          never reached
    // A slot beyond the count is never read.
    SceneNode root = MakeNode(0, 1.0f);
    SceneNode head = MakeNode(0x200, 1.0f);
    SceneNode hand = MakeNode(0x300, 1.0f);
    SceneNode refused = MakeNode(kRefusedName, 1.0f);
    SceneNode refusedChild = MakeNode(0x500, 1.0f);
    SceneNode unknown = MakeNode(0x400, 1.0f);
    SceneNode unknownChild = MakeNode(0x500, 1.0f);
    SceneNode leaf = MakeNode(0x200, 1.0f, false);
    SceneNode leafChild = MakeNode(0x500, 1.0f);
    SceneObject* refusedKids[] = {&refusedChild.object};
    refused.children = refusedKids;
    refused.childSlots = 1;
    SceneObject* unknownKids[] = {&unknownChild.object};
    unknown.children = unknownKids;
    unknown.childSlots = 1;
    SceneObject* leafKids[] = {&leafChild.object};
    leaf.children = leafKids;
    leaf.childSlots = 1;
    SceneObject* rootKids[] = {&head.object,
                               nullptr,
                               &hand.object,
                               &refused.object,
                               &unknown.object,
                               &leaf.object,
                               reinterpret_cast<SceneObject*>(0x1)};
    root.children = rootKids;
    root.childSlots = 6;

    Loaded3D loaded{};
    loaded.root = &bodyRoot.object;
    Player player{};
    player.loaded3D = &loaded;
    player.secondSkeleton = &root;
    testhost::Poke<Player*>(HostPlayer, &player);

    EXPECT_EQ(CallRoutine(nullptr, 7), 0xC0FFEE07u);
    EXPECT_EQ(head.object.localScale, 1.5f);
    EXPECT_EQ(hand.object.localScale, 1.0f);
    EXPECT_EQ(refused.object.localScale, 1.0f);
    EXPECT_EQ(refusedChild.object.localScale, 0.5f);
    EXPECT_EQ(unknown.object.localScale, 1.0f);
    EXPECT_EQ(unknownChild.object.localScale, 0.5f);
    EXPECT_EQ(leaf.object.localScale, 1.0f);
    EXPECT_EQ(leafChild.object.localScale, 1.0f);
    EXPECT_EQ(root.object.localScale, 1.0f);
    // Depth first, each node before its children; no lookup for a zero or refused name.
    const std::vector<std::uint32_t> asked = {0x200, 0x300, 0x500, 0x400, 0x500};
    EXPECT_EQ(g_namesAsked, asked);
}

// The object the routine works on (ESI at both sites), with or without a parent.
struct CaveCase {
    const char* what;
    bool parent;
    float worldScale;
    float factor; // what the obtained values are multiplied by
};
const CaveCase kCaveCases[] = {
    {"parent scale 2", true, 2.0f, 2.0f},
    {"parent scale 1", true, 1.0f, 1.0f},
    {"no parent", false, 0.0f, 1.0f},
};

// The x87 top is caught at the return site: fstp dword [kCaught], then on to a landing where
// the test catches the registers.
constexpr std::uintptr_t kCaught = 0x01B00000;
constexpr std::uintptr_t kFloatLanding = HostScaledFloatReturn + 0x20;

void PlantFloatCatcher() {
    Bytes code = {0xD9, 0x1D};
    for (int i = 0; i < 4; ++i) {
        code.push_back(static_cast<std::uint8_t>(kCaught >> (8 * i)));
    }
    const auto jump =
        host::EncodeRelativeJump(static_cast<std::uint32_t>(HostScaledFloatReturn + code.size()),
                                 static_cast<std::uint32_t>(kFloatLanding));
    code.insert(code.end(), jump.begin(), jump.end());
    testhost::Plant(HostScaledFloatReturn, code.data(), code.size());
}

TEST(CameraFix, TheFloatCaveScalesTheCalleesResultByTheParentsWorldScale) {
    PlantGame();
    Install();
    PlantFloatCatcher();
    for (const auto& c : kCaveCases) {
        SceneNode parent = MakeNode(0, 1.0f);
        parent.object.worldScale = c.worldScale;
        SceneNode object = MakeNode(0, 1.0f);
        object.object.parent = c.parent ? &parent.object : nullptr;
        g_calleeFloat = 1.25f;
        const std::uint32_t objectAddress =
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&object));
        const testhost::Registers in = {0xAAAA0001, 0xCCCC0002, 0xDDDD0003,    0xBBBB0004,
                                        0,          0xEEEE0006, objectAddress, 0xD1D10008};
        std::uint32_t jumpEsp = 0;
        const auto out = testhost::RunRawCode(HostScaledFloatSite, kFloatLanding, in, &jumpEsp);
        EXPECT_EQ(testhost::Peek<float>(kCaught), 1.25f * c.factor) << c.what;
        EXPECT_EQ(g_calleeEcx, in.ecx) << c.what << ": the callee sees the game's ECX";
        EXPECT_EQ(out.eax, HostScaledFloatReturn) << c.what;
        EXPECT_EQ(out.ecx,
                  c.parent ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&parent))
                           : 0u)
            << c.what;
        EXPECT_EQ(out.ebx, in.ebx);
        EXPECT_EQ(out.esi, in.esi);
        EXPECT_EQ(out.edi, in.edi);
        EXPECT_EQ(out.ebp, in.ebp);
        EXPECT_EQ(out.esp, jumpEsp);
    }
}

TEST(CameraFix, TheVectorCaveScalesEachComponentInPlace) {
    PlantGame();
    Install();
    for (const auto& c : kCaveCases) {
        SceneNode parent = MakeNode(0, 1.0f);
        parent.object.worldScale = c.worldScale;
        SceneNode object = MakeNode(0, 1.0f);
        object.object.parent = c.parent ? &parent.object : nullptr;
        const float start[4] = {1.5f, -3.0f, 0.1f, 77.0f};
        std::memcpy(g_vector, start, sizeof start);
        const std::uint32_t objectAddress =
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&object));
        const testhost::Registers in = {0xAAAA0001, 0xCCCC0002, 0xDDDD0003,    0xBBBB0004,
                                        0,          0xEEEE0006, objectAddress, 0xD1D10008};
        std::uint32_t jumpEsp = 0;
        const auto out =
            testhost::RunRawCode(HostScaledVectorSite, HostScaledVectorReturn, in, &jumpEsp);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(g_vector[i], start[i] * c.factor) << c.what << " component " << i;
        }
        EXPECT_EQ(g_vector[3], 77.0f) << "nothing past the vector";
        EXPECT_EQ(g_calleeEcx, in.ecx) << c.what;
        EXPECT_EQ(out.eax, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(g_vector)));
        EXPECT_EQ(out.ecx, HostScaledVectorReturn);
        EXPECT_EQ(out.ebx, in.ebx);
        EXPECT_EQ(out.esi, in.esi);
        EXPECT_EQ(out.edi, in.edi);
        EXPECT_EQ(out.ebp, in.ebp);
        EXPECT_EQ(out.esp, jumpEsp);
    }
    // The x87 stack is left as it was found: a value pushed now is the only one there.
    float probe = 0;
    asm volatile("fld1\n\tfstps %0" : "=m"(probe));
    EXPECT_EQ(probe, 1.0f);
}

} // namespace
