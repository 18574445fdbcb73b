// The built program and quietwirectl against another user on the same machine (needs root): locks
// planted where the program once looked, and password guesses made in parallel.
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr uid_t Nobody = 65534;
constexpr uint16_t ClosedPort = 2525;

// /tmp and /run of the test's own (empty tmpfs), for this process and the programs it starts, until it
// goes: what is planted there reaches nothing of the machine's.
class PrivateTmpAndRun {
public:
    PrivateTmpAndRun() : machine_(::open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC)) {
        // Private first, so that no mount made here reaches the machine's own tree.
        if (machine_ < 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0 ||
            ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
            why_ = std::string("cannot make a private /tmp and /run: ") + std::strerror(errno);
        }
    }
    ~PrivateTmpAndRun() {
        if (machine_ >= 0) {
            ::setns(machine_, CLONE_NEWNS);
            ::close(machine_);
        }
    }
    PrivateTmpAndRun(const PrivateTmpAndRun&) = delete;
    PrivateTmpAndRun& operator=(const PrivateTmpAndRun&) = delete;

    const std::string& why() const { return why_; }

private:
    int machine_;
    std::string why_;
};

// Another user's process that made these files (and their folders, 0700) first and holds a lock on
// each, until the test ends.
class PlantedLocks {
public:
    explicit PlantedLocks(const std::vector<std::string>& files) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        planter_ = ::fork();
        if (planter_ == 0) {
            ::close(ready[0]);
            if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) {
                ::_exit(1);
            }
            for (const std::string& file : files) {
                ::mkdir(file.substr(0, file.rfind('/')).c_str(), 0700);
                const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0644);
                if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(fd, "1\n", 2) != 2) {
                    ::_exit(2);
                }
            }
            (void)!::write(ready[1], "k", 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char k = 0;
        planted_ = ::read(ready[0], &k, 1) == 1;
        ::close(ready[0]);
    }
    ~PlantedLocks() {
        if (planter_ > 0) {
            ::kill(planter_, SIGKILL);
            ::waitpid(planter_, nullptr, 0);
        }
    }
    PlantedLocks(const PlantedLocks&) = delete;
    PlantedLocks& operator=(const PlantedLocks&) = delete;

    bool planted() const { return planted_; }

private:
    pid_t planter_ = -1;
    bool planted_ = false;
};

class ProgramLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::getuid() != 0) {
            GTEST_SKIP() << "needs root, to be another user";
        }
    }
};

class PlantedLockTest : public ProgramLockTest {
protected:
    void SetUp() override {
        ProgramLockTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        ASSERT_EQ(mounts_.why(), "");
        folder_.emplace();
    }

    PrivateTmpAndRun mounts_;
    std::optional<ProgramFolder> folder_; // in the private /tmp
};

} // namespace

TEST_F(PlantedLockTest, AnotherUsersLockWhereTheProgramOnceLookedStopsNoCopyOfRoots) {
    // Root started by hand (su -, cron, a boot script) has no runtime folder; `su` without a dash keeps
    // the other user's.
    const std::string othersRuntime = "/tmp/nobody-runtime";
    const PlantedLocks planted({"/tmp/quietwire-root.lock", "/tmp/runtime-root/quietwire-root.lock",
                                othersRuntime + "/quietwire.lock", othersRuntime + "/quietwire-root.lock"});
    ASSERT_TRUE(planted.planted());
    folder_->writeSettings(hoursFromNow(1), hoursFromNow(2), false);

    for (const std::string& runtime : {std::string("XDG_RUNTIME_DIR"), "XDG_RUNTIME_DIR=" + othersRuntime}) {
        SCOPED_TRACE(runtime);
        auto program = folder_->start({runtime});
        EXPECT_FALSE(program->endsWithin(1500ms)) << "the copy took itself for a duplicate\n" << folder_->log();
        EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << folder_->log();
        EXPECT_EQ(readBytes("/run/quietwire/quietwire.lock"), std::to_string(program->pid()) + "\n")
            << "root's lock is in a folder only root may write to";
        program->signal(SIGTERM);
        EXPECT_EQ(program->endsWithin(2s), 0) << folder_->log();
    }
    EXPECT_EQ(folder_->log().find("another copy"), std::string::npos) << folder_->log();
}

TEST_F(ProgramLockTest, OneUsersGuessesInParallelWaitTheirTurnAndAnotherUsersRightPasswordDoesNot) {
    constexpr int Guesses = 4;
    const ProgramFolder roots;
    roots.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    std::ofstream(roots.file("wrong")) << "secret\n";
    const ProgramFolder nobodys;
    nobodys.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    std::ofstream(nobodys.file("right")) << "Secret\n";
    nobodys.handTo(Nobody);

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<Running>> guesses;
    for (int i = 0; i < Guesses; ++i) {
        guesses.push_back(roots.startQuietwirectl({"show", "--password-file", roots.file("wrong")}));
    }
    std::this_thread::sleep_for(300ms); // the guesses are under way
    auto right = nobodys.startQuietwirectl({"show", "--password-file", nobodys.file("right")}, Nobody);
    EXPECT_EQ(right->endsWithin(30s), 0) << nobodys.log();
    int stillGuessing = 0;
    for (const auto& guess : guesses) {
        stillGuessing += guess->endsWithin(0ms) ? 0 : 1;
    }
    EXPECT_GT(stillGuessing, 0) << "the other user's right password waited for root's guesses";

    for (const auto& guess : guesses) {
        EXPECT_EQ(guess->endsWithin(30s), 1) << roots.log();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, (Guesses - 1) * 1s + 500ms) << "the guesses were not answered one after another";
    EXPECT_NE(roots.log().find("quietwirectl: Invalid password!"), std::string::npos) << roots.log();
}
