// Each shipped plug-in imports only Windows system DLLs (the C++ runtime, libgcc and winpthread
// are linked in) and exports exactly its two undecorated entry points.
#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

namespace {

const char* const kShippedDlls[] = {SHIPPED_DLLS};

// What a plug-in may import: DLLs that every Windows installation (and Wine) has.
const std::set<std::string> kSystemDlls = {
    "advapi32.dll", "gdi32.dll",    "kernel32.dll", "msvcrt.dll",  "ntdll.dll",
    "ole32.dll",    "oleaut32.dll", "psapi.dll",    "shell32.dll", "shlwapi.dll",
    "user32.dll",   "version.dll",  "winmm.dll"};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string BinDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

class MappedImage {
public:
    explicit MappedImage(const std::string& path)
        : module_(LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES)) {}
    ~MappedImage() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;

    bool loaded() const { return module_ != nullptr; }

    std::vector<std::string> Imports() const {
        std::vector<std::string> names;
        const auto& dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (dir.VirtualAddress == 0) {
            return names;
        }
        for (auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress); d->Name != 0; ++d) {
            names.push_back(At<char>(d->Name));
        }
        return names;
    }

    std::vector<std::string> Exports() const {
        std::vector<std::string> names;
        const auto& dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        if (dir.VirtualAddress == 0) {
            return names;
        }
        auto* exports = At<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress);
        auto* nameRvas = At<DWORD>(exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
            names.push_back(At<char>(nameRvas[i]));
        }
        return names;
    }

    DWORD ExportCount() const {
        const auto& dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        return dir.VirtualAddress == 0
                   ? 0
                   : At<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress)->NumberOfFunctions;
    }

private:
    template <class T> T* At(DWORD rva) const {
        return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module_) + rva);
    }
    const IMAGE_DATA_DIRECTORY& Directory(int index) const {
        auto* dos = At<IMAGE_DOS_HEADER>(0);
        return At<IMAGE_NT_HEADERS>(dos->e_lfanew)->OptionalHeader.DataDirectory[index];
    }

    HMODULE module_;
};

class PluginBinary : public ::testing::TestWithParam<const char*> {};

TEST_P(PluginBinary, ImportsOnlySystemDlls) {
    MappedImage image(BinDir() + GetParam());
    ASSERT_TRUE(image.loaded()) << GetParam() << ": " << GetLastError();
    const auto imports = image.Imports();
    EXPECT_FALSE(imports.empty());
    for (const auto& name : imports) {
        EXPECT_TRUE(kSystemDlls.count(Lower(name)) == 1) << GetParam() << " imports " << name;
    }
}

TEST_P(PluginBinary, ExportsExactlyTheTwoEntryPoints) {
    MappedImage image(BinDir() + GetParam());
    ASSERT_TRUE(image.loaded()) << GetParam() << ": " << GetLastError();
    auto exports = image.Exports();
    std::sort(exports.begin(), exports.end());
    const std::vector<std::string> expected = {"SKSEPlugin_Load", "SKSEPlugin_Query"};
    EXPECT_EQ(exports, expected);
    EXPECT_EQ(image.ExportCount(), 2u) << "exports by ordinal only";
}

INSTANTIATE_TEST_SUITE_P(Shipped, PluginBinary, ::testing::ValuesIn(kShippedDlls),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
