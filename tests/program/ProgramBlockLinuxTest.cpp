// The in-line block of the built program, on the real kernel in a network namespace of the test's own.
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"
#include "support/Command.h"
#include "support/Done.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <sys/socket.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr uint16_t ClosedPort = 2525;

std::string ruleset() {
    std::string output;
    runCommand({"nft", "list", "ruleset"}, output);
    return output;
}

bool programRules() {
    return ruleset().find("quietwire") != std::string::npos;
}

// Within a tick and a little: the program changes its rules at its next tick.
bool withinATick(const std::function<bool()>& holds) {
    const auto until = std::chrono::steady_clock::now() + 1500ms;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

int refusal() {
    return loopback::connectError(AF_INET, "127.0.0.1", ClosedPort);
}

class ProgramBlockLinuxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }

    ProgramFolder folder_;
};

} // namespace

TEST_F(ProgramBlockLinuxTest, TheBlockRefusesDuringTheCurfewOutlivesAKilledProgramAndGoesAtACleanEnd) {
    UniqueFd listener = loopback::listenOn(AF_INET, "127.0.0.1", ClosedPort);
    folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false, true);
    auto program = folder_.start();
    ASSERT_TRUE(withinATick([] { return refusal() == ECONNREFUSED; })) << folder_.log() << ruleset();

    folder_.writeSettings(hoursFromNow(-1), hoursFromNow(1), false, true);
    EXPECT_TRUE(withinATick([] { return !programRules(); })) << "the window opened\n" << ruleset();
    EXPECT_EQ(refusal(), 0) << "the listener is still listening";
    folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false, true);
    ASSERT_TRUE(withinATick(programRules)) << "the window closed";

    program->signal(SIGKILL);
    program->endsWithin(2s);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(refusal(), ECONNREFUSED) << "a killed program leaves the block in force";

    ASSERT_TRUE(done(folder_.saveSettings(hoursFromNow(1), hoursFromNow(2), false, {"2626"}, true)));
    program = folder_.start();
    EXPECT_TRUE(withinATick([] { return refusal() == 0; })) << "a new start takes the rules over\n" << ruleset();
    EXPECT_NE(ruleset().find("2626"), std::string::npos) << ruleset();

    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(2s), 0) << folder_.log();
    EXPECT_FALSE(programRules()) << "a clean end lifts the rules\n" << ruleset();

    listener.reset();
    folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false, false);
    program = folder_.start();
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << "with the block off the sweep goes on alone";
    EXPECT_FALSE(programRules()) << ruleset();
}
