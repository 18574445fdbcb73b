// The built Linux program, run as a user runs it: headless, inside a network namespace of the test's
// own, with a settings.ini beside it.
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
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

TEST_F(ProgramLinuxTest, ASecondCopyEndsAtOnceNamingTheFirstAndLeavesItAndTheFileAlone) {
    folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    const std::string settings = readBytes(folder_.file("settings.ini"));
    auto first = folder_.start();
    std::this_thread::sleep_for(300ms); // the first copy holds the instance lock
    auto second = folder_.start();
    EXPECT_EQ(second->endsWithin(1s), 0) << folder_.log();
    EXPECT_NE(folder_.log().find("quietwire: another copy runs already for this user (process " +
                                 std::to_string(first->pid()) + "); this one ends.\n"),
              std::string::npos)
        << "a copy that ends at once says why on standard error\n"
        << folder_.log();
    EXPECT_FALSE(first->endsWithin(0ms)) << "the first copy ended";
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << "the first copy still enforces";
    EXPECT_EQ(readBytes(folder_.file("settings.ini")), settings);
}

TEST_F(ProgramLinuxTest, QuietwirectlAdministersTheRunningProgramFromAShell) {
    constexpr uint16_t WebPort = 9090;
    folder_.writeSettings(hoursFromNow(-1), hoursFromNow(1), false);
    auto program = folder_.start();
    std::ofstream(folder_.file("password")) << "Secret\n";
    const std::vector<std::string> password = {"--password-file", folder_.file("password")};
    auto ctl = [&](std::vector<std::string> arguments, bool administrator = true) {
        if (administrator) {
            arguments.insert(arguments.end(), password.begin(), password.end());
        }
        return folder_.quietwirectl(arguments);
    };
    const auto status = ctl({"status"}, false);
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_NE(status.output.find("Program: running\n"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("open: inside the window"), std::string::npos) << status.output;

    const std::string before = readBytes(folder_.file("settings.ini"));
    const auto wrong = folder_.quietwirectl({"add-port", "9090", "--password-file", "-"}, "secret\n");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.output, "quietwirectl: Invalid password!\n");
    EXPECT_EQ(readBytes(folder_.file("settings.ini")), before);

    EXPECT_EQ(ctl({"set-window", hoursFromNow(1), hoursFromNow(2)}).status, 0);
    EXPECT_EQ(ctl({"add-port", "9090, WEB"}).status, 0);
    EXPECT_TRUE(loopback::killedWithinATick(WebPort)) << "the running copy took the change over\n" << folder_.log();
    const auto blocked = ctl({"status", "--json"}, false);
    EXPECT_NE(blocked.output.find("\"ports\":\"blocked\",\"reason\":\"outside-window\""), std::string::npos)
        << blocked.output;

    folder_.writeSettings(hoursFromNow(-1), hoursFromNow(1), true);
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << "the stored alarm blocks inside the window";
    const auto reset = ctl({"reset-alarm"});
    EXPECT_EQ(reset.output, "Alarm has been reset!\n");
    EXPECT_NE(ctl({"status"}, false).output.find("open: inside the window"), std::string::npos);
    EXPECT_FALSE(loopback::killedWithinATick(ClosedPort)) << "the alarm stayed raised in the running copy";
}
