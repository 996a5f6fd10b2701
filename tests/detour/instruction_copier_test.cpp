// The copier on the instruction forms of function prologues: lengths taken, bytes written,
// relative destinations kept, short jumps widened, and the troubles that make a target refused.
#include "ravelstone/detour/instruction_copier.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace ravelstone::detour;
using Bytes = std::vector<std::uint8_t>;

// Where the displacement sits in the source and in the copy, and its sizes.
struct Relative {
    int sourceOffset, sourceSize, outputOffset, outputSize;
};

struct Case {
    const char* what;
    Bytes bytes;
    int outputAt; // output position relative to the source, in a shared block
    int taken;    // source bytes the instruction covers
    int extra;    // output length minus taken for a widened jump, else the trouble signal
    CopyTrouble trouble;
    Relative relative = {0, 0, 0, 0}; // none: the output must equal the source bytes
    Bytes outputHead = {};            // expected opcode bytes of a widened copy
};

std::int64_t ReadDisplacement(const std::uint8_t* at, int size) {
    if (size == 1) {
        return static_cast<std::int8_t>(*at);
    }
    if (size == 2) {
        std::int16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    std::int32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

Bytes With(Bytes head, int fill, std::uint8_t value = 0x11) {
    head.insert(head.end(), static_cast<std::size_t>(fill), value);
    return head;
}

TEST(CopyInstruction, PrologueFormsAndRelativeCode) {
    const Bytes fifteenPrefixes = With({}, 14, 0x2E);
    const Case cases[] = {
        {"push ebp", {0x55}, 64, 1, 0, CopyTrouble::None},
        {"mov ebp, esp", {0x8B, 0xEC}, 64, 2, 0, CopyTrouble::None},
        {"mov eax, [ebp+8]", {0x8B, 0x45, 0x08}, 64, 3, 0, CopyTrouble::None},
        {"mov eax, [esp]", {0x8B, 0x04, 0x24}, 64, 3, 0, CopyTrouble::None},
        {"mov eax, [abs32]", With({0x8B, 0x05}, 4), 64, 6, 0, CopyTrouble::None},
        {"SIB without base under mod 00", With({0x8B, 0x04, 0x25}, 4), 64, 7, 0, CopyTrouble::None},
        {"SIB base EBP under mod 01 has only its 8-bit displacement",
         {0x8B, 0x44, 0x25, 0x08},
         64,
         4,
         0,
         CopyTrouble::None},
        {"SIB base EBP under mod 10 has only its 32-bit displacement", With({0x8B, 0x84, 0x25}, 4),
         64, 7, 0, CopyTrouble::None},
        {"sub esp, imm8", {0x83, 0xEC, 0x20}, 64, 3, 0, CopyTrouble::None},
        {"sub esp, imm32", With({0x81, 0xEC}, 4), 64, 6, 0, CopyTrouble::None},
        {"sub sp, imm16", With({0x66, 0x81, 0xEC}, 2), 64, 5, 0, CopyTrouble::None},
        {"mov edi, edi", {0x8B, 0xFF}, 64, 2, 0, CopyTrouble::None},
        {"mov eax, [moffs32]", With({0xA1}, 4), 64, 5, 0, CopyTrouble::None},
        {"mov eax, [moffs16]", With({0x67, 0xA1}, 2), 64, 4, 0, CopyTrouble::None},
        {"test byte [abs32], imm8", With({0xF6, 0x05}, 5), 64, 7, 0, CopyTrouble::None},
        {"test alias F6 /1 takes its immediate", {0xF6, 0xC8, 0x01}, 64, 3, 0, CopyTrouble::None},
        {"neg al", {0xF6, 0xD8}, 64, 2, 0, CopyTrouble::None},
        {"test dword [abs32], imm32", With({0xF7, 0x05}, 8), 64, 10, 0, CopyTrouble::None},
        {"jmp [abs32] copied unchanged", With({0xFF, 0x25}, 4), 64, 6, 0, CopyTrouble::None},
        {"rdtsc is two bytes", {0x0F, 0x31}, 64, 2, 0, CopyTrouble::None},
        {"bswap eax is two bytes", {0x0F, 0xC8}, 64, 2, 0, CopyTrouble::None},
        {"enter", {0xC8, 0x10, 0x00, 0x00}, 64, 4, 0, CopyTrouble::None},
        {"ret imm16", {0xC2, 0x08, 0x00}, 64, 3, 0, CopyTrouble::None},
        {"call rel32 rebased",
         {0xE8, 0x10, 0x00, 0x00, 0x00},
         200,
         5,
         0,
         CopyTrouble::None,
         {1, 4, 1, 4},
         {0xE8}},
        {"call rel32 rebased backwards",
         {0xE8, 0xF0, 0xFF, 0xFF, 0xFF},
         -200,
         5,
         0,
         CopyTrouble::None,
         {1, 4, 1, 4},
         {0xE8}},
        {"jz rel32 rebased",
         {0x0F, 0x84, 0x10, 0x00, 0x00, 0x00},
         300,
         6,
         0,
         CopyTrouble::None,
         {2, 4, 2, 4},
         {0x0F, 0x84}},
        {"jz short widened",
         {0x74, 0x10},
         300,
         2,
         4,
         CopyTrouble::None,
         {1, 1, 2, 4},
         {0x0F, 0x84}},
        {"jmp short widened", {0xEB, 0xF0}, 300, 2, 3, CopyTrouble::None, {1, 1, 1, 4}, {0xE9}},
        {"branch hint kept before a widened jump",
         {0x3E, 0x75, 0x05},
         300,
         3,
         4,
         CopyTrouble::None,
         {2, 1, 3, 4},
         {0x3E, 0x0F, 0x85}},
        {"loop within reach", {0xE2, 0x70}, 8, 2, 0, CopyTrouble::None, {1, 1, 1, 1}, {0xE2}},
        {"loop out of reach", {0xE2, 0x10}, 300, 2, -3, CopyTrouble::DisplacementOutOfReach},
        {"jecxz out of reach", {0xE3, 0x10}, -300, 2, -3, CopyTrouble::DisplacementOutOfReach},
        {"call rel16 out of reach",
         {0x66, 0xE8, 0xF0, 0x7F},
         -600,
         4,
         2,
         CopyTrouble::DisplacementOutOfReach},
        {"operand-size jmp short", {0x66, 0xEB, 0x10}, 64, 3, 0, CopyTrouble::OperandSizeShortJump},
        {"operand-size jz short", {0x66, 0x74, 0x10}, 64, 3, 0, CopyTrouble::OperandSizeShortJump},
        {"invalid D6", {0xD6}, 64, 1, 0, CopyTrouble::InvalidOpcode},
        {"three-byte escape 0F 38", {0x0F, 0x38, 0x00, 0xC0}, 64, 2, 0, CopyTrouble::InvalidOpcode},
        {"VEX encoding", {0xC5, 0xF8, 0x77}, 64, 1, 0, CopyTrouble::InvalidOpcode},
        {"16-bit addressing",
         {0x67, 0x8B, 0x46, 0x08},
         64,
         3,
         0,
         CopyTrouble::SixteenBitAddressing},
        {"fourteen prefixes and a nop: 15 bytes", With(fifteenPrefixes, 1, 0x90), 64, 15, 0,
         CopyTrouble::None},
        {"fifteen prefixes and a nop: too long", With(With({}, 15, 0x2E), 1, 0x90), 64, 15, 0,
         CopyTrouble::TooLong},
        {"prefixes pushing mov eax, [abs32] past 15",
         With(With(With({}, 10, 0x3E), 1, 0x8B), 5, 0x05), 64, 16, 0, CopyTrouble::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> block(2048, 0xCC);
        std::uint8_t* source = block.data() + 1000;
        std::uint8_t* output = source + c.outputAt;
        std::memcpy(source, c.bytes.data(), c.bytes.size());
        const CopiedInstruction copied = CopyInstruction(output, source);
        EXPECT_EQ(copied.nextSource - source, c.taken);
        EXPECT_EQ(copied.extra, c.extra);
        EXPECT_EQ(static_cast<int>(copied.trouble), static_cast<int>(c.trouble));
        if (c.trouble != CopyTrouble::None) {
            continue;
        }
        const int written = c.taken + c.extra;
        if (c.relative.sourceSize == 0) {
            EXPECT_EQ(Bytes(output, output + written), Bytes(source, source + c.taken));
            continue;
        }
        EXPECT_EQ(Bytes(output, output + c.outputHead.size()), c.outputHead);
        const std::uint8_t* sourceDestination =
            source + c.taken +
            ReadDisplacement(source + c.relative.sourceOffset, c.relative.sourceSize);
        const std::uint8_t* outputDestination =
            output + written +
            ReadDisplacement(output + c.relative.outputOffset, c.relative.outputSize);
        EXPECT_EQ(outputDestination - block.data(), sourceDestination - block.data());
    }
}

} // namespace
