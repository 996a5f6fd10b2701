// The game's event sinks and dispatchers as the plug-in meets them. The game was built with
// Microsoft's compiler, so a sink is an object whose first field points to a table of thiscall
// functions: slot 0 the scalar deleting destructor, slot 1 ReceiveEvent. The table is laid out
// by hand because a GCC class with a virtual destructor would put ReceiveEvent on slot 2.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/calling.h"
#include "host/host_addresses.h"

// What a sink tells the dispatcher; every sink here answers Continue.
enum class EventResult : std::uint32_t { Continue = 0, Abort = 1 };

// Applied magic effects: the content is never read; only the arrival of the first one counts.
struct TESMagicEffectApplyEvent;

// An object's 3D was loaded (loaded non-zero) or unloaded (loaded zero).
struct TESObjectLoadedEvent {
    std::uint32_t formId;
    std::uint8_t loaded;
};
static_assert(offsetof(TESObjectLoadedEvent, formId) == 0x00);
static_assert(offsetof(TESObjectLoadedEvent, loaded) == 0x04);

// A game dispatcher is only ever handled through its address.
template <class Event> struct EventDispatcher;

// Where the game keeps the dispatcher of each event type.
template <class Event> struct EventDispatcherAddress;
template <> struct EventDispatcherAddress<TESMagicEffectApplyEvent> {
    static constexpr std::uintptr_t value = host::HostMagicEffectApplyDispatcher;
};
template <> struct EventDispatcherAddress<TESObjectLoadedEvent> {
    static constexpr std::uintptr_t value = host::HostObjectLoadedDispatcher;
};

template <class Event> struct BSTEventSink {
    struct FunctionTable {
        // Microsoft's scalar deleting destructor: bit 0 of flags asks for the memory too.
        void*(HOST_THISCALL* destroy)(BSTEventSink* self, std::uint32_t flags);
        EventResult(HOST_THISCALL* receiveEvent)(BSTEventSink* self, Event* event,
                                                 EventDispatcher<Event>* dispatcher);
    };
    static_assert(offsetof(FunctionTable, destroy) == 0 * 4);
    static_assert(offsetof(FunctionTable, receiveEvent) == 1 * 4);

    const FunctionTable* functions;
};
static_assert(sizeof(BSTEventSink<TESObjectLoadedEvent>) == 4);

// The game's own add and remove operations: thiscall on the dispatcher, the sink on the stack.
inline constexpr std::uintptr_t HostAddEventSink = host::HostAddEventSink;
inline constexpr std::uintptr_t HostRemoveEventSink = host::HostRemoveEventSink;

template <class Event>
void AddEventSink(EventDispatcher<Event>* dispatcher, BSTEventSink<Event>* sink) {
    host::CallThiscall<void>(HostAddEventSink, dispatcher, sink);
}

template <class Event>
void RemoveEventSink(EventDispatcher<Event>* dispatcher, BSTEventSink<Event>* sink) {
    host::CallThiscall<void>(HostRemoveEventSink, dispatcher, sink);
}

template <class Event> EventDispatcher<Event>* GameDispatcher() {
    return reinterpret_cast<EventDispatcher<Event>*>(EventDispatcherAddress<Event>::value);
}
