#include "testhost/raw_code.h"

#include "testhost/game_range.h"

#include "host/relative_jump.h"

extern "C" {
// Shared with the assembly below; one raw run at a time.
testhost::Registers testhost_raw_in;
testhost::Registers testhost_raw_out;
std::uint32_t testhost_raw_entry;
std::uint32_t testhost_raw_saved[5]; // ebx, esi, edi, ebp, esp of the driver
void testhost_raw_drive();
void testhost_raw_catch();
}

// testhost_raw_drive: keeps the driver's callee-saved registers and stack pointer, loads the
// test's registers and jumps to the entry. testhost_raw_catch: reached by the jump planted at
// the landing site; records every register, then returns to the driver's caller.
asm(R"(
    .intel_syntax noprefix
    .text
    .globl _testhost_raw_drive
_testhost_raw_drive:
    mov [_testhost_raw_saved + 0], ebx
    mov [_testhost_raw_saved + 4], esi
    mov [_testhost_raw_saved + 8], edi
    mov [_testhost_raw_saved + 12], ebp
    mov [_testhost_raw_saved + 16], esp
    mov [_testhost_raw_in + 16], esp
    mov eax, [_testhost_raw_in + 0]
    mov ecx, [_testhost_raw_in + 4]
    mov edx, [_testhost_raw_in + 8]
    mov ebx, [_testhost_raw_in + 12]
    mov ebp, [_testhost_raw_in + 20]
    mov esi, [_testhost_raw_in + 24]
    mov edi, [_testhost_raw_in + 28]
    jmp dword ptr [_testhost_raw_entry]

    .globl _testhost_raw_catch
_testhost_raw_catch:
    mov [_testhost_raw_out + 0], eax
    mov [_testhost_raw_out + 4], ecx
    mov [_testhost_raw_out + 8], edx
    mov [_testhost_raw_out + 12], ebx
    mov [_testhost_raw_out + 16], esp
    mov [_testhost_raw_out + 20], ebp
    mov [_testhost_raw_out + 24], esi
    mov [_testhost_raw_out + 28], edi
    mov ebx, [_testhost_raw_saved + 0]
    mov esi, [_testhost_raw_saved + 4]
    mov edi, [_testhost_raw_saved + 8]
    mov ebp, [_testhost_raw_saved + 12]
    mov esp, [_testhost_raw_saved + 16]
    ret
    .att_syntax prefix
)");

namespace testhost {

Registers RunRawCode(std::uintptr_t entry, std::uintptr_t landing, const Registers& in,
                     std::uint32_t* jumpEsp) {
    const auto jump = host::EncodeRelativeJump(
        static_cast<std::uint32_t>(landing), reinterpret_cast<std::uintptr_t>(&testhost_raw_catch));
    Plant(landing, jump.data(), jump.size());
    testhost_raw_in = in;
    testhost_raw_entry = static_cast<std::uint32_t>(entry);
    testhost_raw_out = Registers{};
    testhost_raw_drive();
    if (jumpEsp != nullptr) {
        *jumpEsp = testhost_raw_in.esp;
    }
    return testhost_raw_out;
}

} // namespace testhost
