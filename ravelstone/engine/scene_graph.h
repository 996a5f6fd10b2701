// The game's scene-graph objects as far as Ravelstone reads and writes them. They follow the
// layout of the game's compiler: a function table of thiscall slots, then the fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/calling.h"

namespace ravelstone {

struct SceneObject;

// Virtual slots used here; the others are never called.
struct SceneObjectTable {
    void* slots0To2[3];
    // Non-zero when the object is a node, which can have children.
    std::uintptr_t(HOST_THISCALL* isNode)(SceneObject* self);
    void* slots4To38[35];
    // The first descendant whose name is the one in the given name field, or null.
    SceneObject*(HOST_THISCALL* findByName)(SceneObject* self, const std::uint32_t* name);
};
static_assert(offsetof(SceneObjectTable, isNode) == 0x0C);
static_assert(offsetof(SceneObjectTable, findByName) == 0x9C);

struct SceneObject {
    const SceneObjectTable* table;
    std::uint8_t unknown04[4];
    std::uint32_t name; // zero when the object has no name
    std::uint8_t unknown0C[0x0C];
    SceneObject* parent; // null for a root
    std::uint8_t unknown1C[0x34];
    float localScale;
    std::uint8_t unknown54[0x30];
    float worldScale;
};
static_assert(offsetof(SceneObject, name) == 0x08);
static_assert(offsetof(SceneObject, parent) == 0x18);
static_assert(offsetof(SceneObject, localScale) == 0x50);
static_assert(offsetof(SceneObject, worldScale) == 0x84);

// A scene object that is a node (its slot 3 says so): the object's fields, then its children.
struct SceneNode {
    SceneObject object;
    std::uint8_t unknown88[0x24];
    SceneObject** children; // slots may be null
    std::uint16_t childSlots;
};
static_assert(offsetof(SceneNode, children) == 0xAC);
static_assert(offsetof(SceneNode, childSlots) == 0xB0);

} // namespace ravelstone
