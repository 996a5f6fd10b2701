// Every form of every opcode the copier's tables handle, measured by the copier and by capstone:
// the lengths must agree wherever the copier accepts the instruction.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include "ravelstone/detour/instruction_copier.h"
#include "ravelstone/detour/opcode_tables.h"

namespace {

using namespace ravelstone::detour;
using Bytes = std::vector<std::uint8_t>;

class Disassembler {
public:
    Disassembler() { ok_ = cs_open(CS_ARCH_X86, CS_MODE_32, &handle_) == CS_ERR_OK; }
    ~Disassembler() {
        if (ok_) {
            cs_close(&handle_);
        }
    }
    bool ok() const { return ok_; }
    // 0 when capstone does not decode the bytes.
    int Length(const Bytes& bytes) {
        cs_insn* insn = nullptr;
        const size_t count = cs_disasm(handle_, bytes.data(), bytes.size(), 0x1000, 1, &insn);
        const int length = count == 1 ? static_cast<int>(insn[0].size) : 0;
        if (count != 0) {
            cs_free(insn, count);
        }
        return length;
    }

private:
    csh handle_{};
    bool ok_ = false;
};

std::string Hex(const Bytes& bytes, std::size_t count) {
    std::ostringstream out;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X ", bytes[i]);
        out << text;
    }
    return out.str();
}

struct Measured {
    int length;
    CopyTrouble trouble;
};

Measured MeasureWithCopier(const Bytes& form) {
    // Source and output in one block, so that every displacement still fits after the move.
    std::uint8_t block[128] = {};
    std::memcpy(block, form.data(), form.size());
    const CopiedInstruction copied = CopyInstruction(block + 64, block);
    return {static_cast<int>(copied.nextSource - block), copied.trouble};
}

// Opcode rows whose following bytes form a ModR/M byte (groups included).
bool HasModRm(const OpcodeRow& row) {
    return row.kind == OpcodeKind::GroupF6 || row.kind == OpcodeKind::GroupF7 ||
           row.kind == OpcodeKind::GroupFF || (row.kind == OpcodeKind::Plain && row.modRmOffset);
}

// Where the tables deliberately differ from the processor, with the reason.
struct KnownDifference {
    const char* reason;
    bool (*matches)(const Bytes& opcodeOnwards, bool secondary);
};

const KnownDifference kKnownDifferences[] = {
    {"0F 20-23 (moving control and debug registers) take a register operand whatever the mod "
     "bits say; privileged, never in user-mode prologues",
     [](const Bytes& b, bool secondary) { return secondary && b[0] >= 0x20 && b[0] <= 0x23; }},
};

const KnownDifference* FindKnownDifference(const Bytes& opcodeOnwards, bool secondary) {
    for (const auto& known : kKnownDifferences) {
        if (known.matches(opcodeOnwards, secondary)) {
            return &known;
        }
    }
    return nullptr;
}

TEST(InstructionLength, AgreesWithCapstoneForEveryHandledForm) {
    Disassembler capstone;
    ASSERT_TRUE(capstone.ok());
    const Bytes prefixSets[] = {{}, {0x66}, {0x67}, {0x2E}, {0x64}, {0xF3}, {0x66, 0x67}};
    int compared = 0, refused = 0, known = 0, undefined = 0;
    std::map<std::string, int> mismatchesShown;
    std::vector<std::string> mismatches;
    for (const Bytes& prefixes : prefixSets) {
        for (int map = 0; map < 2; ++map) {
            const bool secondary = map == 1;
            const auto& table = secondary ? SecondaryOpcodeTable : PrimaryOpcodeTable;
            for (int op = 0; op < 256; ++op) {
                const OpcodeRow& row = table[op];
                if (row.kind != OpcodeKind::Plain && !HasModRm(row)) {
                    continue; // prefixes, escape, short jumps and invalid rows: tested apart
                }
                std::vector<Bytes> tails;
                if (HasModRm(row)) {
                    for (int modRm = 0; modRm < 256; ++modRm) {
                        if ((modRm >> 6) != 3 && (modRm & 7) == 4) {
                            for (int base = 0; base < 8; ++base) {
                                tails.push_back({static_cast<std::uint8_t>(modRm),
                                                 static_cast<std::uint8_t>(0x20 | base)});
                            }
                        } else {
                            tails.push_back({static_cast<std::uint8_t>(modRm)});
                        }
                    }
                } else {
                    tails.push_back({});
                }
                for (const Bytes& tail : tails) {
                    Bytes form = prefixes;
                    if (secondary) {
                        form.push_back(0x0F);
                    }
                    form.push_back(static_cast<std::uint8_t>(op));
                    form.insert(form.end(), tail.begin(), tail.end());
                    form.resize(24, 0x00);
                    const Measured copier = MeasureWithCopier(form);
                    if (copier.trouble != CopyTrouble::None) {
                        // Only what the tables cannot measure: 16-bit addressing and the VEX
                        // and EVEX encodings.
                        const bool vex = !secondary && (op == 0x62 || op == 0xC4 || op == 0xC5);
                        EXPECT_TRUE(copier.trouble == CopyTrouble::SixteenBitAddressing ||
                                    (vex && copier.trouble == CopyTrouble::InvalidOpcode))
                            << Hex(form, 8) << "refused with " << static_cast<int>(copier.trouble);
                        ++refused;
                        continue;
                    }
                    const int expected = capstone.Length(form);
                    if (expected == 0) {
                        ++undefined; // #UD to the processor: no compiler emits it
                        continue;
                    }
                    ++compared;
                    if (copier.length == expected) {
                        continue;
                    }
                    const Bytes onwards(form.begin() + prefixes.size() + (secondary ? 1 : 0),
                                        form.end());
                    if (FindKnownDifference(onwards, secondary)) {
                        ++known;
                        continue;
                    }
                    std::ostringstream line;
                    line << Hex(form, 8) << ": copier " << copier.length << ", capstone "
                         << expected;
                    mismatches.push_back(line.str());
                }
            }
        }
    }
    std::ostringstream report;
    for (std::size_t i = 0; i < mismatches.size() && i < 100000; ++i) {
        report << mismatches[i] << "\n";
    }
    EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " mismatches:\n" << report.str();
    std::printf("compared %d forms; %d refused by the copier, %d undefined, %d known differences\n",
                compared, refused, undefined, known);
}

} // namespace
