// Calls a game function with the thiscall convention and measures what it removed from the
// stack, so a handler with the wrong convention shows up as a count, not as a later crash.
#pragma once

#include <cstdint>

extern "C" {
// ECX = self, the arguments pushed last to first, then a call; returns EAX and stores in
// engine_test_popped how many bytes the callee removed.
std::uint32_t engine_test_call_thiscall(std::uintptr_t function, const void* self,
                                        std::uint32_t count, const std::uint32_t* arguments);
extern std::uint32_t engine_test_popped;
}

asm(R"(
    .intel_syntax noprefix
    .data
    .globl _engine_test_popped
_engine_test_popped:
    .long 0
    .text
    .globl _engine_test_call_thiscall
_engine_test_call_thiscall:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    mov esi, [ebp + 20]
    mov ecx, [ebp + 16]
    lea edi, [esi + ecx * 4]
1:
    test ecx, ecx
    jz 2f
    sub edi, 4
    push dword ptr [edi]
    dec ecx
    jmp 1b
2:
    mov ebx, esp
    mov ecx, [ebp + 12]
    call dword ptr [ebp + 8]
    mov edx, esp
    sub edx, ebx
    mov [_engine_test_popped], edx
    lea esp, [ebp - 12]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
    .att_syntax prefix
)");
