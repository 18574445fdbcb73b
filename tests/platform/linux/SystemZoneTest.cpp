#include "platform/linux/SystemZone.h"
#include "platform/linux/ZoneFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

// The Linux clock's zone: the machine's zone file, here a file of the test's own standing in for it.
namespace {

class SystemZoneTest : public ::testing::Test {
protected:
    void TearDown() override {
        ::unsetenv("TZ");
        systemZone().useFile(SystemZone::MachineZoneFile);
    }

    ZoneFiles zone_;
};

} // namespace

TEST_F(SystemZoneTest, TZInTheEnvironmentNeverMovesTheClock) {
    zone_.replaceWith("Etc/GMT-3"); // UTC+3
    systemZone().useFile(zone_.path());
    EXPECT_TRUE(clockIsAt(3));

    // As a library call may do at any time: TZ taken from the environment afresh.
    ::setenv("TZ", "UTC-11", 1);
    ::tzset();
    EXPECT_TRUE(clockIsAt(3));
}

TEST_F(SystemZoneTest, AZoneFileWithOtherRulesIsTakenIntoUseAndCountedTheSameRulesAreNoChange) {
    zone_.replaceWith("Etc/GMT-3");
    systemZone().useFile(zone_.path());
    const uint64_t start = systemZone().follow();

    zone_.replaceWith("Etc/GMT+5"); // UTC-5
    EXPECT_TRUE(clockIsAt(3)) << "a new zone is taken into use when it is followed, not before";
    EXPECT_EQ(systemZone().follow(), start + 1);
    EXPECT_TRUE(clockIsAt(-5));
    EXPECT_EQ(systemZone().follow(), start + 1) << "one change is counted once";

    zone_.replaceWith("Etc/GMT+5");
    EXPECT_EQ(systemZone().follow(), start + 1) << "a new file with the same rules";

    // The same inode, and most likely the same second, as the file the library last read.
    zone_.rewriteWith("Etc/GMT-7");
    EXPECT_EQ(systemZone().follow(), start + 2);
    EXPECT_TRUE(clockIsAt(7));
}
