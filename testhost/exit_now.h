// Ends a test program with its result, skipping the process-exit path.
#pragma once

namespace testhost {

// Flushes the standard streams and terminates the process with exitCode at once. Under Wine on
// QEMU's user-mode emulator the ordinary exit path (library detach, runtime exit handlers,
// Wine's own thread teardown) now and then faults after the tests have finished, which would
// turn a passing run into a failing exit code.
[[noreturn]] void ExitNow(int exitCode);

} // namespace testhost
