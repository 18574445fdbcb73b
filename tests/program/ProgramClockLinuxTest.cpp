// The built Linux program's answer to a change of the system clock, watched from outside as a user
// sees it: an X server of its own (Xvfb, started by the test command) with trayer as the tray host,
// the program's windows found and driven with xdotool. The clock is set to its own current value, the
// only change of the clock a test may make on a shared machine (needs root); the time zone is changed
// in a mount namespace of the test's own.
#include "platform/linux/Loopback.h"
#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramDisplay.h"
#include "program/ProgramFolder.h"
#include "support/SystemClock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/mount.h>

namespace {

using namespace std::chrono_literals;

// An X application only where the test command started an X server.
const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

const std::string Warning = "WARNING\nThe system clock has changed, network has been disabled, please contact the "
                            "Administrator to re-enable it.";

// Whether the process holds a timerfd on CLOCK_REALTIME armed to be cancelled when the clock is set:
// the program's clock watch.
bool watchesTheClock(pid_t process) {
    const std::filesystem::path fds = "/proc/" + std::to_string(process) + "/fd";
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(fds, error)) {
        if (std::filesystem::read_symlink(fd.path(), error) != "anon_inode:[timerfd]") {
            continue;
        }
        const std::string info =
            readBytes("/proc/" + std::to_string(process) + "/fdinfo/" + fd.path().filename().string());
        if (info.find("clockid: 0\n") != std::string::npos && info.find("settime flags: 03\n") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The zone at /etc/localtime for this process and the programs it starts, in a mount namespace of its
// own: the named zone's file mounted over the machine's, as if root had replaced it.
bool setZoneOfOwnNamespace(const std::string& zone) {
    static const bool own =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const std::string file = "/usr/share/zoneinfo/" + zone;
    return own && ::mount(file.c_str(), "/etc/localtime", nullptr, MS_BIND, nullptr) == 0;
}

std::string utcHoursFromNow(int hours) {
    const std::time_t t = std::time(nullptr) + hours * 3600;
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", std::gmtime(&t));
    return text;
}

class ProgramClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qApp == nullptr) {
            GTEST_SKIP() << "no X display (run through xvfb-run)";
        }
        if (!maySetTheClock()) {
            GTEST_SKIP() << "needs root with CAP_SYS_TIME to set the clock";
        }
        // Once alarmed the program closes connections; only the namespace's own are there to close.
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        folder_.writeSettings(hoursFromNow(-1), hoursFromNow(1), false);
    }

    // The program on the test's display and session bus.
    std::unique_ptr<Running> start() const { return folder_.start(displayEnvironment()); }

    ProgramFolder folder_;
};

} // namespace

TEST_F(ProgramClockTest, WithTheIconInTheTrayAClockSetStoresTheAlarmAndWarns) {
    HelperProcess host = trayer();
    ASSERT_TRUE(host.start());
    auto program = start();
    XWindows windows;
    ASSERT_TRUE(waitUntil([&] { return windows.shownInside(program->pid(), host.process().processId()) != 0; }, 10000))
        << "the icon never came into the tray\n"
        << folder_.log();

    const int error = setClockToItself();
    ASSERT_EQ(error, 0) << std::strerror(error);
    WId box = 0;
    ASSERT_TRUE(waitUntil([&] { return (box = messageBox(program->pid())) != 0; })) << folder_.log();
    EXPECT_TRUE(folder_.stored().alarm) << "the alarm waits for the warning to close";
    EXPECT_EQ(messageBoxText(box), Warning);

    xdotool({"key", "Return"});
    EXPECT_TRUE(waitUntil([&] { return messageBox(program->pid()) == 0; })) << "the warning did not close";
    EXPECT_FALSE(program->endsWithin(500ms)) << "the program ended with its warning\n" << folder_.log();
    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(5s), 0) << folder_.log();
    EXPECT_TRUE(folder_.stored().alarm) << "the shutdown save lost the alarm";
}

TEST_F(ProgramClockTest, BeforeTheIconIsInTheTrayAClockSetRaisesNothing) {
    auto program = start(); // no tray host: the icon never comes in
    ASSERT_TRUE(waitUntil([&] { return watchesTheClock(program->pid()); })) << folder_.log();

    const int error = setClockToItself();
    ASSERT_EQ(error, 0) << std::strerror(error);
    EXPECT_FALSE(waitUntil([&] { return messageBox(program->pid()) != 0; }, 2000)) << "a warning was shown";
    EXPECT_FALSE(folder_.stored().alarm);
    EXPECT_FALSE(program->endsWithin(0ms)) << folder_.log();
    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(5s), 0) << folder_.log();
    EXPECT_FALSE(folder_.stored().alarm) << "the shutdown save raised the alarm";
}

TEST_F(ProgramClockTest, TheMachinesZoneDecidesNotTZAndANewZoneWithTheIconInTheTrayStoresTheAlarmAndWarns) {
    ASSERT_TRUE(setZoneOfOwnNamespace("Etc/UTC")) << std::strerror(errno);
    folder_.writeSettings(utcHoursFromNow(9), utcHoursFromNow(13), false); // open at UTC+10 and UTC+11
    const std::vector<std::string> tz = {"TZ=UTC-11"};                     // UTC+11: inside, were TZ taken
    HelperProcess host = trayer();
    ASSERT_TRUE(host.start());
    std::vector<std::string> environment = displayEnvironment();
    environment.push_back(tz[0]);
    auto program = folder_.start(environment);
    XWindows windows;
    ASSERT_TRUE(waitUntil([&] { return windows.shownInside(program->pid(), host.process().processId()) != 0; }, 10000))
        << folder_.log();
    EXPECT_TRUE(waitUntil([] { return loopback::killedWithinATick(2525); }, 10000))
        << "the program went by TZ: UTC is outside the window";
    EXPECT_NE(folder_.quietwirectl({"status", "--json"}, "", tz).output.find("\"curfew\":\"outside-window\""),
              std::string::npos);

    ASSERT_TRUE(setZoneOfOwnNamespace("Etc/GMT-10")); // UTC+10, as a clock set to the window would
    WId box = 0;
    ASSERT_TRUE(waitUntil([&] { return (box = messageBox(program->pid())) != 0; })) << folder_.log();
    EXPECT_TRUE(folder_.stored().alarm);
    EXPECT_EQ(messageBoxText(box), Warning);
    xdotool({"key", "Return"});
    EXPECT_TRUE(waitUntil([&] { return messageBox(program->pid()) == 0; })) << "the warning did not close";
    EXPECT_TRUE(loopback::killedWithinATick(2525)) << "the alarm closes the ports inside the window too";
    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(5s), 0) << folder_.log();
}
