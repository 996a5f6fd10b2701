#include "ravelstone/engine/sleep_cave.h"

#include "ravelstone/core/write_jump.h"

// The constants are spelled out in the assembly; keep them tied to the names above.
static_assert(ravelstone::HostWaitSiteGlobal == 0x01BC0294);
static_assert(ravelstone::HostWaitSiteReturn == 0x006F409F);

asm(R"(
    .intel_syntax noprefix
    .text
    .globl _WaitSiteSleepCave
_WaitSiteSleepCave:
    push 25
    call dword ptr [__imp__Sleep@4]
    mov ecx, dword ptr ds:[0x01BC0294]
    mov eax, 0x006F409F
    jmp eax
    .att_syntax prefix
)");

namespace ravelstone {

void InstallSleepCave() {
    WriteJump(HostWaitSite, reinterpret_cast<const void*>(&WaitSiteSleepCave));
}

} // namespace ravelstone
