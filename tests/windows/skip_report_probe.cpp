// A GoogleTest program for the test of the Wine harness's skip report: the filter picks which of
// its tests run.
#include <gtest/gtest.h>

TEST(SkipReport, Passes) {}

TEST(SkipReport, Skips) {
    GTEST_SKIP() << "no such facility here";
}

TEST(SkipReport, Fails) {
    FAIL() << "as asked";
}
