// The entry of the win32 unit-test programs (platform-free code run under Wine).
#include <gtest/gtest.h>

#include "testhost/exit_now.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testhost::ExitNow(RUN_ALL_TESTS());
}
