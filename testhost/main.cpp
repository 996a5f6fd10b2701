// The entry of every stand-in host test program: in the parent, each selected test case runs
// as its own scenario process; inside a scenario, gtest runs that one case.
#include <cstring>

#include <gtest/gtest.h>
#include <windows.h>

#include "testhost/exit_now.h"
#include "testhost/scenario.h"

int main(int argc, char** argv) {
    // A scenario that crashes must end with its exit code, not wait on an error box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::testing::InitGoogleTest(&argc, argv);
    if (testhost::InScenario() || GTEST_FLAG_GET(list_tests)) {
        testhost::ExitNow(RUN_ALL_TESTS());
    }
    testhost::ExitNow(testhost::RunScenarios(argc, argv));
}
