// Subscribes a plain function to the game's dispatcher of one event type.
#pragma once

#include <new>

#include "glimmerward/host_events.h"

template <class E> class SKSEEvent {
public:
    // Tags choosing the callback's shape: it takes the event only, and is a plain function.
    struct Arg1 {};
    struct CompFunction {};

    template <class Callback, class ArgTag, class KindTag> class EventSink;

    // A sink calling back a plain function with the event alone.
    template <class Callback>
    class EventSink<Callback, Arg1, CompFunction> : public BSTEventSink<E> {
    public:
        explicit EventSink(Callback callback) : callback_(callback) {
            this->functions = &kFunctions;
        }

    private:
        static void* HOST_THISCALL Destroy(BSTEventSink<E>* self, std::uint32_t flags) {
            auto* sink = static_cast<EventSink*>(self);
            sink->~EventSink();
            if ((flags & 1) != 0) {
                ::operator delete(sink);
            }
            return sink;
        }
        static EventResult HOST_THISCALL ReceiveEvent(BSTEventSink<E>* self, E* event,
                                                      EventDispatcher<E>*) {
            return static_cast<EventSink*>(self)->callback_(event);
        }
        static constexpr
            typename BSTEventSink<E>::FunctionTable kFunctions = {&Destroy, &ReceiveEvent};
        Callback callback_;
    };

    using Callback = EventResult (*)(E*);

    // The sink stays subscribed, and allocated, until the process ends. Without memory for it
    // nothing is subscribed.
    static void Register(Callback callback) {
        auto* sink = new (std::nothrow) EventSink<Callback, Arg1, CompFunction>(callback);
        if (sink != nullptr) {
            AddEventSink(GameDispatcher<E>(), static_cast<BSTEventSink<E>*>(sink));
        }
    }
};
