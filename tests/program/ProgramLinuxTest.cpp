// The built Linux program, run as a user runs it: headless, inside a network namespace of the test's
// own, with a settings.ini beside it.
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"

#include <gtest/gtest.h>

#include <cctype>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr uint16_t ClosedPort = 2525;
constexpr uint16_t OpenPort = 8080;

// Whether a process of this test's rights may lower its rank for the out-of-memory killer: asked of a
// child, so that the test's own rank stays.
bool mayLowerOomScore() {
    const pid_t child = fork();
    if (child == 0) {
        const int fd = ::open("/proc/self/oom_score_adj", O_WRONLY);
        _exit(fd >= 0 && ::write(fd, "-900", 4) == 4 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class ProgramLinuxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }

    // status, once it says every one of the lines, or as it last answered.
    ProgramFolder::ToolRun statusSaying(const std::vector<std::string>& lines) const {
        const auto until = std::chrono::steady_clock::now() + 10s;
        ProgramFolder::ToolRun run = folder_.quietwirectl({"status"});
        while (std::chrono::steady_clock::now() < until &&
               !std::all_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return run.output.find(line) != std::string::npos; })) {
            std::this_thread::sleep_for(100ms);
            run = folder_.quietwirectl({"status"});
        }
        return run;
    }

    // A runtime directory of a copy's own, as its user's login has one, so that copies are not duplicates.
    std::string runtimeDirectory(const std::string& name, uid_t owner, gid_t group) const {
        const std::string path = folder_.file(name);
        std::filesystem::create_directory(path);
        EXPECT_EQ(::chown(path.c_str(), owner, group), 0);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
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
    // Lowering the rank needs CAP_SYS_RESOURCE, which some containers withhold even from root.
    EXPECT_EQ(readBytes("/proc/" + std::to_string(program->pid()) + "/oom_score_adj"),
              mayLowerOomScore() ? "-900\n" : readBytes("/proc/self/oom_score_adj"))
        << "a copy with the right ranks itself well below other processes for the out-of-memory killer";

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

    // Today closed all day (and yesterday, whose window might run into now) closes the ports at the next
    // tick, inside the daily window; daily brings the window back.
    const auto dayName = [](int daysAgo) {
        const std::time_t t = std::time(nullptr) - daysAgo * 24 * 3600;
        char name[8];
        std::strftime(name, sizeof name, "%a", std::localtime(&t));
        return std::string{static_cast<char>(std::tolower(name[0])), name[1], name[2]};
    };
    for (const int day : {0, 1}) {
        EXPECT_EQ(ctl({"set-day", dayName(day), "closed"}).status, 0);
    }
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << "the day closed all day\n" << folder_.log();
    EXPECT_NE(ctl({"status"}, false).output.find("Closed ports (1 entry): closed until"), std::string::npos);
    for (const int day : {0, 1}) {
        EXPECT_EQ(ctl({"set-day", dayName(day), "daily"}).status, 0);
    }
    EXPECT_FALSE(loopback::killedWithinATick(ClosedPort)) << "the daily window came back";
}

TEST_F(ProgramLinuxTest, StatusNamesEachCopyAndSaysConnectionsAreClosedWhileOneRunningCopyMayCloseThem) {
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                                               "--regid=" + std::to_string(gid), "--clear-groups", "--"};
    folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    const auto enforcing = folder_.start();
    const std::string nobodyRuns = runtimeDirectory("run-nobody", uid, gid);
    const auto lacking =
        folder_.start({"XDG_RUNTIME_DIR=" + nobodyRuns, "HOME=" + nobodyRuns, "USER=nobody"}, asNobody);
    // Root of a user namespace of its own: every capability, over nothing outside it.
    const auto contained = folder_.start({"XDG_RUNTIME_DIR=" + runtimeDirectory("run-contained", 0, 0)},
                                         {"/usr/bin/unshare", "--user", "--map-root-user", "--"});
    const auto stopped = folder_.start({"XDG_RUNTIME_DIR=" + runtimeDirectory("run-stopped", 0, 0)});
    stopped->signal(SIGSTOP);
    const auto line = [](const std::unique_ptr<Running>& copy, const std::string& rest) {
        return "  process " + std::to_string(copy->pid()) + rest + "\n";
    };

    const std::vector<std::string> expected = {
        "Program: running (4 copies, 1 stopped)\n",
        line(enforcing, " (root): can close connections, running"),
        line(lacking, " (nobody): cannot close connections, running"),
        line(contained, " (root): cannot close connections here (it runs in another namespace), running"),
        line(stopped, " (root): can close connections, stopped"),
        "Closing connections: yes, by process " + std::to_string(enforcing->pid()) + "\n"};
    const auto status = statusSaying(expected);
    EXPECT_EQ(status.status, 0) << status.output;
    for (const std::string& shown : expected) {
        EXPECT_NE(status.output.find(shown), std::string::npos) << shown << status.output << folder_.log();
    }
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << "root's copy closes them beside the others";

    // With root's running copy gone, nothing closes them, and status says so.
    enforcing->signal(SIGTERM);
    EXPECT_EQ(enforcing->endsWithin(5s), 0) << folder_.log();
    const std::string none =
        "Closing connections: no: process " + std::to_string(stopped->pid()) + ", which can close them, is stopped\n";
    const auto after = statusSaying({none});
    EXPECT_NE(after.output.find(none), std::string::npos) << after.output;
    EXPECT_FALSE(loopback::killedWithinATick(ClosedPort)) << "a stopped copy closed a connection";
}
