#include "glimmerward/actor_repair.h"

#include <utility>
#include <vector>

#include "glimmerward/game_objects.h"
#include "glimmerward/keyword_components.h"
#include "glimmerward/settings.h"
#include "host/host_addresses.h"

namespace glimmerward {

namespace {

constexpr std::uintptr_t HostLookupFormById = 0x00451A30;
constexpr std::uintptr_t HostDynamicCast = 0x00F51DAE;
constexpr std::uintptr_t HostInventoryChangesOf = 0x0040C090;
constexpr std::uintptr_t HostEquipItem = 0x006EF3E0;
constexpr std::uintptr_t HostUnequipItem = 0x006EE560;
constexpr std::uintptr_t HostRefreshAfterRemoval = 0x00664B90;
constexpr std::uintptr_t HostUpdateEquipment = 0x007031A0;
constexpr std::uintptr_t HostApplyEquippedArmor = 0x006E8650;
constexpr std::uintptr_t HostQueue3DRebuild = 0x00730EE0;
constexpr std::uintptr_t HostDataHandler = 0x012E2CB8;
constexpr std::uintptr_t HostDataHandlerFactory = 0x012E3600;
constexpr std::uintptr_t HostCreateDataHandler = 0x0043DE50;
// Type descriptors for the dynamic casts.
constexpr std::uintptr_t HostFormTypeForName = 0x0123EA2C;
constexpr std::uintptr_t HostNameComponentType = 0x0123B0D8;
constexpr std::uintptr_t HostFormTypeForKeywords = 0x0123B000;
constexpr std::uintptr_t HostKeywordComponentType = 0x0123B0F4;

// An armor whose slot mask covers nearly every body slot, and its addon.
constexpr std::uint32_t kPlaceholderArmorId = 0x000B8837;
constexpr std::uint32_t kPlaceholderAddonId = 0x000B8836;
constexpr std::uint32_t kPlaceholderSlotMask = 0x7FCFFFFF;

// Races never re-dressed: one of Dawnguard's, and one of the base game's.
constexpr char kDawnguardFile[] = "Dawnguard.esm";
constexpr std::uint32_t kDawnguardExcludedRaceLocalId = 0x00283A;
constexpr std::uint32_t kExcludedRaceId = 0x000CDD84;
constexpr std::uint8_t kNoModIndex = 0xFF;
// A person's race carries the first keyword and not the second.
constexpr std::uint32_t kPersonRaceKeyword = 0x00013794;
constexpr std::uint32_t kExcludedRaceKeyword = 0x00013795;
// "OnlyFollowers" 2 also takes actors for which the per-actor test holds for one of these.
constexpr std::uint32_t kFollowerFormA = 0x0005C84D;
constexpr std::uint32_t kFollowerFormB = 0x0009A7B2;
constexpr char kOnlyFollowersKey[] = "OnlyFollowers";

TESForm* g_placeholderArmor = nullptr;
TESForm* g_placeholderAddon = nullptr;

using WornArmor = std::vector<std::pair<TESForm*, ExtraDataList*>>;

TESForm* LookupForm(std::uint32_t formId) {
    return host::CallCdecl<TESForm*>(HostLookupFormById, formId);
}

void* DynamicCast(void* object, std::uintptr_t from, std::uintptr_t to) {
    return host::CallCdecl<void*>(HostDynamicCast, object, 0u, from, to, 0u);
}

TESForm* RaceOf(Actor* actor) {
    auto* base = FieldAt<void*>(actor, offsets::kActorBaseForm);
    return base == nullptr ? nullptr : FieldAt<TESForm*>(base, offsets::kBaseFormRace);
}

bool EqualIgnoringCase(const char* a, const char* b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

void* DataHandler() {
    auto& handler = FieldAt<void*>(reinterpret_cast<void*>(HostDataHandler), 0);
    if (handler == nullptr) {
        handler = host::CallThiscall<void*>(HostCreateDataHandler,
                                            reinterpret_cast<void*>(HostDataHandlerFactory));
    }
    return handler;
}

// The position of the mod file in the data handler's list; kNoModIndex when it is absent (or
// beyond the positions an 8-bit index can name).
std::uint8_t ModIndex(void* dataHandler, const char* fileName) {
    if (dataHandler == nullptr) {
        return kNoModIndex;
    }
    auto* node = &FieldAt<ListNode<void>>(dataHandler, offsets::kDataHandlerModFiles);
    if (node->Empty()) {
        return kNoModIndex;
    }
    for (std::uint32_t index = 0; node != nullptr && index < kNoModIndex;
         node = node->next, ++index) {
        if (node->item != nullptr &&
            EqualIgnoringCase(&FieldAt<const char>(node->item, offsets::kModFileName), fileName)) {
            return static_cast<std::uint8_t>(index);
        }
    }
    return kNoModIndex;
}

bool IsExcludedRace(Actor* actor) {
    TESForm* race = RaceOf(actor);
    if (race == nullptr) {
        return false;
    }
    const std::uint8_t dawnguard = ModIndex(DataHandler(), kDawnguardFile);
    if (dawnguard != kNoModIndex &&
        FormId(race) == ((std::uint32_t{dawnguard} << 24) | kDawnguardExcludedRaceLocalId)) {
        return true;
    }
    return FormId(race) == kExcludedRaceId;
}

bool HasKeyword(TESForm* form, TESForm* keyword) {
    KeywordComponent* component = nullptr;
    if (const std::size_t offset = KeywordComponentOffset(FormType(form)); offset != 0) {
        component = &FieldAt<KeywordComponent>(form, offset);
    } else {
        component = static_cast<KeywordComponent*>(
            DynamicCast(form, HostFormTypeForKeywords, HostKeywordComponentType));
    }
    if (component != nullptr) {
        return component->functions->hasKeyword(component, keyword);
    }
    KeywordHolder* holder = form->functions->keywordHolder(form);
    return holder != nullptr && holder->functions->hasKeyword(holder, keyword);
}

bool IsPersonRace(Actor* actor) {
    TESForm* race = RaceOf(actor);
    if (race == nullptr) {
        return false;
    }
    TESForm* person = LookupForm(kPersonRaceKeyword);
    TESForm* excluded = LookupForm(kExcludedRaceKeyword);
    return HasKeyword(race, person) && !HasKeyword(race, excluded);
}

bool HasFollowerForm(Actor* actor, std::uint32_t formId) {
    TESForm* form = LookupForm(formId);
    return form != nullptr && actor->functions->hasForm(actor, form);
}

bool IsTeammate(Actor* actor) {
    return (FieldAt<std::uint8_t>(actor, offsets::kActorFlags) & kActorTeammate) != 0;
}

// The "OnlyFollowers" filter: true when the actor is to be left alone.
bool FilteredOut(Actor* actor) {
    const GlimmerwardSettings* settings = GlimmerwardSettings::Instance();
    if (settings == nullptr) {
        return false;
    }
    if (settings->GetInt(kOnlyFollowersKey) == 1 && !IsTeammate(actor)) {
        return true;
    }
    return settings->GetInt(kOnlyFollowersKey) == 2 && !IsTeammate(actor) &&
           !HasFollowerForm(actor, kFollowerFormA) && !HasFollowerForm(actor, kFollowerFormB);
}

bool IsWorn(const ExtraDataList* extra) {
    const auto* presence = FieldAt<const std::uint8_t*>(extra, offsets::kExtraDataPresence);
    return presence != nullptr && (presence[kPresenceWornByte] & kPresenceWornMask) != 0;
}

// Every worn instance of an armor, in inventory order: two worn instances count twice.
bool CollectWornArmor(Actor* actor, WornArmor& worn) {
    void* changes = host::CallThiscall<void*>(
        HostInventoryChangesOf, &FieldAt<std::uint8_t>(actor, offsets::kActorExtraData));
    if (changes == nullptr) {
        return false;
    }
    const auto* node = FieldAt<ListNode<void>*>(changes, offsets::kInventoryChangesEntries);
    if (node == nullptr || node->Empty()) {
        return false;
    }
    for (; node != nullptr; node = node->next) {
        void* entry = node->item;
        if (entry == nullptr) {
            continue;
        }
        auto* form = FieldAt<TESForm*>(entry, offsets::kInventoryEntryForm);
        const auto* extras =
            FieldAt<ListNode<ExtraDataList>*>(entry, offsets::kInventoryEntryExtraLists);
        if (extras == nullptr || form == nullptr || FormType(form) != kFormTypeArmor ||
            extras->Empty()) {
            continue;
        }
        for (; extras != nullptr; extras = extras->next) {
            if (extras->item != nullptr && IsWorn(extras->item)) {
                worn.emplace_back(form, extras->item);
            }
        }
    }
    return !worn.empty();
}

// A name component whose text is empty or missing: the actor is not one to re-dress.
bool HasEmptyName(Actor* actor) {
    auto* name =
        static_cast<NameComponent*>(DynamicCast(actor, HostFormTypeForName, HostNameComponentType));
    if (name == nullptr) {
        return false;
    }
    const char* text = name->functions->displayName(name);
    return text == nullptr || *text == '\0';
}

void* ProcessOf(Actor* actor) {
    return FieldAt<void*>(actor, offsets::kActorProcess);
}

bool SetAlpha(Actor* actor, float value) {
    void* process = actor == nullptr ? nullptr : ProcessOf(actor);
    if (process == nullptr) {
        return false;
    }
    // Without middle-process data there is nowhere to keep the alpha.
    void* middle = FieldAt<void*>(process, offsets::kProcessMiddleData);
    if (middle == nullptr) {
        return false;
    }
    value = value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
    FieldAt<float>(middle, offsets::kMiddleProcessAlpha) = value;
    return true;
}

void Equip(Actor* actor, TESForm* item, ExtraDataList* extra) {
    std::uint32_t unusedObject = 0;
    host::CallThiscall<void>(HostEquipItem, &unusedObject, actor, item, extra, std::int32_t{1}, 0u,
                             0u, 0u, 0u, 0u);
}

void Unequip(Actor* actor, TESForm* item) {
    std::uint32_t unusedObject = 0;
    host::CallThiscall<void>(HostUnequipItem, &unusedObject, actor, item,
                             static_cast<ExtraDataList*>(nullptr), std::int32_t{1}, 0u, 0u, 0u, 0u,
                             0u, 0u);
}

void Redress(Actor* actor, TESForm* placeholder, const WornArmor& worn) {
    Equip(actor, placeholder, nullptr);
    Unequip(actor, placeholder);
    std::uint32_t handle = 0;
    actor->functions->removeItem(actor, &handle, placeholder, 1, 0, 0, 0, 0, 0);
    host::CallCdecl<void>(HostRefreshAfterRemoval, actor);
    host::CallThiscall<void>(HostUpdateEquipment, ProcessOf(actor), actor);
    for (const auto& [armor, extra] : worn) {
        Equip(actor, armor, extra);
        host::CallThiscall<void>(HostApplyEquippedArmor, actor, armor, extra);
    }
    SetAlpha(actor, 1.0f);
    host::CallThiscall<void>(HostQueue3DRebuild, actor, 1u);
}

} // namespace

void* PreparePlaceholders() {
    TESForm* armor = LookupForm(kPlaceholderArmorId);
    TESForm* addon = LookupForm(kPlaceholderAddonId);
    // Half a placeholder would re-dress with the wrong slots: keep neither.
    if (armor == nullptr || addon == nullptr) {
        return nullptr;
    }
    FieldAt<std::uint32_t>(armor, offsets::kArmorSlotMask) = kPlaceholderSlotMask;
    FieldAt<std::uint32_t>(addon, offsets::kArmorAddonSlotMask) = kPlaceholderSlotMask;
    g_placeholderArmor = armor;
    g_placeholderAddon = addon;
    return g_placeholderArmor;
}

EventResult RepairActorOnLoad(TESObjectLoadedEvent* event) {
    if (event == nullptr || event->loaded == 0) {
        return EventResult::Continue;
    }
    TESForm* form = LookupForm(event->formId);
    if (form == nullptr || FormType(form) != kFormTypeActor) {
        return EventResult::Continue;
    }
    auto* actor = reinterpret_cast<Actor*>(form);
    if (actor == FieldAt<Actor*>(reinterpret_cast<void*>(host::HostPlayer), 0)) {
        return EventResult::Continue;
    }
    if (IsExcludedRace(actor) || !IsPersonRace(actor) || FilteredOut(actor)) {
        return EventResult::Continue;
    }
    if (g_placeholderArmor == nullptr && PreparePlaceholders() == nullptr) {
        return EventResult::Continue;
    }
    WornArmor worn;
    if (!CollectWornArmor(actor, worn) || HasEmptyName(actor)) {
        return EventResult::Continue;
    }
    // From here on the sequence runs to its end: an actor is never left half re-dressed.
    if (!SetAlpha(actor, 0.0f)) {
        return EventResult::Continue;
    }
    Redress(actor, g_placeholderArmor, worn);
    return EventResult::Continue;
}

} // namespace glimmerward
