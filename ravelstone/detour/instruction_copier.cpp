#include "ravelstone/detour/instruction_copier.h"

#include <cstring>

#include "ravelstone/detour/opcode_tables.h"

namespace ravelstone::detour {
namespace {

struct CopyState {
    std::uint8_t* buffer;
    std::intptr_t moveDistance; // output address minus source address
    const std::uint8_t* source; // first byte of the instruction (its prefixes included)
    int position = 0;           // offset of the byte that selects the current row
    bool operandSize = false;
    bool addressSize = false;
};

CopiedInstruction Result(const CopyState& state, int length, std::int32_t extra,
                         CopyTrouble trouble) {
    return {state.source + length, extra, trouble};
}

std::int32_t ReadSigned(const std::uint8_t* at, int size) {
    switch (size) {
    case 1:
        return static_cast<std::int8_t>(at[0]);
    case 2: {
        std::int16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    default: {
        std::int32_t v;
        std::memcpy(&v, at, 4);
        return v;
    }
    }
}

void WriteSigned(std::uint8_t* at, int size, std::int64_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    std::memcpy(at, &bits, static_cast<std::size_t>(size));
}

CopiedInstruction CopyPlain(CopyState& state, const OpcodeRow& row) {
    const std::uint8_t* at = state.source + state.position;
    const bool prefixed = row.addressSizeSelects ? state.addressSize : state.operandSize;
    const int chosenLength = prefixed ? row.prefixedLength : row.length;
    int length = chosenLength;
    if (row.modRmOffset != 0) {
        if (state.addressSize) {
            return Result(state, state.position + length, 0, CopyTrouble::SixteenBitAddressing);
        }
        const std::uint8_t modRm = at[row.modRmOffset];
        const ModRmLength& extra = ModRmLengthTable[modRm];
        length += extra.count;
        if (extra.sibBaseMayAddDisplacement && (at[row.modRmOffset + 1] & 7) == 5) {
            length += 4;
        }
    }
    const int total = state.position + length;
    if (total > kMaxInstructionLength) {
        return Result(state, total, 0, CopyTrouble::TooLong);
    }
    std::uint8_t* out = state.buffer + state.position;
    std::memcpy(out, at, static_cast<std::size_t>(length));

    std::int32_t extra = 0;
    if (row.displacementOffset != 0) {
        const int size = chosenLength - row.displacementOffset;
        const std::int64_t moved =
            static_cast<std::int64_t>(ReadSigned(out + row.displacementOffset, size)) -
            state.moveDistance;
        WriteSigned(out + row.displacementOffset, size, moved);
        if (size == 1 && (moved < -128 || moved > 127)) {
            extra = 3;
        } else if (size == 2 && (moved < -32768 || moved > 32767)) {
            extra = 2;
        }
    }
    if (row.cannotWiden) {
        extra = -extra;
    }
    return Result(state, total, extra,
                  extra != 0 ? CopyTrouble::DisplacementOutOfReach : CopyTrouble::None);
}

CopiedInstruction WidenShortJump(CopyState& state, std::uint8_t opcode) {
    const int length = state.position + 2;
    if (state.operandSize) {
        return Result(state, length, 0, CopyTrouble::OperandSizeShortJump);
    }
    const std::int64_t d8 = static_cast<std::int8_t>(state.source[state.position + 1]);
    std::uint8_t* out = state.buffer + state.position;
    if (opcode == 0xEB) {
        out[0] = 0xE9;
        WriteSigned(out + 1, 4, d8 - (state.moveDistance + 3));
        return Result(state, length, 3, CopyTrouble::None);
    }
    out[0] = 0x0F;
    out[1] = static_cast<std::uint8_t>(0x80 + (opcode - 0x70));
    WriteSigned(out + 2, 4, d8 - (state.moveDistance + 4));
    return Result(state, length, 4, CopyTrouble::None);
}

std::uint8_t RegField(const CopyState& state) {
    return (state.source[state.position + 1] >> 3) & 7;
}

// In 32-bit code BOUND (62), LES (C4) and LDS (C5) with a register operand (mod 11) do not
// exist: those bytes start EVEX and VEX encoded instructions, whose lengths the tables do not
// give.
bool IsVexOrEvex(const CopyState& state, const std::array<OpcodeRow, 256>& table,
                 std::uint8_t opcode) {
    return &table == &PrimaryOpcodeTable && (opcode == 0x62 || opcode == 0xC4 || opcode == 0xC5) &&
           (state.source[state.position + 1] >> 6) == 3;
}

OpcodeRow GroupRow(std::uint8_t opcode, std::uint8_t length, std::uint8_t prefixedLength) {
    OpcodeRow row{};
    row.opcode = opcode;
    row.length = length;
    row.prefixedLength = prefixedLength;
    row.modRmOffset = 1;
    row.kind = OpcodeKind::Plain;
    return row;
}

} // namespace

CopiedInstruction CopyInstructionStaged(std::uint8_t* buffer, std::uintptr_t outputAddress,
                                        const void* source) {
    CopyState state{
        buffer,
        static_cast<std::intptr_t>(outputAddress - reinterpret_cast<std::uintptr_t>(source)),
        static_cast<const std::uint8_t*>(source)};
    const std::array<OpcodeRow, 256>* table = &PrimaryOpcodeTable;
    for (;;) {
        if (state.position >= kMaxInstructionLength) {
            return Result(state, state.position, 0, CopyTrouble::TooLong);
        }
        const std::uint8_t byte = state.source[state.position];
        const OpcodeRow& row = (*table)[byte];
        switch (row.kind) {
        case OpcodeKind::OperandSizePrefix:
            state.operandSize = true;
            [[fallthrough]];
        case OpcodeKind::AddressSizePrefix:
            state.addressSize = state.addressSize || row.kind == OpcodeKind::AddressSizePrefix;
            [[fallthrough]];
        case OpcodeKind::Prefix:
            table = &PrimaryOpcodeTable;
            buffer[state.position++] = byte;
            continue;
        case OpcodeKind::Escape:
            table = &SecondaryOpcodeTable;
            buffer[state.position++] = byte;
            continue;
        case OpcodeKind::ShortJump:
            return WidenShortJump(state, byte);
        // The processor reads reg 1 as TEST with an immediate too, like reg 0.
        case OpcodeKind::GroupF6:
            return CopyPlain(state,
                             RegField(state) <= 1 ? GroupRow(byte, 3, 3) : GroupRow(byte, 2, 2));
        case OpcodeKind::GroupF7:
            return CopyPlain(state,
                             RegField(state) <= 1 ? GroupRow(byte, 6, 4) : GroupRow(byte, 2, 2));
        case OpcodeKind::GroupFF:
            return CopyPlain(state, GroupRow(byte, 2, 2));
        case OpcodeKind::Invalid:
            return Result(state, state.position + 1, 0, CopyTrouble::InvalidOpcode);
        case OpcodeKind::Plain:
            if (IsVexOrEvex(state, *table, byte)) {
                return Result(state, state.position + 1, 0, CopyTrouble::InvalidOpcode);
            }
            return CopyPlain(state, row);
        }
    }
}

CopiedInstruction CopyInstruction(void* output, const void* source) {
    return CopyInstructionStaged(static_cast<std::uint8_t*>(output),
                                 reinterpret_cast<std::uintptr_t>(output), source);
}

} // namespace ravelstone::detour
