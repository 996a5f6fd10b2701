// Writing back the headers a launcher saved: the module with the record is found among the
// process's modules, the headers go back under their old protection, and every record that
// cannot be used leaves memory as it was with its reason as last error.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "ravelstone/detour/detour.h"
#include "tests/detour/launch_payload.h"

namespace {

using namespace ravelstone::detour;
using launch_payload::Payload;

constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr std::uint32_t kPageSize = 0x1000;

std::uint32_t Address(const void* at) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(at));
}

constexpr std::uint32_t kUnmapped = 0x1000;

// What the system says when asked to change the protection of memory that is not there
// (487 on Windows, 87 on Wine): a failed protection change is reported as the system gave it.
DWORD UnmappedProtectError() {
    DWORD old = 0;
    SetLastError(0);
    VirtualProtect(reinterpret_cast<void*>(kUnmapped), 64, PAGE_EXECUTE_READWRITE, &old);
    return GetLastError();
}

DWORD ProtectionAt(const void* at) {
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(at, &info, sizeof info);
    return info.Protect;
}

// Loads the module with the payload and gives its record targets on a read-only page.
class LaunchRecord : public ::testing::Test {
protected:
    void SetUp() override {
        const char* dir = std::getenv("TESTHOST_BIN_DIR");
        const std::string path = std::string(dir != nullptr ? dir : ".") + "\\launch_record.dll";
        HMODULE module = LoadLibraryA(path.c_str());
        ASSERT_NE(module, nullptr) << path;
        auto get = reinterpret_cast<launch_payload::PayloadFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "LaunchPayload")));
        ASSERT_NE(get, nullptr);
        payload_ = get();
        pristine_ = *payload_;

        target_ = static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, kPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        ASSERT_NE(target_, nullptr);
        std::memset(target_, 0xEE, kPageSize);
        DWORD old = 0;
        ASSERT_TRUE(VirtualProtect(target_, kPageSize, PAGE_READONLY, &old));

        RestoreRecord& r = Record();
        r.dosHeaderBytes = sizeof r.dosHeader;
        r.ntHeadersBytes = sizeof(IMAGE_NT_HEADERS32);
        r.clrFlagsBytes = 0;
        r.dosHeaderAddress = Address(target_);
        r.ntHeadersAddress = Address(target_ + 0x80);
        r.clrFlagsAddress = 0;
        std::memset(r.dosHeader, 'D', sizeof r.dosHeader);
        std::memset(r.ntHeaders, 'N', sizeof r.ntHeaders);
        std::memset(r.clrFlags, 'C', sizeof r.clrFlags);
        prepared_ = *payload_;
    }
    void TearDown() override {
        if (target_ != nullptr) {
            VirtualFree(target_, 0, MEM_RELEASE);
        }
    }

    RestoreRecord& Record() { return payload_->restore.record; }
    // The target page as the record would leave it.
    std::vector<std::uint8_t> Expected() const {
        std::vector<std::uint8_t> page(kPageSize, 0xEE);
        std::memset(page.data(), 'D', 64);
        std::memset(page.data() + 0x80, 'N', sizeof(IMAGE_NT_HEADERS32));
        return page;
    }
    std::vector<std::uint8_t> Target() const { return {target_, target_ + kPageSize}; }
    bool TargetUntouched() const { return Target() == std::vector<std::uint8_t>(kPageSize, 0xEE); }

    Payload* payload_ = nullptr;
    Payload pristine_{};
    Payload prepared_{};
    std::uint8_t* target_ = nullptr;
};

TEST(RestoreLaunchHeaders, NoModuleWithARecordChangesNothing) {
    SetLastError(kSentinel);
    EXPECT_FALSE(RestoreLaunchHeaders());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(LaunchRecord, WritesTheSavedHeadersBackUnderTheirProtection) {
    SetLastError(kSentinel);
    EXPECT_TRUE(RestoreLaunchHeaders()) << "last error " << GetLastError();
    EXPECT_TRUE(Target() == Expected()) << "DOS header at 0, NT headers at 0x80, nothing else";
    EXPECT_EQ(ProtectionAt(target_), static_cast<DWORD>(PAGE_READONLY));
}

TEST_F(LaunchRecord, WritesTheClrFlagsWhenThereAreAny) {
    Record().clrFlagsBytes = sizeof Record().clrFlags;
    Record().clrFlagsAddress = Address(target_ + 0x400);
    EXPECT_TRUE(RestoreLaunchHeaders()) << "last error " << GetLastError();
    std::vector<std::uint8_t> expected = Expected();
    std::memset(expected.data() + 0x400, 'C', 20);
    EXPECT_TRUE(Target() == expected);
    EXPECT_EQ(ProtectionAt(target_), static_cast<DWORD>(PAGE_READONLY));
}

TEST_F(LaunchRecord, RestoresTheProgramsOwnHeaders) {
    auto* base = reinterpret_cast<std::uint8_t*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD protection = ProtectionAt(base);
    const DWORD stamp = nt->FileHeader.TimeDateStamp;
    RestoreRecord& r = Record();
    r.dosHeaderAddress = Address(base);
    r.ntHeadersAddress = Address(nt);
    std::memcpy(r.dosHeader, base, sizeof r.dosHeader);
    std::memcpy(r.ntHeaders, nt, sizeof(IMAGE_NT_HEADERS32));
    reinterpret_cast<IMAGE_NT_HEADERS32*>(r.ntHeaders)->FileHeader.TimeDateStamp = stamp ^ 0x5A5A;

    EXPECT_TRUE(RestoreLaunchHeaders()) << "last error " << GetLastError();
    EXPECT_EQ(nt->FileHeader.TimeDateStamp, stamp ^ 0x5A5A);
    EXPECT_EQ(ProtectionAt(base), protection);
}

struct Refusal {
    const char* name;
    std::function<void(Payload&)> change;
    DWORD error;
};

TEST_F(LaunchRecord, RecordsThatCannotBeUsedChangeNothing) {
    const DWORD unmapped = UnmappedProtectError();
    ASSERT_NE(unmapped, 0u);
    const Refusal cases[] = {
        {"record size 1655", [](Payload& p) { p.restore.record.recordSize = 1655; },
         ERROR_BAD_EXE_FORMAT},
        {"record size 1657", [](Payload& p) { p.restore.record.recordSize = 1657; },
         ERROR_BAD_EXE_FORMAT},
        {"record size 0", [](Payload& p) { p.restore.record.recordSize = 0; },
         ERROR_BAD_EXE_FORMAT},
        {"data shorter than the record", [](Payload& p) { p.restore.header.totalSize = 24 + 1655; },
         ERROR_BAD_EXE_FORMAT},
        {"DOS header count beyond its field",
         [](Payload& p) { p.restore.record.dosHeaderBytes = 65; }, ERROR_BAD_EXE_FORMAT},
        {"NT headers count beyond its field",
         [](Payload& p) { p.restore.record.ntHeadersBytes = 1545; }, ERROR_BAD_EXE_FORMAT},
        {"CLR flags count beyond its field",
         [](Payload& p) { p.restore.record.clrFlagsBytes = 21; }, ERROR_BAD_EXE_FORMAT},
        {"no data", [](Payload& p) { p.restore.header.totalSize = 24; }, ERROR_MOD_NOT_FOUND},
        {"another GUID", [](Payload& p) { p.restore.header.guid[0] ^= 0xFF; }, ERROR_MOD_NOT_FOUND},
        {"wrong payload signature", [](Payload& p) { p.header.signature = 0; },
         ERROR_MOD_NOT_FOUND},
        {"header size 63", [](Payload& p) { p.header.headerSize = 63; }, ERROR_MOD_NOT_FOUND},
        {"a record of size 0 before it", [](Payload& p) { p.other.header.totalSize = 0; },
         ERROR_MOD_NOT_FOUND},
        {"DOS header address not mapped",
         [](Payload& p) { p.restore.record.dosHeaderAddress = kUnmapped; }, unmapped},
        {"NT headers address not mapped",
         [](Payload& p) { p.restore.record.ntHeadersAddress = kUnmapped; }, unmapped},
    };
    for (const auto& c : cases) {
        *payload_ = prepared_;
        c.change(*payload_);
        SetLastError(kSentinel);
        EXPECT_FALSE(RestoreLaunchHeaders()) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        EXPECT_TRUE(TargetUntouched()) << c.name;
        EXPECT_EQ(ProtectionAt(target_), static_cast<DWORD>(PAGE_READONLY)) << c.name;
    }
}

TEST_F(LaunchRecord, ClrFlagsThatCannotBeWrittenFailAfterTheHeaders) {
    Record().clrFlagsBytes = sizeof Record().clrFlags;
    Record().clrFlagsAddress = kUnmapped;
    const DWORD unmapped = UnmappedProtectError();
    SetLastError(kSentinel);
    EXPECT_FALSE(RestoreLaunchHeaders());
    EXPECT_EQ(GetLastError(), unmapped);
    EXPECT_TRUE(Target() == Expected()) << "the DOS and NT headers are already back";
    EXPECT_EQ(ProtectionAt(target_), static_cast<DWORD>(PAGE_READONLY));
}

} // namespace
