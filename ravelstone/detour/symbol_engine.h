// The debug-help symbol engine, bound by name at run time so that the plug-in does not import
// "dbghelp.dll" and still loads where that library is missing or too old.
#pragma once

#include <windows.h>

#include <dbghelp.h>

namespace ravelstone::detour {

struct SymbolEngine {
    using ApiVersionFn = LPAPI_VERSION(WINAPI*)(LPAPI_VERSION);
    using InitializeFn = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
    using SetOptionsFn = DWORD(WINAPI*)(DWORD);
    using GetOptionsFn = DWORD(WINAPI*)();
    using LoadModuleFn = DWORD64(WINAPI*)(HANDLE, HANDLE, PCSTR, PCSTR, DWORD64, DWORD);
    using ModuleInfoFn = BOOL(WINAPI*)(HANDLE, DWORD64, PIMAGEHLP_MODULE64);
    using FromNameFn = BOOL(WINAPI*)(HANDLE, PCSTR, PSYMBOL_INFO);

    HANDLE process = nullptr;
    HMODULE library = nullptr;
    ApiVersionFn apiVersion = nullptr;
    InitializeFn initialize = nullptr;
    SetOptionsFn setOptions = nullptr;
    GetOptionsFn getOptions = nullptr;
    LoadModuleFn loadModule = nullptr;
    ModuleInfoFn moduleInfo = nullptr;
    FromNameFn fromName = nullptr;
};

// The process's symbol engine, bound on the first call; null when binding failed, then and on
// every later call (a failed binding is not retried).
const SymbolEngine* BoundSymbolEngine();

} // namespace ravelstone::detour
