// The game's records and objects that the re-dressing reads and calls (runtime 1.9.32.0).
// Objects follow Microsoft's layout: the first field points to a table of thiscall functions,
// laid out here slot by slot with the game's slot numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/calling.h"

namespace glimmerward {

struct TESForm;
struct Actor;
struct ExtraDataList;
struct NameComponent;
struct KeywordComponent;
struct KeywordHolder;

// Field offsets inside the game's records.
namespace offsets {
inline constexpr std::size_t kFormId = 0x0C;
inline constexpr std::size_t kFormType = 0x12;
inline constexpr std::size_t kActorBaseForm = 0x24;
inline constexpr std::size_t kActorExtraData = 0x48;
inline constexpr std::size_t kActorFlags = 0x7F;
inline constexpr std::size_t kActorProcess = 0x88;
inline constexpr std::size_t kProcessMiddleData = 0x04;
inline constexpr std::size_t kMiddleProcessAlpha = 0x1B4;
inline constexpr std::size_t kBaseFormRace = 0xC4;
inline constexpr std::size_t kInventoryChangesEntries = 0x00;
inline constexpr std::size_t kInventoryEntryForm = 0x00;
inline constexpr std::size_t kInventoryEntryExtraLists = 0x04;
inline constexpr std::size_t kExtraDataPresence = 0x04;
inline constexpr std::size_t kDataHandlerModFiles = 0x694;
inline constexpr std::size_t kModFileName = 0x20;
inline constexpr std::size_t kArmorSlotMask = 0xE4;
inline constexpr std::size_t kArmorAddonSlotMask = 0x20;
} // namespace offsets

inline constexpr std::uint8_t kFormTypeRace = 0x0E;
inline constexpr std::uint8_t kFormTypeArmor = 0x1A;
inline constexpr std::uint8_t kFormTypeActor = 0x3E;
// Actor flags byte: the actor is the player's teammate.
inline constexpr std::uint8_t kActorTeammate = 0x04;
// Presence bitmap of an extra-data list, byte 2: this instance of the item is worn.
inline constexpr std::size_t kPresenceWornByte = 2;
inline constexpr std::uint8_t kPresenceWornMask = 0x40;

// A field of a game record at a byte offset.
template <class T> T& FieldAt(const void* record, std::size_t offset) {
    return *reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(record) + offset);
}

// Every list of the game used here: a head node embedded in its owner, then linked nodes. A head
// node whose item and next are both null is an empty list.
template <class T> struct ListNode {
    T* item;
    ListNode* next;

    bool Empty() const { return item == nullptr && next == nullptr; }
};
static_assert(offsetof(ListNode<void>, item) == 0x00);
static_assert(offsetof(ListNode<void>, next) == 0x04);

using UnusedSlot = void*;

struct ActorFunctionTable {
    UnusedSlot slots0To85[86];
    // Removes an item from the actor's inventory.
    void(HOST_THISCALL* removeItem)(Actor* self, std::uint32_t* handle, TESForm* item,
                                    std::int32_t count, std::uint32_t, std::uint32_t, std::uint32_t,
                                    std::uint32_t, std::uint32_t);
    UnusedSlot slots87To247[161];
    // The per-actor form test.
    bool(HOST_THISCALL* hasForm)(Actor* self, TESForm* form);
};
static_assert(offsetof(ActorFunctionTable, removeItem) == 86 * 4);
static_assert(offsetof(ActorFunctionTable, hasForm) == 248 * 4);

struct FormFunctionTable {
    UnusedSlot slots0To43[44];
    // An object that can answer keyword questions for forms without a keyword component.
    KeywordHolder*(HOST_THISCALL* keywordHolder)(TESForm* self);
};
static_assert(offsetof(FormFunctionTable, keywordHolder) == 44 * 4);

struct KeywordHolderFunctionTable {
    UnusedSlot slots0To71[72];
    bool(HOST_THISCALL* hasKeyword)(KeywordHolder* self, TESForm* keyword);
};
static_assert(offsetof(KeywordHolderFunctionTable, hasKeyword) == 72 * 4);

struct KeywordComponentFunctionTable {
    UnusedSlot slots0To3[4];
    bool(HOST_THISCALL* hasKeyword)(KeywordComponent* self, TESForm* keyword);
};
static_assert(offsetof(KeywordComponentFunctionTable, hasKeyword) == 4 * 4);

struct NameComponentFunctionTable {
    UnusedSlot slots0To4[5];
    const char*(HOST_THISCALL* displayName)(NameComponent* self);
};
static_assert(offsetof(NameComponentFunctionTable, displayName) == 5 * 4);

struct TESForm {
    const FormFunctionTable* functions;
};
struct Actor {
    const ActorFunctionTable* functions;
};
struct KeywordHolder {
    const KeywordHolderFunctionTable* functions;
};
struct KeywordComponent {
    const KeywordComponentFunctionTable* functions;
};
struct NameComponent {
    const NameComponentFunctionTable* functions;
};

inline std::uint32_t FormId(const TESForm* form) {
    return FieldAt<std::uint32_t>(form, offsets::kFormId);
}
inline std::uint8_t FormType(const TESForm* form) {
    return FieldAt<std::uint8_t>(form, offsets::kFormType);
}

} // namespace glimmerward
