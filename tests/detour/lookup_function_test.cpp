// Function lookup: exports of real libraries, symbols through the debug-help engine, names and
// modules that exist nowhere, and a symbol engine that cannot be bound.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include <dbghelp.h>

#include "ravelstone/detour/detour.h"
#include "testhost/import_patch.h"

namespace {

using ravelstone::detour::LookupFunction;

constexpr char kSymbolsModule[] = "lookup_symbols.dll";
constexpr char kUnexported[] = "UnexportedAnswer";

std::string BinPath(const char* file) {
    const char* dir = std::getenv("TESTHOST_BIN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "\\" + file;
}

// Where the test module says its unexported function is.
void* UnexportedAddress(HMODULE module) {
    auto where = reinterpret_cast<void* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "UnexportedAnswerAddress")));
    return where != nullptr ? where() : nullptr;
}

// Watches (and, where a case asks for it, breaks) how the engine reaches "dbghelp.dll". The
// detour library is linked into this program, so its calls go through this program's imports.
enum class Fault {
    None,
    // Wine's dbghelp reports interface version 4.0.2 whatever it is asked: the engine would
    // never bind there. Reporting the required version lets the lookup run on Wine's real
    // symbol functions.
    ReportsRequiredVersion,
    LibraryMissing,
    VersionEntryMissing,
    FromNameEntryMissing,
    VersionTooOld,
    VersionNull,
    InitializeFails
};

struct DbghelpWatch {
    Fault fault = Fault::None;
    int loads = 0;
    int frees = 0;
    HMODULE library = nullptr;
    decltype(&LoadLibraryExW) realLoad = nullptr;
    decltype(&GetProcAddress) realGetProc = nullptr;
    decltype(&FreeLibrary) realFree = nullptr;
};
DbghelpWatch g_watch;

API_VERSION g_oldVersion = {10, 0, 0, 0};
API_VERSION g_requiredVersion = {11, 0, 0, 0};

LPAPI_VERSION WINAPI OldApiVersion(LPAPI_VERSION) {
    return &g_oldVersion;
}
LPAPI_VERSION WINAPI RequiredApiVersion(LPAPI_VERSION) {
    return &g_requiredVersion;
}
LPAPI_VERSION WINAPI NullApiVersion(LPAPI_VERSION) {
    return nullptr;
}
BOOL WINAPI FailingInitialize(HANDLE, PCSTR, BOOL) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

HMODULE WINAPI WatchedLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
    if (name != nullptr && _wcsicmp(name, L"dbghelp.dll") == 0) {
        ++g_watch.loads;
        if (g_watch.fault == Fault::LibraryMissing) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        g_watch.library = g_watch.realLoad(name, file, flags);
        return g_watch.library;
    }
    return g_watch.realLoad(name, file, flags);
}

template <class F> FARPROC AsProc(F* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

FARPROC WINAPI WatchedGetProcAddress(HMODULE module, LPCSTR name) {
    const bool byName = reinterpret_cast<std::uintptr_t>(name) > 0xFFFF;
    if (module == g_watch.library && g_watch.library != nullptr && byName) {
        auto is = [name](const char* entry) { return std::strcmp(name, entry) == 0; };
        switch (g_watch.fault) {
        case Fault::ReportsRequiredVersion:
            if (is("ImagehlpApiVersionEx")) {
                return AsProc(&RequiredApiVersion);
            }
            break;
        case Fault::VersionEntryMissing:
            if (is("ImagehlpApiVersionEx")) {
                return nullptr;
            }
            break;
        case Fault::FromNameEntryMissing:
            if (is("SymFromName")) {
                return nullptr;
            }
            break;
        case Fault::VersionTooOld:
            if (is("ImagehlpApiVersionEx")) {
                return AsProc(&OldApiVersion);
            }
            break;
        case Fault::VersionNull:
            if (is("ImagehlpApiVersionEx")) {
                return AsProc(&NullApiVersion);
            }
            break;
        case Fault::InitializeFails:
            if (is("SymInitialize")) {
                return AsProc(&FailingInitialize);
            }
            break;
        default:
            break;
        }
    }
    return g_watch.realGetProc(module, name);
}

BOOL WINAPI WatchedFreeLibrary(HMODULE module) {
    if (module == g_watch.library && module != nullptr) {
        ++g_watch.frees;
    }
    return g_watch.realFree(module);
}

void WatchDbghelp(Fault fault) {
    g_watch.fault = fault;
    HMODULE self = GetModuleHandleW(nullptr);
    g_watch.realLoad = reinterpret_cast<decltype(&LoadLibraryExW)>(testhost::ReplaceImport(
        self, "kernel32.dll", "LoadLibraryExW", reinterpret_cast<void*>(&WatchedLoadLibraryExW)));
    g_watch.realGetProc = reinterpret_cast<decltype(&GetProcAddress)>(testhost::ReplaceImport(
        self, "kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&WatchedGetProcAddress)));
    g_watch.realFree = reinterpret_cast<decltype(&FreeLibrary)>(testhost::ReplaceImport(
        self, "kernel32.dll", "FreeLibrary", reinterpret_cast<void*>(&WatchedFreeLibrary)));
    ASSERT_NE(g_watch.realLoad, nullptr);
    ASSERT_NE(g_watch.realGetProc, nullptr);
    ASSERT_NE(g_watch.realFree, nullptr);
}

struct ExportCase {
    const char* module;
    const char* function;
};
const ExportCase kExports[] = {
    {"d3dx9_42.dll", "D3DXCreateTextureFromFileInMemory"},
    {"d3dx9_42.dll", "D3DXCreateTextureFromFileInMemoryEx"},
    {"d3dx9_42.dll", "D3DXCreateEffect"},
    {"d3dx9_43.dll", "D3DXCreateTextureFromFileInMemory"},
    {"d3dx9_43.dll", "D3DXCreateTextureFromFileInMemoryEx"},
    {"d3dx9_43.dll", "D3DXCreateEffect"},
};

TEST(LookupFunction, ExportsLoadTheModuleKeepItAndNeverBindTheSymbolEngine) {
    WatchDbghelp(Fault::None);
    ASSERT_EQ(GetModuleHandleA("d3dx9_42.dll"), nullptr) << "a fresh process has not loaded it";
    for (const auto& c : kExports) {
        void* found = LookupFunction(c.module, c.function);
        HMODULE module = GetModuleHandleA(c.module);
        ASSERT_NE(module, nullptr) << c.module << " stays loaded";
        EXPECT_EQ(found, reinterpret_cast<void*>(g_watch.realGetProc(module, c.function)))
            << c.module << "!" << c.function;
        EXPECT_NE(found, nullptr) << c.module << "!" << c.function;
    }
    EXPECT_EQ(g_watch.loads, 0) << "exports alone never load \"dbghelp.dll\"";
}

TEST(LookupFunction, UnexportedFunctionIsFoundThroughItsSymbol) {
    WatchDbghelp(Fault::ReportsRequiredVersion);
    const std::string path = BinPath(kSymbolsModule);
    HMODULE module = LoadLibraryA(path.c_str());
    ASSERT_NE(module, nullptr) << path;
    void* expected = UnexportedAddress(module);
    ASSERT_NE(expected, nullptr);
    ASSERT_EQ(GetProcAddress(module, kUnexported), nullptr) << "must not be exported";

    EXPECT_EQ(LookupFunction(path.c_str(), kUnexported), expected);
    // Again, now that the engine knows the module. (Named without its folder, Wine's engine
    // looks for the file on its search path before it looks at the modules it knows.)
    EXPECT_EQ(LookupFunction(path.c_str(), kUnexported), expected);
    EXPECT_EQ(g_watch.loads, 1) << "bound once";
    EXPECT_EQ(g_watch.frees, 0) << "a bound engine keeps \"dbghelp.dll\"";
}

// The platform's own dbghelp decides: a version below 11 (Wine's 4.0.2) leaves every
// unexported name unfound; a current one finds it.
TEST(LookupFunction, PlatformDbghelpVersionDecidesWhetherSymbolsAreUsed) {
    WatchDbghelp(Fault::None);
    HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    ASSERT_NE(dbghelp, nullptr);
    auto apiVersion = reinterpret_cast<LPAPI_VERSION(WINAPI*)(LPAPI_VERSION)>(
        reinterpret_cast<void*>(g_watch.realGetProc(dbghelp, "ImagehlpApiVersionEx")));
    ASSERT_NE(apiVersion, nullptr);
    API_VERSION asked = {11, 0, 0, 0};
    const USHORT reported = apiVersion(&asked)->MajorVersion;

    const std::string path = BinPath(kSymbolsModule);
    HMODULE module = LoadLibraryA(path.c_str());
    ASSERT_NE(module, nullptr) << path;
    void* expected = reported >= 11 ? UnexportedAddress(module) : nullptr;
    EXPECT_EQ(LookupFunction(path.c_str(), kUnexported), expected)
        << "dbghelp reports version " << reported;
    EXPECT_EQ(g_watch.loads, 1);
}

TEST(LookupFunction, NamesThatExistNowhereGiveNull) {
    WatchDbghelp(Fault::ReportsRequiredVersion);
    const std::string path = BinPath(kSymbolsModule);
    EXPECT_EQ(LookupFunction("d3dx9_43.dll", "D3DXNoSuchFunction"), nullptr);
    EXPECT_EQ(LookupFunction(path.c_str(), "NoSuchFunction"), nullptr);
    EXPECT_EQ(LookupFunction(path.c_str(), std::string(600, 'x').c_str()), nullptr)
        << "a qualified name longer than its buffer";
    EXPECT_EQ(LookupFunction(path.c_str(), ""), nullptr);
    EXPECT_EQ(LookupFunction(nullptr, "D3DXCreateEffect"), nullptr);
    EXPECT_EQ(LookupFunction("d3dx9_43.dll", nullptr), nullptr);
}

TEST(LookupFunction, ModuleThatCannotBeLoadedGivesNullWithoutTheSymbolEngine) {
    WatchDbghelp(Fault::None);
    EXPECT_EQ(LookupFunction("no_such_module_here.dll", "D3DXCreateEffect"), nullptr);
    EXPECT_EQ(GetModuleHandleA("no_such_module_here.dll"), nullptr);
    EXPECT_EQ(g_watch.loads, 0);
}

struct BindingCase {
    const char* name;
    Fault fault;
    int frees; // "dbghelp.dll" is released when it was loaded
};
const BindingCase kBindingFaults[] = {
    {"LibraryMissing", Fault::LibraryMissing, 0},
    {"VersionEntryMissing", Fault::VersionEntryMissing, 1},
    {"FromNameEntryMissing", Fault::FromNameEntryMissing, 1},
    {"VersionTooOld", Fault::VersionTooOld, 1},
    {"VersionNull", Fault::VersionNull, 1},
    {"InitializeFails", Fault::InitializeFails, 1},
};

class SymbolEngineBinding : public ::testing::TestWithParam<BindingCase> {};

TEST_P(SymbolEngineBinding, FailsOnceAndIsNeverRetried) {
    WatchDbghelp(GetParam().fault);
    const std::string path = BinPath(kSymbolsModule);
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(LookupFunction(path.c_str(), kUnexported), nullptr) << "attempt " << attempt;
    }
    EXPECT_EQ(g_watch.loads, 1) << "\"dbghelp.dll\" is loaded for the first binding only";
    EXPECT_EQ(g_watch.frees, GetParam().frees);
    EXPECT_NE(LookupFunction("d3dx9_43.dll", "D3DXCreateEffect"), nullptr)
        << "exports are still found";
}

INSTANTIATE_TEST_SUITE_P(Faults, SymbolEngineBinding, ::testing::ValuesIn(kBindingFaults),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
