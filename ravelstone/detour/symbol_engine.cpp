#include "ravelstone/detour/symbol_engine.h"

namespace ravelstone::detour {
namespace {

enum class EngineState { Unbound, Bound, Failed };

// Bound on first need during DLL attach or load, both on the loading thread: no lock.
EngineState g_state = EngineState::Unbound;
SymbolEngine g_engine;

// The oldest interface whose structures (IMAGEHLP_MODULE64 of 1680 bytes, SYMBOL_INFO) the
// lookup hands to the engine.
constexpr USHORT kRequiredMajorVersion = 11;

// Case-sensitive, undecorated names off; deferred loads, no unqualified loads, no
// critical-error dialogs, exact symbols, 32-bit modules included.
constexpr DWORD kClearedOptions = SYMOPT_CASE_INSENSITIVE | SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS;
constexpr DWORD kAddedOptions = SYMOPT_DEFERRED_LOADS | SYMOPT_NO_UNQUALIFIED_LOADS |
                                SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_EXACT_SYMBOLS |
                                SYMOPT_INCLUDE_32BIT_MODULES;
static_assert(kClearedOptions == 0x7 && kAddedOptions == 0x2704);

template <class F> F EntryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

bool Bind(SymbolEngine& engine) {
    engine.process = GetCurrentProcess();
    engine.library = LoadLibraryExW(L"dbghelp.dll", nullptr, 0);
    if (engine.library == nullptr) {
        return false;
    }
    engine.apiVersion =
        EntryPoint<SymbolEngine::ApiVersionFn>(engine.library, "ImagehlpApiVersionEx");
    engine.initialize = EntryPoint<SymbolEngine::InitializeFn>(engine.library, "SymInitialize");
    engine.setOptions = EntryPoint<SymbolEngine::SetOptionsFn>(engine.library, "SymSetOptions");
    engine.getOptions = EntryPoint<SymbolEngine::GetOptionsFn>(engine.library, "SymGetOptions");
    engine.loadModule = EntryPoint<SymbolEngine::LoadModuleFn>(engine.library, "SymLoadModule64");
    engine.moduleInfo =
        EntryPoint<SymbolEngine::ModuleInfoFn>(engine.library, "SymGetModuleInfo64");
    engine.fromName = EntryPoint<SymbolEngine::FromNameFn>(engine.library, "SymFromName");
    if (engine.apiVersion == nullptr || engine.initialize == nullptr ||
        engine.loadModule == nullptr || engine.moduleInfo == nullptr ||
        engine.fromName == nullptr) {
        return false;
    }
    API_VERSION wanted{};
    wanted.MajorVersion = kRequiredMajorVersion;
    const API_VERSION* reported = engine.apiVersion(&wanted);
    if (reported == nullptr || reported->MajorVersion < kRequiredMajorVersion) {
        return false;
    }
    if (!engine.initialize(engine.process, nullptr, FALSE)) {
        return false;
    }
    if (engine.getOptions != nullptr && engine.setOptions != nullptr) {
        engine.setOptions((engine.getOptions() & ~kClearedOptions) | kAddedOptions);
    }
    return true;
}

} // namespace

const SymbolEngine* BoundSymbolEngine() {
    if (g_state == EngineState::Unbound) {
        if (Bind(g_engine)) {
            g_state = EngineState::Bound;
        } else {
            g_state = EngineState::Failed;
            if (g_engine.library != nullptr) {
                FreeLibrary(g_engine.library);
            }
            g_engine = SymbolEngine{};
        }
    }
    return g_state == EngineState::Bound ? &g_engine : nullptr;
}

} // namespace ravelstone::detour
