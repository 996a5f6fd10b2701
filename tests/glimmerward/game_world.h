// The game's side of what Glimmerward talks to, planted at the real addresses of runtime
// 1.9.32.0: the event dispatchers, form lookup, dynamic cast, actors, races, inventories,
// process records, the data handler and the equip, unequip, refresh and rebuild functions.
// Every host function records its call; objects are zeroed blocks with their fields at the
// game's offsets and function tables with the game's slot numbers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace glimmerward_test {

inline constexpr std::uintptr_t kMagicEffectDispatcher = 0x012E5020;
inline constexpr std::uintptr_t kObjectLoadedDispatcher = 0x012E50B0;
inline constexpr std::uint32_t kPlaceholderArmorId = 0x000B8837;
inline constexpr std::uint32_t kPlaceholderAddonId = 0x000B8836;
inline constexpr std::uint32_t kPersonKeywordId = 0x00013794;
inline constexpr std::uint32_t kExcludedKeywordId = 0x00013795;
inline constexpr std::uint32_t kFollowerFormAId = 0x0005C84D;
inline constexpr std::uint32_t kFollowerFormBId = 0x0009A7B2;
inline constexpr std::uintptr_t kNameSourceType = 0x0123EA2C;
inline constexpr std::uintptr_t kNameTargetType = 0x0123B0D8;
inline constexpr std::uintptr_t kKeywordSourceType = 0x0123B000;
inline constexpr std::uintptr_t kKeywordTargetType = 0x0123B0F4;

struct HostCall {
    std::string what;
    std::uint32_t self = 0; // the object of a thiscall, 0 for cdecl
    std::vector<std::uint32_t> args;
    float alpha = -1.0f; // the watched actor's alpha when the call was made
};

using Address = std::uint32_t;
template <class T> Address A(T* p) {
    return static_cast<Address>(reinterpret_cast<std::uintptr_t>(p));
}

struct TestActor {
    std::uint8_t* actor;
    std::uint8_t* baseForm;
    std::uint8_t* process;
    std::uint8_t* middle;
    std::uint8_t* inventory; // the inventory-changes record
    std::uint8_t* nameComponent;
    std::uint32_t formId;
    float Alpha() const;
    void SetTeammate(bool teammate);
};

// The worn (or carried) instances of one armor in an inventory.
struct ArmorInstances {
    std::uint8_t* armor;
    std::vector<std::uint8_t*> extraLists; // in list order
};

class GameWorld {
public:
    GameWorld(); // plants every host function and global
    ~GameWorld();
    GameWorld(const GameWorld&) = delete;
    GameWorld& operator=(const GameWorld&) = delete;

    static GameWorld& Get();

    std::uint8_t* NewBlock(std::size_t size = 0x400);
    std::uint8_t* NewForm(std::uint32_t formId, std::uint8_t formType);
    std::uint8_t* NewRace(std::uint32_t formId, bool person, bool excluded);
    TestActor NewActor(std::uint32_t formId, std::uint8_t* race, const char* name = "Lydia");
    // Adds an inventory entry holding armor (form type 0x1A unless given) with one extra-data
    // list per element of worn (true: the worn bit is set; false: carried only).
    ArmorInstances AddItem(TestActor& actor, std::uint32_t formId, std::vector<bool> worn,
                           std::uint8_t formType = 0x1A);
    // An inventory entry with no list of extra-data lists at all.
    void AddBareItem(TestActor& actor, std::uint32_t formId);
    void SetPlayer(std::uint8_t* actor);
    void RemoveForm(std::uint32_t formId);
    // Mod files in the data handler's list, in order.
    void SetModFiles(const std::vector<std::string>& names);
    // The data handler global stays null until 0x0043DE50 creates it.
    void DeferDataHandler();
    void SetHasForm(std::uint8_t* actor, std::uint32_t formId);

    void Watch(const TestActor& actor) { watched_ = actor.middle; }
    std::vector<HostCall>& calls() { return calls_; }
    const std::vector<HostCall>& calls() const { return calls_; }
    std::vector<std::string> CallNames() const;
    std::vector<std::uint32_t>& sinks(std::uintptr_t dispatcher) { return sinks_[dispatcher]; }

    // Delivers an event to every sink of the dispatcher, as the game does.
    void Dispatch(std::uintptr_t dispatcher, void* event);
    void DispatchObjectLoaded(std::uint32_t formId, bool loaded);

    // Used by the planted functions.
    void Record(const char* what, std::uint32_t self, std::vector<std::uint32_t> args);
    std::uint8_t* LookupForm(std::uint32_t id);
    std::map<std::uint8_t*, std::uint8_t*> nameComponentOf;
    std::map<std::uint8_t*, const char*> nameText;
    std::map<std::uint8_t*, std::uint8_t*> inventoryOf;
    std::map<std::uint8_t*, std::set<std::uint8_t*>> raceKeywords;
    std::map<std::uint8_t*, std::set<std::uint8_t*>> actorForms;
    std::map<std::uint8_t*, std::uint8_t*> keywordCastOf;
    std::uint8_t* dataHandler = nullptr;

private:
    std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
    std::map<std::uint32_t, std::uint8_t*> forms_;
    std::map<std::uintptr_t, std::vector<std::uint32_t>> sinks_;
    std::vector<HostCall> calls_;
    std::uint8_t* watched_ = nullptr;
};

// A field of a stand-in record.
template <class T> T& At(std::uint8_t* record, std::size_t offset) {
    return *reinterpret_cast<T*>(record + offset);
}

} // namespace glimmerward_test
