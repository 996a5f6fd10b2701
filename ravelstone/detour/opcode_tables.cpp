// The opcode maps of 32-bit x86 code as far as function prologues need them. Each table is
// written as groups of rows that share one description; every one of the 256 rows of both maps
// belongs to exactly one group (checked at compile time).
#include "ravelstone/detour/opcode_tables.h"

#include <initializer_list>

namespace ravelstone::detour {
namespace {

struct Span {
    std::uint8_t first, last;
    constexpr Span(int only) : first(static_cast<std::uint8_t>(only)), last(first) {}
    constexpr Span(int from, int to)
        : first(static_cast<std::uint8_t>(from)), last(static_cast<std::uint8_t>(to)) {}
};

struct RowShape {
    OpcodeKind kind;
    std::uint8_t length = 0;
    std::uint8_t prefixedLength = 0; // 0: same as length
    std::uint8_t modRmOffset = 0;
    std::uint8_t displacementOffset = 0;
    bool addressSizeSelects = false;
    bool cannotWiden = false;
};

struct Group {
    std::initializer_list<Span> rows;
    RowShape shape;
};

using Table = std::array<OpcodeRow, 256>;

constexpr Table BuildTable(std::initializer_list<Group> groups) {
    Table table{};
    std::array<int, 256> uses{};
    for (const Group& group : groups) {
        for (const Span& span : group.rows) {
            for (int op = span.first; op <= span.last; ++op) {
                const RowShape& s = group.shape;
                OpcodeRow& row = table[op];
                row.opcode = static_cast<std::uint8_t>(op);
                row.length = s.length;
                row.prefixedLength = s.prefixedLength != 0 ? s.prefixedLength : s.length;
                row.modRmOffset = s.modRmOffset;
                row.displacementOffset = s.displacementOffset;
                row.addressSizeSelects = s.addressSizeSelects;
                row.cannotWiden = s.cannotWiden;
                row.kind = s.kind;
                ++uses[op];
            }
        }
    }
    for (int op = 0; op < 256; ++op) {
        if (uses[op] != 1) {
            throw "every opcode must belong to exactly one group";
        }
    }
    return table;
}

constexpr RowShape Plain(std::uint8_t length, std::uint8_t modRmOffset = 0) {
    return {OpcodeKind::Plain, length, 0, modRmOffset};
}
constexpr RowShape ByOperandSize(std::uint8_t length, std::uint8_t prefixed,
                                 std::uint8_t modRmOffset = 0) {
    return {OpcodeKind::Plain, length, prefixed, modRmOffset};
}
constexpr RowShape Kind(OpcodeKind kind) {
    return {kind, 1};
}

constexpr Table kPrimary = BuildTable({
    {{0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0xF0, 0xF2, 0xF3}, Kind(OpcodeKind::Prefix)},
    {{0x66}, Kind(OpcodeKind::OperandSizePrefix)},
    {{0x67}, Kind(OpcodeKind::AddressSizePrefix)},
    {{0x0F}, Kind(OpcodeKind::Escape)},
    {{{0x06, 0x07}, 0x0E,         {0x16, 0x17}, {0x1E, 0x1F}, 0x27,         0x2F,
      0x37,         {0x3F, 0x61}, {0x6C, 0x6F}, {0x90, 0x99}, {0x9B, 0x9F}, {0xA4, 0xA7},
      {0xAA, 0xAF}, 0xC3,         0xC9,         {0xCB, 0xCC}, {0xCE, 0xCF}, 0xD7,
      {0xEC, 0xEF}, {0xF4, 0xF5}, {0xF8, 0xFD}},
     Plain(1)},
    {{0x04,
      0x0C,
      0x14,
      0x1C,
      0x24,
      0x2C,
      0x34,
      0x3C,
      0x6A,
      0xA8,
      {0xB0, 0xB7},
      0xCD,
      {0xD4, 0xD5},
      {0xE4, 0xE7}},
     Plain(2)},
    {{{0x00, 0x03},
      {0x08, 0x0B},
      {0x10, 0x13},
      {0x18, 0x1B},
      {0x20, 0x23},
      {0x28, 0x2B},
      {0x30, 0x33},
      {0x38, 0x3B},
      {0x62, 0x63},
      {0x84, 0x8F},
      {0xC4, 0xC5},
      {0xD0, 0xD3},
      {0xD8, 0xDF},
      0xFE},
     Plain(2, 1)},
    {{0x6B, 0x80, 0x82, 0x83, {0xC0, 0xC1}, 0xC6}, Plain(3, 1)},
    {{0xC2, 0xCA}, Plain(3)},
    {{0xC8}, Plain(4)},
    {{0x05, 0x0D, 0x15, 0x1D, 0x25, 0x2D, 0x35, 0x3D, 0x68, 0xA9, {0xB8, 0xBF}},
     ByOperandSize(5, 3)},
    {{{0xA0, 0xA3}}, {OpcodeKind::Plain, 5, 3, 0, 0, /*addressSizeSelects=*/true}},
    {{0x69, 0x81, 0xC7}, ByOperandSize(6, 4, 1)},
    {{0x9A, 0xEA}, ByOperandSize(7, 5)},
    {{0xE8, 0xE9}, {OpcodeKind::Plain, 5, 3, 0, /*displacementOffset=*/1}},
    {{{0x70, 0x7F}, 0xEB}, Kind(OpcodeKind::ShortJump)},
    {{{0xE0, 0xE3}}, {OpcodeKind::Plain, 2, 2, 0, 1, false, /*cannotWiden=*/true}},
    {{0xF6}, Kind(OpcodeKind::GroupF6)},
    {{0xF7}, Kind(OpcodeKind::GroupF7)},
    {{0xFF}, Kind(OpcodeKind::GroupFF)},
    {{0xD6, 0xF1}, Kind(OpcodeKind::Invalid)},
});

// Counted from the byte after 0x0F.
constexpr Table kSecondary = BuildTable({
    {{{0x00, 0x03},
      0x0D,
      {0x10, 0x18},
      {0x1F, 0x23},
      {0x28, 0x2F},
      {0x40, 0x6F},
      {0x74, 0x76},
      {0x7E, 0x7F},
      {0x90, 0x9F},
      0xA3,
      0xA5,
      0xAB,
      {0xAD, 0xB7},
      {0xBB, 0xC1},
      0xC3,
      0xC7,
      {0xD1, 0xEF},
      {0xF1, 0xFE}},
     Plain(2, 1)},
    {{0x0F, {0x70, 0x73}, 0xA4, 0xAC, 0xBA, 0xC2, {0xC4, 0xC6}}, Plain(3, 1)},
    // Two-byte instructions in all (0F 31 is RDTSC, 0F C8 BSWAP EAX): one byte behind the
    // escape.
    {{0x06, {0x08, 0x09}, 0x0B, 0x0E, {0x30, 0x35}, 0x77, {0xA0, 0xA2}, {0xA8, 0xAA}, {0xC8, 0xCF}},
     Plain(1)},
    {{{0x80, 0x8F}}, {OpcodeKind::Plain, 5, 3, 0, /*displacementOffset=*/1}},
    {{{0x04, 0x05},
      0x07,
      0x0A,
      0x0C,
      {0x19, 0x1E},
      {0x24, 0x27},
      {0x36, 0x3F},
      {0x78, 0x7D},
      {0xA6, 0xA7},
      {0xB8, 0xB9},
      0xD0,
      0xF0,
      0xFF},
     Kind(OpcodeKind::Invalid)},
});

constexpr std::array<ModRmLength, 256> BuildModRmLengths() {
    std::array<ModRmLength, 256> table{};
    for (int m = 0; m < 256; ++m) {
        const int mod = m >> 6, rm = m & 7;
        ModRmLength& e = table[m];
        switch (mod) {
        case 0:
            e.count = rm == 4 ? 1 : rm == 5 ? 4 : 0;
            e.sibBaseMayAddDisplacement = rm == 4;
            break;
        case 1:
            e.count = rm == 4 ? 2 : 1;
            break;
        case 2:
            e.count = rm == 4 ? 5 : 4;
            break;
        default:
            e.count = 0;
            break;
        }
    }
    return table;
}

} // namespace

const std::array<OpcodeRow, 256> PrimaryOpcodeTable = kPrimary;
const std::array<OpcodeRow, 256> SecondaryOpcodeTable = kSecondary;
const std::array<ModRmLength, 256> ModRmLengthTable = BuildModRmLengths();

} // namespace ravelstone::detour
