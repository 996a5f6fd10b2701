// Calling the game's functions with the conventions of its compiler.
#pragma once

#include <cstdint>

namespace host {

#define HOST_THISCALL __attribute__((thiscall))
#define HOST_STDCALL __attribute__((stdcall))
#define HOST_CDECL __attribute__((cdecl))
#define HOST_FASTCALL __attribute__((fastcall))

// Object in ECX, stack arguments removed by the callee.
template <class R, class... A> R CallThiscall(std::uintptr_t address, void* self, A... args) {
    using Fn = R(HOST_THISCALL*)(void*, A...);
    return reinterpret_cast<Fn>(address)(self, args...);
}

// Stack arguments removed by the caller.
template <class R, class... A> R CallCdecl(std::uintptr_t address, A... args) {
    using Fn = R(HOST_CDECL*)(A...);
    return reinterpret_cast<Fn>(address)(args...);
}

// Stack arguments removed by the callee.
template <class R, class... A> R CallStdcall(std::uintptr_t address, A... args) {
    using Fn = R(HOST_STDCALL*)(A...);
    return reinterpret_cast<Fn>(address)(args...);
}

// Virtual functions of the game's objects: slot numbers count from 0 in the object's table.
template <class R, class... A> R CallVirtual(void* self, unsigned slot, A... args) {
    auto* table = *reinterpret_cast<std::uintptr_t**>(self);
    return CallThiscall<R>(table[slot], self, args...);
}

} // namespace host
