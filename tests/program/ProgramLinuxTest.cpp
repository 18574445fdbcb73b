// The built Linux program, run as a user runs it: headless, inside a network namespace of the test's
// own, with a settings.ini beside it.
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr uint16_t ClosedPort = 2525;
constexpr uint16_t OpenPort = 8080;

class ProgramLinuxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }

    ProgramFolder folder_;
};

} // namespace

TEST_F(ProgramLinuxTest, OutsideTheWindowConnectionsOnClosedPortsDieAndInsideTheyLive) {
    folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    const std::string settings = readBytes(folder_.file("settings.ini"));
    auto program = folder_.start();
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << folder_.log();
    EXPECT_FALSE(loopback::killedWithinATick(OpenPort)) << "a port not on the list";

    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(2s), 0) << folder_.log();
    EXPECT_EQ(readBytes(folder_.file("settings.ini")), settings) << "the shutdown save changed the file";

    folder_.writeSettings(hoursFromNow(-1), hoursFromNow(1), false);
    program = folder_.start();
    EXPECT_FALSE(loopback::killedWithinATick(ClosedPort)) << "inside the window";
}

TEST_F(ProgramLinuxTest, WithTheAlarmStoredConnectionsDieInsideTheWindowTooAlsoWithADisplayThatIsGone) {
    folder_.writeSettings(hoursFromNow(-1), hoursFromNow(1), true);
    auto program = folder_.start({"DISPLAY=:97"}); // no X server there: the program runs headless
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << folder_.log();
}

TEST_F(ProgramLinuxTest, ASecondCopyEndsAtOnceAndLeavesTheFirstAndTheFileAlone) {
    folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    const std::string settings = readBytes(folder_.file("settings.ini"));
    auto first = folder_.start();
    std::this_thread::sleep_for(300ms); // the first copy holds the instance lock
    auto second = folder_.start();
    EXPECT_EQ(second->endsWithin(1s), 0) << folder_.log();
    EXPECT_FALSE(first->endsWithin(0ms)) << "the first copy ended";
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << "the first copy still enforces";
    EXPECT_EQ(readBytes(folder_.file("settings.ini")), settings);
}
