// Finding a function by module and name: the module's exports, then the symbol engine.
#include <cstddef>
#include <cstring>

#include "ravelstone/detour/detour.h"
#include "ravelstone/detour/symbol_engine.h"

namespace ravelstone::detour {
namespace {

// The module information the engine fills; the size is part of the engine's interface.
static_assert(sizeof(IMAGEHLP_MODULE64) == 1680);
static_assert(sizeof(SYMBOL_INFO) == 88);

constexpr std::size_t kQualifiedNameLength = 512;
constexpr std::size_t kMaxSymbolName = 512;
constexpr std::size_t kSymbolBufferSize = 600;
static_assert(kSymbolBufferSize == sizeof(SYMBOL_INFO) + kMaxSymbolName);

// "module!function", or false when it does not fit (terminator included).
bool QualifiedName(const IMAGEHLP_MODULE64& module, const char* function,
                   char (&out)[kQualifiedNameLength]) {
    // The engine's module name fills its field and need not be terminated.
    const std::size_t moduleLength = strnlen(module.ModuleName, sizeof module.ModuleName);
    const std::size_t functionLength = std::strlen(function);
    if (moduleLength + 1 + functionLength + 1 > kQualifiedNameLength) {
        return false;
    }
    std::memcpy(out, module.ModuleName, moduleLength);
    out[moduleLength] = '!';
    std::memcpy(out + moduleLength + 1, function, functionLength + 1);
    return true;
}

void* LookupSymbol(HMODULE module, const char* moduleName, const char* function) {
    const SymbolEngine* engine = BoundSymbolEngine();
    if (engine == nullptr) {
        return nullptr;
    }
    // The engine takes 64-bit addresses; 32-bit ones above 2 GiB are sign-extended.
    const auto base = static_cast<DWORD64>(static_cast<std::int64_t>(
        static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(module))));
    // 0 with last error 0 means the engine knew the module already.
    SetLastError(0);
    if (engine->loadModule(engine->process, nullptr, moduleName, nullptr, base, 0) == 0 &&
        GetLastError() != 0) {
        return nullptr;
    }
    IMAGEHLP_MODULE64 info{};
    info.SizeOfStruct = sizeof info;
    if (!engine->moduleInfo(engine->process, base, &info)) {
        return nullptr;
    }
    char qualified[kQualifiedNameLength];
    if (!QualifiedName(info, function, qualified)) {
        return nullptr;
    }
    alignas(SYMBOL_INFO) unsigned char buffer[kSymbolBufferSize] = {};
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = kMaxSymbolName;
    if (!engine->fromName(engine->process, qualified, symbol)) {
        return nullptr;
    }
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(symbol->Address));
}

} // namespace

void* LookupFunction(const char* module, const char* function) {
    if (module == nullptr || function == nullptr) {
        return nullptr;
    }
    // The reference is kept: a hooked function's module must stay loaded.
    HMODULE handle = LoadLibraryExA(module, nullptr, 0);
    if (handle == nullptr) {
        return nullptr;
    }
    if (FARPROC exported = GetProcAddress(handle, function)) {
        return reinterpret_cast<void*>(exported);
    }
    return LookupSymbol(handle, module, function);
}

} // namespace ravelstone::detour
