// The built program and quietwirectl beside another user of the machine (needs root): locks planted
// where the program once looked, and password guesses made in parallel.
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"
#include "support/Command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr uid_t Nobody = 65534;

// The command as the user uid, with the runtime folder given.
std::unique_ptr<Running> runAs(uid_t uid, const std::string& runtime, const std::string& log,
                               std::vector<std::string> command) {
    const std::string id = std::to_string(uid);
    command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"});
    return std::make_unique<Running>(std::move(command),
                                     std::vector<std::string>{"PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime}, log);
}

// In a network namespace and with an empty /tmp and /run of the test's own, for this process and the
// programs it starts, until the test ends: what is planted there reaches nothing of the machine's.
class ProgramLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        machine_ = ::open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
        // Private first, so that no mount made here reaches the machine's own tree.
        ASSERT_TRUE(machine_ >= 0 && ::unshare(CLONE_NEWNS) == 0 &&
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
            << std::strerror(errno);
        const UniqueFd machineTmp(::open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(machineTmp.valid() && ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0 &&
                    ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") == 0)
            << std::strerror(errno);
        // A build tree under /tmp (a clone made with mktemp) stays in sight at its own path.
        if (const std::string built = builtProgramsFolder(); built.rfind("/tmp/", 0) == 0) {
            std::filesystem::create_directories(built);
            const std::string machines = "/proc/self/fd/" + std::to_string(machineTmp.get()) + built.substr(4);
            ASSERT_EQ(::mount(machines.c_str(), built.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
        }
        folder_.emplace();
        folder_->writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    }
    void TearDown() override {
        folder_.reset();
        if (machine_ >= 0) {
            ::setns(machine_, CLONE_NEWNS);
            ::close(machine_);
        }
    }

    int machine_ = -1;
    std::optional<ProgramFolder> folder_; // root's
};

} // namespace

TEST_F(ProgramLockTest, AnotherUsersLockWhereTheProgramOnceLookedStopsNoCopyOfRoots) {
    // Root started by hand (su -, cron, a boot script) has no runtime folder; `su` without a dash keeps
    // the other user's. Nobody makes those names first and holds a lock on each.
    const std::string othersRuntime = "/tmp/nobody-runtime";
    const auto planter = runAs(Nobody, othersRuntime, folder_->file("planter.log"),
                               {"sh", "-c",
                                "mkdir -m 700 /tmp/runtime-root " + othersRuntime +
                                    " && exec 3>/tmp/quietwire-root.lock 4>/tmp/runtime-root/quietwire-root.lock 5>" +
                                    othersRuntime + "/quietwire.lock && flock 3 && flock 4 && flock 5 && touch " +
                                    othersRuntime + "/planted && exec sleep 600"});
    for (int i = 0; i < 250 && !std::filesystem::exists(othersRuntime + "/planted"); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(std::filesystem::exists(othersRuntime + "/planted")) << readBytes(folder_->file("planter.log"));

    for (const std::string& runtime : {std::string("XDG_RUNTIME_DIR"), "XDG_RUNTIME_DIR=" + othersRuntime}) {
        SCOPED_TRACE(runtime);
        auto program = folder_->start({runtime});
        EXPECT_FALSE(program->endsWithin(1500ms)) << "the copy took itself for a duplicate\n" << folder_->log();
        EXPECT_TRUE(loopback::killedWithinATick(2525)) << folder_->log();
        EXPECT_EQ(readBytes("/run/quietwire/quietwire-enforcer.lock"), std::to_string(program->pid()) + "\n")
            << "root's lock is in a folder only root may write to";
        program->signal(SIGTERM);
        EXPECT_EQ(program->endsWithin(2s), 0) << folder_->log();
    }
    EXPECT_EQ(folder_->log().find("another copy"), std::string::npos) << folder_->log();
}

TEST_F(ProgramLockTest, OneUsersGuessesInParallelWaitTheirTurnAndAnotherUsersRightPasswordDoesNot) {
    constexpr int Guesses = 4;
    const ProgramFolder& roots = *folder_;
    const ProgramFolder nobodys;
    nobodys.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    std::ofstream(roots.file("wrong")) << "secret\n";
    std::ofstream(nobodys.file("right")) << "Secret\n";
    std::string output;
    ASSERT_EQ(runCommand({"chown", "-R", "nobody:nogroup", nobodys.file(".")}, output), 0) << output;
    const auto show = [](uid_t uid, const ProgramFolder& folder, const std::string& password) {
        return runAs(uid, folder.runtimeDirectory(), folder.file("log.txt"),
                     {folder.file("quietwirectl"), "show", "--password-file", folder.file(password)});
    };

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<Running>> guesses;
    for (int i = 0; i < Guesses; ++i) {
        guesses.push_back(show(0, roots, "wrong"));
    }
    std::this_thread::sleep_for(300ms); // the guesses are under way
    EXPECT_EQ(show(Nobody, nobodys, "right")->endsWithin(30s), 0) << nobodys.log();
    EXPECT_TRUE(std::any_of(guesses.begin(), guesses.end(), [](const auto& guess) { return !guess->endsWithin(0ms); }))
        << "the other user's right password waited for root's guesses";

    for (const auto& guess : guesses) {
        EXPECT_EQ(guess->endsWithin(30s), 1) << roots.log();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, (Guesses - 1) * 1s + 500ms)
        << "the guesses were not answered one after another";
    EXPECT_NE(roots.log().find("quietwirectl: Invalid password!"), std::string::npos) << roots.log();
}
