// Replaces one imported function in a loaded module's import table, so a scenario can make a
// system call fail for one plug-in (a VirtualProtect that refuses, say).
#pragma once

#include <windows.h>

namespace testhost {

// Points module's import of function (from dll, compared without case) at replacement and
// returns the previous address, or null when the module does not import it.
void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement);

} // namespace testhost
