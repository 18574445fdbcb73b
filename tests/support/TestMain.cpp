// The tests' main. Under CI (CI=true) a skipped test is a failure: a test that needs Wine, root, a
// network namespace or a display must run there, so nothing passes by not running.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const char* ci = std::getenv("CI");
    const int skipped = ::testing::UnitTest::GetInstance()->skipped_test_count();
    if (result == 0 && ci != nullptr && std::string(ci) == "true" && skipped > 0) {
        std::fprintf(stderr, "CI=true: %d test(s) skipped; under CI every test must run.\n", skipped);
        return 1;
    }
    return result;
}
