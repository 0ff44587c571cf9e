// The main of every test program. A run that tests nothing must not read as
// a pass: it fails when no test ran, and, in a child run (a test program that
// another test starts to run one test in a process of its own), when a test
// skipped itself, since the parent sees only the exit code.
#include "test_main.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bool child_run = false;
    for (int i = 1; i < argc; ++i) child_run = child_run || std::strcmp(argv[i], CHILD_RUN_ARG) == 0;
    const int result = RUN_ALL_TESTS();
    if (result != 0 || GTEST_FLAG_GET(list_tests)) return result;
    const ::testing::UnitTest& run = *::testing::UnitTest::GetInstance();
    if (run.test_to_run_count() == 0) {
        std::printf("No test ran: the filter matches no test.\n");
        return NO_VERDICT_EXIT_CODE;
    }
    if (child_run && run.skipped_test_count() > 0) {
        std::printf("A test skipped itself: in a child run that is no pass.\n");
        return NO_VERDICT_EXIT_CODE;
    }
    return 0;
}
