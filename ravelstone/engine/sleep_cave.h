// Every game thread that reaches one wait site sleeps 25 ms before it goes on.
#pragma once

#include <cstdint>

namespace ravelstone {

// The site holds a six-byte "mov ecx, [HostWaitSiteGlobal]"; the jump written over it sends
// threads to WaitSiteSleepCave, which re-executes that load and returns to HostWaitSiteReturn.
inline constexpr std::uintptr_t HostWaitSite = 0x006F4099;
inline constexpr std::uintptr_t HostWaitSiteReturn = 0x006F409F;
inline constexpr std::uintptr_t HostWaitSiteGlobal = 0x01BC0294;

// Writes the jump at HostWaitSite (the load step does this once; never undone).
void InstallSleepCave();

} // namespace ravelstone

// Raw code reached by the jump: Sleep(25), ECX = [HostWaitSiteGlobal], EAX = HostWaitSiteReturn,
// jump through EAX. EBX, ESI, EDI, EBP and ESP arrive unchanged; EDX and the flags are what
// Sleep left.
extern "C" void WaitSiteSleepCave();
