// The tables that drive the instruction copier: one row per opcode byte of the one-byte map and
// of the map behind the 0x0F escape, and the number of bytes that follow each ModR/M byte.
#pragma once

#include <array>
#include <cstdint>

namespace ravelstone::detour {

// How the copier treats an opcode byte.
enum class OpcodeKind : std::uint8_t {
    Plain,             // fixed length, optional ModR/M and relative displacement
    Prefix,            // segment, lock and repeat prefixes: copied, then the next byte
    OperandSizePrefix, // 0x66
    AddressSizePrefix, // 0x67
    Escape,            // 0x0F: the next byte selects a row of the secondary map
    ShortJump,         // EB and 70-7F: widened to their 32-bit forms
    GroupF6,           // TEST r/m8, imm8 or a unary group member, by the reg field
    GroupF7,           // TEST r/m32, imm32 or a unary group member, by the reg field
    GroupFF,           // inc, dec, indirect call and jump, push through r/m
    Invalid,           // not copied: the target is refused
};

struct OpcodeRow {
    std::uint8_t opcode;
    // Lengths and offsets count from the byte that selects the row; the ModR/M extras come on
    // top of the length.
    std::uint8_t length : 4;
    std::uint8_t prefixedLength : 4;
    std::uint8_t modRmOffset : 4;        // 0: no ModR/M byte
    std::uint8_t displacementOffset : 4; // 0: no relative displacement
    std::uint8_t addressSizeSelects : 1; // prefixedLength follows 0x67 instead of 0x66
    std::uint8_t cannotWiden : 1;        // a displacement that no longer fits cannot be widened
    OpcodeKind kind;
};

// Bytes behind a ModR/M byte in the 32-bit addressing forms.
struct ModRmLength {
    std::uint8_t count;
    // Set for the SIB forms under mod 00 only: there a SIB base of 101 means a 32-bit
    // displacement without base register. Under mod 01 and 10 base 101 is EBP with the
    // displacement already counted.
    bool sibBaseMayAddDisplacement;
};

extern const std::array<OpcodeRow, 256> PrimaryOpcodeTable;
extern const std::array<OpcodeRow, 256> SecondaryOpcodeTable;
extern const std::array<ModRmLength, 256> ModRmLengthTable;

} // namespace ravelstone::detour
