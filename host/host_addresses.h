// Host items that more than one plug-in part uses (game runtime 1.9.32.0).
#pragma once

#include <cstdint>

namespace host {

// 32-bit global holding the player's actor, null when there is none.
inline constexpr std::uintptr_t HostPlayer = 0x01B2E8E4;
// thiscall on a dispatcher, one stack argument: the sink.
inline constexpr std::uintptr_t HostAddEventSink = 0x006E3E30;
inline constexpr std::uintptr_t HostRemoveEventSink = 0x008CE0C0;
inline constexpr std::uintptr_t HostMagicEffectApplyDispatcher = 0x012E5020;
inline constexpr std::uintptr_t HostObjectLoadedDispatcher = 0x012E50B0;

// The game's code and data of that runtime lie in this range.
inline constexpr std::uintptr_t kHostRangeBegin = 0x00401000;
inline constexpr std::uintptr_t kHostRangeEnd = 0x01C00000;

} // namespace host
