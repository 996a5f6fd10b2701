// Moves one 32-bit x86 instruction to another address, keeping every relative destination.
#pragma once

#include <cstdint>

namespace ravelstone::detour {

// Why a copy cannot be used in a trampoline. The copier writes what it can and reports the
// trouble; the detour engine refuses such targets.
enum class CopyTrouble : std::uint8_t {
    None,
    InvalidOpcode,          // a row marked invalid: nothing written for that byte
    DisplacementOutOfReach, // a relative displacement no longer fits its size after the move
    TooLong,                // more than the processor's 15 bytes (a run of prefixes)
    OperandSizeShortJump,   // 66 EB / 66 7x: the widened form would take a 16-bit displacement
    SixteenBitAddressing,   // 0x67 before a ModR/M byte: 16-bit forms the tables do not measure
};

struct CopiedInstruction {
    const std::uint8_t* nextSource; // just behind the source instruction
    // Output length minus source length for a widened short jump (3 or 4); for a relative
    // displacement that no longer fits, 3 (8-bit) or 2 (16-bit), negated for rows that cannot
    // widen; 0 otherwise.
    std::int32_t extra;
    CopyTrouble trouble;
};

// The longest instruction the processor accepts, and the most a copy can write (a widened
// short jump behind prefixes).
inline constexpr int kMaxInstructionLength = 15;
inline constexpr int kMaxCopyLength = kMaxInstructionLength + 4;

// Copies the instruction at source to output, rebasing relative displacements so that the copy
// reaches the same destinations.
CopiedInstruction CopyInstruction(void* output, const void* source);

// The same, for an instruction that will live at outputAddress but is written to buffer first
// (at least kMaxCopyLength bytes): lets the caller check the result before anything reaches
// its final place.
CopiedInstruction CopyInstructionStaged(std::uint8_t* buffer, std::uintptr_t outputAddress,
                                        const void* source);

} // namespace ravelstone::detour
