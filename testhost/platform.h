// Facts about the Windows the tests run on that a test may have to take into account.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace testhost {

// True where Wine runs under QEMU's user-mode emulator (a kernel without 32-bit support):
// there a process cannot start a second thread.
inline bool ThreadsUnavailable() {
    return std::getenv("RS_WINE_UNDER_QEMU") != nullptr;
}

} // namespace testhost

// Ends a test that needs a second thread, with its reason on the output, where threads cannot
// start. It returns instead of using GTEST_SKIP: on Windows GoogleTest starts a watcher thread
// the first time a thread reports a result (a skip too), which is just what cannot happen there.
#define SKIP_WHERE_THREADS_ARE_UNAVAILABLE()                                                       \
    do {                                                                                           \
        if (::testhost::ThreadsUnavailable()) {                                                    \
            std::printf("[  SKIPPED ] Wine under QEMU user mode cannot start threads here\n");     \
            return;                                                                                \
        }                                                                                          \
    } while (0)
