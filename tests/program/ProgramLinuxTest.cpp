// The built Linux program, run as a user runs it: headless, inside a network namespace of the test's
// own, with a settings.ini beside it.
#include "fakes/RedirectedFileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/linux/Loopback.h"
#include "settings/modGlobals.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr uint16_t ClosedPort = 2525;
constexpr uint16_t OpenPort = 8080;

// The local time of day an hour away from now, as the administration dialog stores it.
std::string hoursFromNow(int hours) {
    const std::time_t t = std::time(nullptr) + hours * 3600;
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// One running copy of the program; ended with SIGKILL if the test did not end it.
class Running {
public:
    Running(const std::string& program, const std::string& runtimeDir, const std::string& log) {
        std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtimeDir, "PATH=/usr/bin:/bin", "USER=root",
                                        "HOME=" + runtimeDir};
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::string path = program;
        char* argv[] = {path.data(), nullptr};
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Running() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool started() const { return pid_ > 0; }
    void signal(int sig) const { ::kill(pid_, sig); }
    // The exit status once the process has ended within the time, or nothing.
    std::optional<int> endsWithin(std::chrono::milliseconds time) {
        const auto until = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

class ProgramLinuxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        program_ = dir_.file("quietwire");
        std::filesystem::copy_file(QW_PROGRAM_PATH, program_);
        std::filesystem::create_directory(dir_.file("run"));
        std::filesystem::permissions(dir_.file("run"), std::filesystem::perms::owner_all); // as a runtime dir is
    }

    void writeSettings(const std::string& start, const std::string& end, bool alarm) {
        RedirectedFileSystem files(dir_.str());
        platform::ScopedInstall<FileSystem> useFiles(files);
        platform::ScopedInstall<ProfileFile> useProfile(systemProfileFile());
        resetSettings();
        modGlobals::AdminPassword = "secret";
        modGlobals::StartTime = start;
        modGlobals::EndTime = end;
        modGlobals::AlarmRaised = alarm;
        setPorts({"2525, TEST"});
        modGlobals::SaveSettings();
        resetSettings();
    }

    std::unique_ptr<Running> start() {
        auto running = std::make_unique<Running>(program_, dir_.file("run"), dir_.file("log.txt"));
        EXPECT_TRUE(running->started());
        return running;
    }

    // A connection on port, and whether the program deletes it within two ticks.
    bool killedWithinATick(uint16_t port) {
        const UniqueFd listener = loopback::listenOn(AF_INET, "127.0.0.1", port);
        loopback::Connection c = loopback::connect(listener.get(), AF_INET, "127.0.0.1", port);
        return loopback::sawReset(c.client.get()) || loopback::sawReset(c.client.get());
    }

    std::string log() const { return readBytes(dir_.file("log.txt")); }

    TempDir dir_;
    std::string program_;
};

} // namespace

TEST_F(ProgramLinuxTest, OutsideTheWindowConnectionsOnClosedPortsDieAndInsideTheyLive) {
    writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    const std::string settings = readBytes(dir_.file("settings.ini"));
    auto program = start();
    EXPECT_TRUE(killedWithinATick(ClosedPort)) << log();
    EXPECT_FALSE(killedWithinATick(OpenPort)) << "a port not on the list";

    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(2s), 0) << log();
    EXPECT_EQ(readBytes(dir_.file("settings.ini")), settings) << "the shutdown save changed the file";

    writeSettings(hoursFromNow(-1), hoursFromNow(1), false);
    program = start();
    EXPECT_FALSE(killedWithinATick(ClosedPort)) << "inside the window";
}

TEST_F(ProgramLinuxTest, WithTheAlarmStoredConnectionsDieInsideTheWindowToo) {
    writeSettings(hoursFromNow(-1), hoursFromNow(1), true);
    auto program = start();
    EXPECT_TRUE(killedWithinATick(ClosedPort)) << log();
}

TEST_F(ProgramLinuxTest, ASecondCopyEndsAtOnceAndLeavesTheFirstAndTheFileAlone) {
    writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    const std::string settings = readBytes(dir_.file("settings.ini"));
    auto first = start();
    std::this_thread::sleep_for(300ms); // the first copy holds the instance lock
    auto second = start();
    EXPECT_EQ(second->endsWithin(1s), 0) << log();
    EXPECT_FALSE(first->endsWithin(0ms)) << "the first copy ended";
    EXPECT_TRUE(killedWithinATick(ClosedPort)) << "the first copy still enforces";
    EXPECT_EQ(readBytes(dir_.file("settings.ini")), settings);
}
