// Drives raw code that the game reaches by a jump, with a register contract: the test loads
// every general register, jumps to a site and catches the registers where the code lands.
#pragma once

#include <cstdint>

namespace testhost {

struct Registers {
    std::uint32_t eax, ecx, edx, ebx, esp, ebp, esi, edi;
};

// Plants at landing a jump to a catcher, loads eax..edi and ebp from in (esp stays the
// driver's own), jumps to entry and returns the registers found on arrival at landing. out.esp
// arrives as it was at the jump when the code kept the stack balanced; jumpEsp receives the
// stack pointer at the moment of the jump, for comparison.
Registers RunRawCode(std::uintptr_t entry, std::uintptr_t landing, const Registers& in,
                     std::uint32_t* jumpEsp = nullptr);

} // namespace testhost
