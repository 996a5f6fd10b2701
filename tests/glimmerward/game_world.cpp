#include "tests/glimmerward/game_world.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "host/calling.h"
#include "testhost/game_range.h"

namespace glimmerward_test {

namespace {

constexpr std::uintptr_t kAddSink = 0x006E3E30;
constexpr std::uintptr_t kRemoveSink = 0x008CE0C0;
constexpr std::uintptr_t kLookupForm = 0x00451A30;
constexpr std::uintptr_t kDynamicCast = 0x00F51DAE;
constexpr std::uintptr_t kInventoryChanges = 0x0040C090;
constexpr std::uintptr_t kEquip = 0x006EF3E0;
constexpr std::uintptr_t kUnequip = 0x006EE560;
constexpr std::uintptr_t kRefreshAfterRemoval = 0x00664B90;
constexpr std::uintptr_t kUpdateEquipment = 0x007031A0;
constexpr std::uintptr_t kApplyArmor = 0x006E8650;
constexpr std::uintptr_t kRebuild = 0x00730EE0;
constexpr std::uintptr_t kCreateDataHandler = 0x0043DE50;
constexpr std::uintptr_t kDataHandlerFactory = 0x012E3600;
constexpr std::uintptr_t kDataHandlerGlobal = 0x012E2CB8;
constexpr std::uintptr_t kPlayerGlobal = 0x01B2E8E4;

GameWorld* g_world = nullptr;

// Function tables with the game's slot numbers; every other slot fails the test when called.
std::uintptr_t g_actorTable[256];
std::uintptr_t g_formTable[64];
std::uintptr_t g_keywordComponentTable[8];
std::uintptr_t g_nameTable[8];

void UnexpectedSlot() {
    ADD_FAILURE() << "a function-table slot the plug-in has no business calling";
}

template <class T> std::uint32_t U(T* p) {
    return A(p);
}

void HOST_THISCALL AddSinkImpl(void* dispatcher, void* sink) {
    g_world->Record("AddSink", U(dispatcher), {U(sink)});
    g_world->sinks(reinterpret_cast<std::uintptr_t>(dispatcher)).push_back(U(sink));
}

void HOST_THISCALL RemoveSinkImpl(void* dispatcher, void* sink) {
    g_world->Record("RemoveSink", U(dispatcher), {U(sink)});
    auto& sinks = g_world->sinks(reinterpret_cast<std::uintptr_t>(dispatcher));
    sinks.erase(std::remove(sinks.begin(), sinks.end(), U(sink)), sinks.end());
}

void* HOST_CDECL LookupFormImpl(std::uint32_t id) {
    g_world->Record("LookupForm", 0, {id});
    return g_world->LookupForm(id);
}

void* HOST_CDECL DynamicCastImpl(std::uint8_t* object, std::uint32_t zero, std::uint32_t from,
                                 std::uint32_t to, std::uint32_t zero2) {
    g_world->Record("DynamicCast", 0, {U(object), zero, from, to, zero2});
    auto& table = to == kNameTargetType ? g_world->nameComponentOf : g_world->keywordCastOf;
    auto found = table.find(object);
    return found == table.end() ? nullptr : found->second;
}

void* HOST_THISCALL InventoryChangesImpl(std::uint8_t* extraData) {
    g_world->Record("InventoryChanges", U(extraData), {});
    auto found = g_world->inventoryOf.find(extraData - 0x48);
    return found == g_world->inventoryOf.end() ? nullptr : found->second;
}

void HOST_THISCALL EquipImpl(void* unused, void* actor, void* item, void* extra, std::int32_t count,
                             std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                             std::uint32_t e) {
    EXPECT_NE(unused, nullptr);
    g_world->Record(
        "Equip", 0,
        {U(actor), U(item), U(extra), static_cast<std::uint32_t>(count), a, b, c, d, e});
}

void HOST_THISCALL UnequipImpl(void* unused, void* actor, void* item, void* extra,
                               std::int32_t count, std::uint32_t a, std::uint32_t b,
                               std::uint32_t c, std::uint32_t d, std::uint32_t e, std::uint32_t f) {
    EXPECT_NE(unused, nullptr);
    g_world->Record(
        "Unequip", 0,
        {U(actor), U(item), U(extra), static_cast<std::uint32_t>(count), a, b, c, d, e, f});
}

void HOST_THISCALL RemoveItemImpl(void* actor, std::uint32_t* handle, void* item,
                                  std::int32_t count, std::uint32_t a, std::uint32_t b,
                                  std::uint32_t c, std::uint32_t d, std::uint32_t e) {
    EXPECT_NE(handle, nullptr);
    g_world->Record("RemoveItem", U(actor),
                    {handle == nullptr ? 0xDEADu : *handle, U(item),
                     static_cast<std::uint32_t>(count), a, b, c, d, e});
}

void HOST_CDECL RefreshAfterRemovalImpl(void* actor) {
    g_world->Record("RefreshAfterRemoval", 0, {U(actor)});
}

void HOST_THISCALL UpdateEquipmentImpl(void* process, void* actor) {
    g_world->Record("UpdateEquipment", U(process), {U(actor)});
}

void HOST_THISCALL ApplyArmorImpl(void* actor, void* armor, void* extra) {
    g_world->Record("ApplyArmor", U(actor), {U(armor), U(extra)});
}

void HOST_THISCALL RebuildImpl(void* actor, std::uint32_t flag) {
    g_world->Record("Rebuild", U(actor), {flag});
}

void* HOST_THISCALL CreateDataHandlerImpl(void* factory) {
    g_world->Record("CreateDataHandler", U(factory), {});
    return g_world->dataHandler;
}

bool HOST_THISCALL HasFormImpl(std::uint8_t* actor, std::uint8_t* form) {
    g_world->Record("HasForm", U(actor), {U(form)});
    return g_world->actorForms[actor].count(form) != 0;
}

bool HOST_THISCALL HasKeywordImpl(std::uint8_t* component, std::uint8_t* keyword) {
    g_world->Record("HasKeyword", U(component), {U(keyword)});
    return g_world->raceKeywords[component].count(keyword) != 0;
}

const char* HOST_THISCALL DisplayNameImpl(std::uint8_t* component) {
    g_world->Record("DisplayName", U(component), {});
    return g_world->nameText[component];
}

void* HOST_THISCALL KeywordHolderImpl(std::uint8_t* form) {
    g_world->Record("KeywordHolder", U(form), {});
    return nullptr;
}

template <std::size_t N> void FillTable(std::uintptr_t (&table)[N]) {
    std::fill(std::begin(table), std::end(table),
              reinterpret_cast<std::uintptr_t>(&UnexpectedSlot));
}

} // namespace

float TestActor::Alpha() const {
    return At<float>(middle, 0x1B4);
}

void TestActor::SetTeammate(bool teammate) {
    At<std::uint8_t>(actor, 0x7F) = teammate ? 0x04 : 0x00;
}

GameWorld::GameWorld() {
    g_world = this;
    FillTable(g_actorTable);
    FillTable(g_formTable);
    FillTable(g_keywordComponentTable);
    FillTable(g_nameTable);
    g_actorTable[86] = reinterpret_cast<std::uintptr_t>(&RemoveItemImpl);
    g_actorTable[248] = reinterpret_cast<std::uintptr_t>(&HasFormImpl);
    g_formTable[44] = reinterpret_cast<std::uintptr_t>(&KeywordHolderImpl);
    g_keywordComponentTable[4] = reinterpret_cast<std::uintptr_t>(&HasKeywordImpl);
    g_nameTable[5] = reinterpret_cast<std::uintptr_t>(&DisplayNameImpl);

    testhost::PlantFunction(kAddSink, &AddSinkImpl);
    testhost::PlantFunction(kRemoveSink, &RemoveSinkImpl);
    testhost::PlantFunction(kLookupForm, &LookupFormImpl);
    testhost::PlantFunction(kDynamicCast, &DynamicCastImpl);
    testhost::PlantFunction(kInventoryChanges, &InventoryChangesImpl);
    testhost::PlantFunction(kEquip, &EquipImpl);
    testhost::PlantFunction(kUnequip, &UnequipImpl);
    testhost::PlantFunction(kRefreshAfterRemoval, &RefreshAfterRemovalImpl);
    testhost::PlantFunction(kUpdateEquipment, &UpdateEquipmentImpl);
    testhost::PlantFunction(kApplyArmor, &ApplyArmorImpl);
    testhost::PlantFunction(kRebuild, &RebuildImpl);
    testhost::PlantFunction(kCreateDataHandler, &CreateDataHandlerImpl);

    dataHandler = NewBlock(0x800);
    testhost::Poke<std::uint32_t>(kDataHandlerGlobal, A(dataHandler));
    testhost::Poke<std::uint32_t>(kPlayerGlobal, 0);

    NewForm(kPlaceholderArmorId, 0x1A);
    NewForm(kPlaceholderAddonId, 0x66);
    NewForm(kPersonKeywordId, 0x04);
    NewForm(kExcludedKeywordId, 0x04);
    NewForm(kFollowerFormAId, 0x2B);
    NewForm(kFollowerFormBId, 0x2B);
}

GameWorld::~GameWorld() {
    g_world = nullptr;
}

GameWorld& GameWorld::Get() {
    return *g_world;
}

std::uint8_t* GameWorld::NewBlock(std::size_t size) {
    blocks_.push_back(std::make_unique<std::uint8_t[]>(size));
    std::fill_n(blocks_.back().get(), size, std::uint8_t{0});
    return blocks_.back().get();
}

std::uint8_t* GameWorld::NewForm(std::uint32_t formId, std::uint8_t formType) {
    std::uint8_t* form = NewBlock();
    At<std::uintptr_t*>(form, 0) = g_formTable;
    At<std::uint32_t>(form, 0x0C) = formId;
    At<std::uint8_t>(form, 0x12) = formType;
    forms_[formId] = form;
    return form;
}

std::uint8_t* GameWorld::NewRace(std::uint32_t formId, bool person, bool excluded) {
    std::uint8_t* race = NewForm(formId, 0x0E);
    At<std::uintptr_t*>(race, 0x44) = g_keywordComponentTable;
    auto& keywords = raceKeywords[race + 0x44];
    if (person) {
        keywords.insert(forms_.at(kPersonKeywordId));
    }
    if (excluded) {
        keywords.insert(forms_.at(kExcludedKeywordId));
    }
    return race;
}

TestActor GameWorld::NewActor(std::uint32_t formId, std::uint8_t* race, const char* name) {
    TestActor t{};
    t.formId = formId;
    t.actor = NewForm(formId, 0x3E);
    At<std::uintptr_t*>(t.actor, 0) = g_actorTable;
    t.baseForm = NewBlock();
    At<std::uint8_t>(t.baseForm, 0x12) = 0x2B;
    At<std::uint8_t*>(t.baseForm, 0xC4) = race;
    At<std::uint8_t*>(t.actor, 0x24) = t.baseForm;
    t.process = NewBlock();
    t.middle = NewBlock();
    At<std::uint8_t*>(t.actor, 0x88) = t.process;
    At<std::uint8_t*>(t.process, 0x04) = t.middle;
    At<float>(t.middle, 0x1B4) = 0.5f;
    t.inventory = NewBlock();
    At<std::uint8_t*>(t.inventory, 0) = NewBlock(8); // an empty head node
    inventoryOf[t.actor] = t.inventory;
    t.nameComponent = NewBlock();
    At<std::uintptr_t*>(t.nameComponent, 0) = g_nameTable;
    nameComponentOf[t.actor] = t.nameComponent;
    nameText[t.nameComponent] = name;
    return t;
}

namespace {
// Appends item to the list whose head node is head.
void Append(GameWorld& world, std::uint8_t* head, std::uint8_t* item) {
    if (At<std::uint8_t*>(head, 0) == nullptr && At<std::uint8_t*>(head, 4) == nullptr) {
        At<std::uint8_t*>(head, 0) = item;
        return;
    }
    std::uint8_t* node = head;
    while (At<std::uint8_t*>(node, 4) != nullptr) {
        node = At<std::uint8_t*>(node, 4);
    }
    std::uint8_t* next = world.NewBlock(8);
    At<std::uint8_t*>(next, 0) = item;
    At<std::uint8_t*>(node, 4) = next;
}
} // namespace

ArmorInstances GameWorld::AddItem(TestActor& actor, std::uint32_t formId, std::vector<bool> worn,
                                  std::uint8_t formType) {
    ArmorInstances result{NewForm(formId, formType), {}};
    std::uint8_t* entry = NewBlock();
    At<std::uint8_t*>(entry, 0) = result.armor;
    std::uint8_t* extrasHead = NewBlock(8);
    At<std::uint8_t*>(entry, 4) = extrasHead;
    for (bool isWorn : worn) {
        std::uint8_t* extra = NewBlock(16);
        std::uint8_t* presence = NewBlock(32);
        presence[2] = isWorn ? 0x40 : 0x00;
        presence[0] = 0xFF; // other extra data present
        At<std::uint8_t*>(extra, 4) = presence;
        Append(*this, extrasHead, extra);
        result.extraLists.push_back(extra);
    }
    Append(*this, At<std::uint8_t*>(actor.inventory, 0), entry);
    return result;
}

void GameWorld::AddBareItem(TestActor& actor, std::uint32_t formId) {
    std::uint8_t* entry = NewBlock();
    At<std::uint8_t*>(entry, 0) = NewForm(formId, 0x1A);
    Append(*this, At<std::uint8_t*>(actor.inventory, 0), entry);
}

void GameWorld::SetPlayer(std::uint8_t* actor) {
    testhost::Poke<std::uint32_t>(kPlayerGlobal, A(actor));
}

void GameWorld::RemoveForm(std::uint32_t formId) {
    forms_.erase(formId);
}

void GameWorld::SetModFiles(const std::vector<std::string>& names) {
    std::uint8_t* head = dataHandler + 0x694;
    for (const auto& name : names) {
        std::uint8_t* file = NewBlock();
        std::copy(name.begin(), name.end(), file + 0x20);
        Append(*this, head, file);
    }
}

void GameWorld::DeferDataHandler() {
    testhost::Poke<std::uint32_t>(kDataHandlerGlobal, 0);
}

void GameWorld::SetHasForm(std::uint8_t* actor, std::uint32_t formId) {
    actorForms[actor].insert(forms_.at(formId));
}

std::uint8_t* GameWorld::LookupForm(std::uint32_t id) {
    auto found = forms_.find(id);
    return found == forms_.end() ? nullptr : found->second;
}

void GameWorld::Record(const char* what, std::uint32_t self, std::vector<std::uint32_t> args) {
    calls_.push_back(
        {what, self, std::move(args), watched_ == nullptr ? -1.0f : At<float>(watched_, 0x1B4)});
}

std::vector<std::string> GameWorld::CallNames() const {
    std::vector<std::string> names;
    for (const auto& call : calls_) {
        names.push_back(call.what);
    }
    return names;
}

void GameWorld::Dispatch(std::uintptr_t dispatcher, void* event) {
    const std::vector<std::uint32_t> sinks = sinks_[dispatcher];
    for (std::uint32_t sink : sinks) {
        auto* table = *reinterpret_cast<std::uintptr_t**>(sink);
        // Slot 1 of Microsoft's layout: ReceiveEvent(event, dispatcher).
        const auto result = host::CallThiscall<std::uint32_t>(
            table[1], reinterpret_cast<void*>(sink), event, reinterpret_cast<void*>(dispatcher));
        EXPECT_EQ(result, 0u) << "every sink answers: go on";
    }
}

void GameWorld::DispatchObjectLoaded(std::uint32_t formId, bool loaded) {
    // The flag is one byte; the bytes after it are not part of it.
    struct {
        std::uint32_t formId;
        std::uint8_t loaded;
        std::uint8_t padding[3];
    } event{formId, static_cast<std::uint8_t>(loaded ? 1 : 0), {0xCC, 0xCC, 0xCC}};
    Dispatch(kObjectLoadedDispatcher, &event);
}

} // namespace glimmerward_test
