// The module walk and the search of one module for the restore record, on images built in
// memory: every way a module can lack a usable record, and the reason it reports.
#include <cstddef>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>
#include <windows.h>

#include "ravelstone/detour/launch_headers.h"
#include "ravelstone/detour/restore_record.h"

namespace {

using namespace ravelstone::detour;

constexpr std::uint32_t kNtOffset = 0x80;
constexpr std::uint32_t kPayloadRva = 0x1000;
constexpr std::uint32_t kSpareRva = 0x2000;
constexpr std::uint32_t kImageSize = 0x3000;
constexpr std::uint32_t kOtherRecordSize = 32;
constexpr std::uint32_t kRestoreEntrySize = sizeof(PayloadRecordHeader) + kRestoreRecordSize;

// A module image as the walk finds it: DOS and NT headers, a ".text" and a ".detour" section
// whose payload holds another record and then the restore record.
class FakeImage {
public:
    FakeImage() {
        base_ = static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, kImageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        auto& dos = *reinterpret_cast<IMAGE_DOS_HEADER*>(base_);
        dos.e_magic = IMAGE_DOS_SIGNATURE;
        dos.e_lfanew = kNtOffset;
        auto& nt = Nt();
        nt.Signature = IMAGE_NT_SIGNATURE;
        nt.FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
        nt.FileHeader.NumberOfSections = 2;
        nt.FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
        nt.OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
        std::memcpy(Section(0).Name, ".text", 5);
        Section(0).VirtualAddress = kSpareRva;
        Section(0).SizeOfRawData = 0x200;
        std::memcpy(Section(1).Name, ".detour", 7);
        Section(1).VirtualAddress = kPayloadRva;
        Section(1).SizeOfRawData = 0x800;

        Header() = {64, kPayloadSignature, 64, 64 + kOtherRecordSize + kRestoreEntrySize};
        RecordAt(64).totalSize = kOtherRecordSize;
        std::memset(RecordAt(64).guid, 0x5A, 16);
        RecordAt(64 + kOtherRecordSize).totalSize = kRestoreEntrySize;
        std::memcpy(RecordAt(64 + kOtherRecordSize).guid, kRestoreRecordGuid, 16);
    }
    ~FakeImage() { VirtualFree(base_, 0, MEM_RELEASE); }
    FakeImage(const FakeImage&) = delete;
    FakeImage& operator=(const FakeImage&) = delete;

    std::uintptr_t Base() const { return reinterpret_cast<std::uintptr_t>(base_); }
    IMAGE_DOS_HEADER& Dos() { return *reinterpret_cast<IMAGE_DOS_HEADER*>(base_); }
    IMAGE_NT_HEADERS32& Nt() { return *reinterpret_cast<IMAGE_NT_HEADERS32*>(base_ + kNtOffset); }
    IMAGE_SECTION_HEADER& Section(int index) {
        return reinterpret_cast<IMAGE_SECTION_HEADER*>(base_ + kNtOffset +
                                                       sizeof(IMAGE_NT_HEADERS32))[index];
    }
    PayloadHeader& Header() { return *reinterpret_cast<PayloadHeader*>(base_ + kPayloadRva); }
    PayloadRecordHeader& RecordAt(std::uint32_t offset) {
        return *reinterpret_cast<PayloadRecordHeader*>(base_ + kPayloadRva + offset);
    }
    std::uintptr_t RestoreData() const {
        return Base() + kPayloadRva + 64 + kOtherRecordSize + sizeof(PayloadRecordHeader);
    }
    void Poke32(std::uint32_t rva, std::uint32_t value) { std::memcpy(base_ + rva, &value, 4); }
    void Protect(std::uint32_t rva, DWORD protection) {
        DWORD old = 0;
        ASSERT_TRUE(VirtualProtect(base_ + rva, 0x1000, protection, &old));
    }

private:
    std::uint8_t* base_ = nullptr;
};

struct SearchCase {
    const char* name;
    std::function<void(FakeImage&)> change;
    std::uint32_t error;
};

TEST(RestoreRecordSearch, ReasonsTable) {
    const SearchCase cases[] = {
        {"valid image", [](FakeImage&) {}, 0},
        {"no DOS signature", [](FakeImage& i) { i.Dos().e_magic = 0x5A4E; }, ERROR_BAD_EXE_FORMAT},
        {"no NT signature", [](FakeImage& i) { i.Nt().Signature = 0x4551; },
         ERROR_INVALID_EXE_SIGNATURE},
        {"no .detour section", [](FakeImage& i) { i.Section(1).Name[6] = 's'; },
         ERROR_EXE_MARKED_INVALID},
        {"section beyond the header count",
         [](FakeImage& i) { i.Nt().FileHeader.NumberOfSections = 1; }, ERROR_EXE_MARKED_INVALID},
        {"section address 0", [](FakeImage& i) { i.Section(1).VirtualAddress = 0; },
         ERROR_EXE_MARKED_INVALID},
        {"section raw size 0", [](FakeImage& i) { i.Section(1).SizeOfRawData = 0; },
         ERROR_EXE_MARKED_INVALID},
        {"header size 63", [](FakeImage& i) { i.Header().headerSize = 63; },
         ERROR_EXE_MARKED_INVALID},
        {"wrong payload signature", [](FakeImage& i) { i.Header().signature = 0x00727445; },
         ERROR_EXE_MARKED_INVALID},
        {"GUID not among the records", [](FakeImage& i) { i.RecordAt(64 + 32).guid[15] ^= 1; },
         ERROR_INVALID_HANDLE},
        {"data end before the restore record",
         [](FakeImage& i) { i.Header().dataEndOffset = 64 + kOtherRecordSize; },
         ERROR_INVALID_HANDLE},
        {"empty data", [](FakeImage& i) { i.Header().dataEndOffset = 64; }, ERROR_INVALID_HANDLE},
        {"record shorter than its header", [](FakeImage& i) { i.RecordAt(64).totalSize = 0; },
         ERROR_EXE_MARKED_INVALID},
        {"record size 23", [](FakeImage& i) { i.RecordAt(64).totalSize = 23; },
         ERROR_EXE_MARKED_INVALID},
        {"payload on an unreadable page",
         [](FakeImage& i) {
             i.Section(1).VirtualAddress = kSpareRva;
             i.Protect(kSpareRva, PAGE_NOACCESS);
         },
         ERROR_NOACCESS},
        {"records running into an unreadable page",
         [](FakeImage& i) {
             i.RecordAt(64).totalSize = 0x1000 - 64;
             i.Header().dataEndOffset = 0x1800;
             i.Protect(kSpareRva, PAGE_NOACCESS);
         },
         ERROR_NOACCESS},
    };
    for (const auto& c : cases) {
        FakeImage image;
        c.change(image);
        FoundRecord found{};
        EXPECT_EQ(FindRestoreRecordInModule(image.Base(), found), c.error) << c.name;
        if (c.error == 0) {
            EXPECT_EQ(found.data, image.RestoreData()) << c.name;
            EXPECT_EQ(found.dataSize, kRestoreRecordSize) << c.name;
        }
    }
}

TEST(RestoreRecordSearch, DataOffsetZeroStandsForTheHeaderSize) {
    for (DWORD protection : {PAGE_READWRITE, PAGE_READONLY}) {
        FakeImage image;
        image.Header().dataOffset = 0;
        image.Protect(kPayloadRva, protection);
        FoundRecord found{};
        ASSERT_EQ(FindRestoreRecordInModule(image.Base(), found), 0u) << protection;
        EXPECT_EQ(found.data, image.RestoreData());
        // Written back where the section allows it; a read-only section is only read.
        EXPECT_EQ(image.Header().dataOffset, protection == PAGE_READWRITE ? 64u : 0u);
    }
}

TEST(RestoreRecordSearch, LoadedModulesWithoutPayloadReportNoSection) {
    for (const char* name : {static_cast<const char*>(nullptr), "kernel32.dll", "ntdll.dll"}) {
        FoundRecord found{};
        const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(name));
        EXPECT_EQ(FindRestoreRecordInModule(base, found),
                  static_cast<std::uint32_t>(ERROR_EXE_MARKED_INVALID))
            << (name != nullptr ? name : "the program");
    }
}

TEST(ModuleWalk, FindsLoadedModulesAndImagesMappedByHand) {
    FakeImage image;
    const auto program = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    const auto kernel32 = reinterpret_cast<std::uintptr_t>(GetModuleHandleA("kernel32.dll"));
    bool sawProgram = false, sawKernel32 = false, sawImage = false;
    std::uintptr_t base = 0;
    int modules = 0;
    for (std::uintptr_t from = 0x10000; FindNextModule(from, base); from = base + 0x10000) {
        ASSERT_GE(base, from) << "the walk only moves up";
        sawProgram |= base == program;
        sawKernel32 |= base == kernel32;
        sawImage |= base == image.Base();
        ++modules;
        if (base + 0x10000 < base) {
            break;
        }
    }
    EXPECT_TRUE(sawProgram);
    EXPECT_TRUE(sawKernel32);
    EXPECT_TRUE(sawImage);
    EXPECT_GT(modules, 3);
}

struct WalkCase {
    const char* name;
    std::function<void(FakeImage&)> change;
};

TEST(ModuleWalk, SkipsBlocksThatAreNoModuleBase) {
    const WalkCase cases[] = {
        {"no DOS signature", [](FakeImage& i) { i.Dos().e_magic = 0; }},
        {"header offset below 64", [](FakeImage& i) { i.Dos().e_lfanew = 60; }},
        {"header offset beyond the block",
         [](FakeImage& i) {
             i.Dos().e_lfanew = 0x1800;
             i.Poke32(0x1800, IMAGE_NT_SIGNATURE);
             i.Protect(0x1000, PAGE_READONLY); // the block at the base ends at 0x1000
         }},
        {"no NT signature", [](FakeImage& i) { i.Nt().Signature = 0; }},
        {"unreadable", [](FakeImage& i) { i.Protect(0, PAGE_NOACCESS); }},
        {"guard page", [](FakeImage& i) { i.Protect(0, PAGE_READWRITE | PAGE_GUARD); }},
    };
    for (const auto& c : cases) {
        FakeImage image;
        c.change(image);
        std::uintptr_t base = 0;
        if (FindNextModule(image.Base(), base)) {
            EXPECT_NE(base, image.Base()) << c.name;
        }
    }
    FakeImage valid;
    std::uintptr_t base = 0;
    ASSERT_TRUE(FindNextModule(valid.Base(), base));
    EXPECT_EQ(base, valid.Base());
}

} // namespace
