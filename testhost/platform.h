// Facts about the Windows the tests run on that a test may have to take into account.
#pragma once

#include <cstdlib>

namespace testhost {

// True where Wine runs under QEMU's user-mode emulator (a kernel without 32-bit support):
// there a process cannot start a second thread.
inline bool ThreadsUnavailable() { return std::getenv("RS_WINE_UNDER_QEMU") != nullptr; }

} // namespace testhost

// Skips the rest of a test that needs a second thread where threads cannot start.
#define SKIP_WHERE_THREADS_ARE_UNAVAILABLE()                                                     \
    do {                                                                                         \
        if (::testhost::ThreadsUnavailable()) {                                                  \
            GTEST_SKIP() << "Wine under QEMU user mode cannot start threads here";               \
        }                                                                                        \
    } while (0)
