#include "testhost/exit_now.h"

#include <cstdio>

#include <windows.h>

namespace testhost {

void ExitNow(int exitCode) {
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    // TerminateProcess on the own process does not return; this only satisfies the compiler.
    ExitProcess(static_cast<UINT>(exitCode));
}

} // namespace testhost
