// The built Linux program and quietwirectl against the machine's time zone, watched from outside: an X
// server of its own (Xvfb, started by the test command) with trayer as the tray host, connections in a
// network namespace of the test's own, and /etc/localtime changed as root changes it, inside a mount
// namespace of the test's own so that the machine's zone stays as it is (needs root).
#include "platform/linux/Loopback.h"
#include "platform/linux/TimeChangeTimer.h"
#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramDisplay.h"
#include "program/ProgramFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

const std::string Warning = "WARNING\nThe system clock has changed, network has been disabled, please contact the "
                            "Administrator to re-enable it.";

constexpr uint16_t ClosedPort = 2525; // the port ProgramFolder::writeSettings closes

// /etc for this process and the programs it starts: the machine's /etc under an overlay whose changes
// land in a folder of the test, in a mount namespace of the test's own.
class PrivateEtc {
public:
    std::string enter() {
        const std::string upper = layers_.file("upper");
        const std::string work = layers_.file("work");
        std::filesystem::create_directory(upper);
        std::filesystem::create_directory(work);
        // Private first, so that no mount made here reaches the machine's own tree.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("no mount namespace of the test's own: ") + std::strerror(errno);
        }
        const std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
        if (::mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0) {
            return std::string("no overlay over /etc: ") + std::strerror(errno);
        }
        mounted_ = true;
        return "";
    }
    ~PrivateEtc() {
        if (mounted_) {
            ::umount2("/etc", MNT_DETACH);
        }
    }

private:
    TempDir layers_;
    bool mounted_ = false;
};

// As timedatectl does it: a new symlink to the zone moved over /etc/localtime.
void linkMachineZone(const std::string& zone) {
    std::filesystem::remove("/etc/localtime.qw-new");
    std::filesystem::create_symlink("/usr/share/zoneinfo/" + zone, "/etc/localtime.qw-new");
    std::filesystem::rename("/etc/localtime.qw-new", "/etc/localtime");
}

// As a machine that keeps a copy of its zone does it: a new file moved over /etc/localtime.
void copyMachineZone(const std::string& zone) {
    writeBytes("/etc/localtime.qw-new", readBytes("/usr/share/zoneinfo/" + zone));
    std::filesystem::rename("/etc/localtime.qw-new", "/etc/localtime");
}

// The time of day `hours` from now at UTC, as the administration dialog stores it.
std::string utcHoursFromNow(int hours) {
    const std::time_t t = std::time(nullptr) + hours * 3600;
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &utc);
    return text;
}

bool connectionLives() {
    return !loopback::killedWithinATick(ClosedPort);
}

std::string curfewOf(const ProgramFolder::ToolRun& status) {
    const size_t at = status.output.find("\"curfew\":\"");
    return at == std::string::npos ? status.output
                                   : status.output.substr(at + 10, status.output.find('"', at + 10) - at - 10);
}

class ProgramZoneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0) {
            return;
        }
        etc_ = std::make_unique<PrivateEtc>();
        etcProblem_ = etc_->enter();
    }
    static void TearDownTestSuite() { etc_.reset(); }

    void SetUp() override {
        if (qApp == nullptr) {
            GTEST_SKIP() << "no X display (run through xvfb-run)";
        }
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root for namespaces of its own";
        }
        if (!etcProblem_.empty()) {
            GTEST_SKIP() << etcProblem_;
        }
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        // Open from 9 to 13 hours ahead of UTC: closed at UTC, open at UTC+10 and UTC+11.
        folder_.writeSettings(utcHoursFromNow(9), utcHoursFromNow(13), false);
    }

    std::unique_ptr<Running> start(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> env = displayEnvironment();
        env.insert(env.end(), extra.begin(), extra.end());
        return folder_.start(env);
    }

    static inline std::unique_ptr<PrivateEtc> etc_;
    static inline std::string etcProblem_;
    ProgramFolder folder_;
};

// With the icon in the tray: the premise, the change of the zone and what follows from it. False when
// another program set the machine's clock meanwhile, which raises the same alarm.
bool trayRun(ProgramFolder& folder, const std::unique_ptr<Running>& program) {
    TimeChangeTimer others;
    EXPECT_EQ(others.open(), 0);
    EXPECT_TRUE(connectionLives()) << "UTC+11 is inside the window\n" << folder.log();
    EXPECT_EQ(messageBox(program->pid()), 0u);

    copyMachineZone("Etc/GMT-10"); // UTC+10: still inside the window
    WId box = 0;
    EXPECT_TRUE(waitUntil([&] { return (box = messageBox(program->pid())) != 0; })) << folder.log();
    EXPECT_TRUE(folder.stored().alarm);
    EXPECT_EQ(messageBoxText(box), Warning);
    xdotool({"key", "Return"});
    EXPECT_TRUE(waitUntil([&] { return messageBox(program->pid()) == 0; })) << "the warning did not close";
    EXPECT_FALSE(connectionLives()) << "the alarm closes the ports inside the window too";
    return !others.takeChange();
}

} // namespace

TEST_F(ProgramZoneTest, TheMachinesZoneDecidesNotTZAndAReplacedZoneIsFollowedWithTheIconOutOfTheTray) {
    linkMachineZone("Etc/UTC");
    const std::vector<std::string> tz = {"TZ=UTC-11"}; // now inside the window, were TZ taken
    auto program = start(tz);                          // no tray host: the icon never comes in
    EXPECT_TRUE(waitUntil([] { return !connectionLives(); }, 10000)) << "closed at UTC\n" << folder_.log();
    EXPECT_EQ(curfewOf(folder_.quietwirectl({"status", "--json"}, "", tz)), "outside-window");

    linkMachineZone("Etc/GMT-11"); // UTC+11
    EXPECT_TRUE(waitUntil(connectionLives, 10000)) << "the running copy kept the old zone\n" << folder_.log();
    EXPECT_EQ(curfewOf(folder_.quietwirectl({"status", "--json"}, "", {"TZ=UTC+5"})), "inside-window");

    EXPECT_EQ(messageBox(program->pid()), 0u) << "a warning with the icon out of the tray";
    EXPECT_FALSE(folder_.stored().alarm);
    EXPECT_FALSE(program->endsWithin(0ms)) << folder_.log();
    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(5s), 0) << folder_.log();
    EXPECT_FALSE(folder_.stored().alarm) << "the shutdown save raised the alarm";
}

TEST_F(ProgramZoneTest, WithTheIconInTheTrayAReplacedZoneStoresTheAlarmAndWarns) {
    bool undisturbed = false;
    for (int run = 0; run < 3 && !undisturbed && !HasFailure(); ++run) {
        copyMachineZone("Etc/GMT-11"); // UTC+11
        folder_.writeSettings(utcHoursFromNow(9), utcHoursFromNow(13), false);
        HelperProcess host = trayer();
        ASSERT_TRUE(host.start());
        auto program = start();
        XWindows windows;
        ASSERT_TRUE(
            waitUntil([&] { return windows.shownInside(program->pid(), host.process().processId()) != 0; }, 10000))
            << "the icon never came into the tray\n"
            << folder_.log();
        undisturbed = trayRun(folder_, program);
        program->signal(SIGTERM);
        EXPECT_EQ(program->endsWithin(5s), 0) << folder_.log();
    }
    EXPECT_TRUE(undisturbed) << "the machine's clock was set during every run";
    EXPECT_TRUE(folder_.stored().alarm) << "the shutdown save lost the alarm";
}
