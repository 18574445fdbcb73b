// One enforcer and its companions, as the users of a shared machine see them: the built Linux program
// as root without a display in a network namespace of the test's own (needs root), and two copies of it
// run by two other users on an X server of the test's own (Xvfb, started by the test command) with
// trayer as the tray host, driven with xdotool; quietwirectl run by those users beside them. The clock
// is set to its own current value, the only change of the clock a test may make on a shared machine.
#include "admin/AdminLayouts.h"
#include "platform/linux/Loopback.h"
#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramDisplay.h"
#include "program/ProgramFolder.h"
#include "support/SystemClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// An X application only where the test command started an X server.
const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

// Two users without rights of their own: nobody, and the first login's uid (with or without an account).
constexpr uid_t UserA = 65534;
constexpr uid_t UserB = 1000;
constexpr uint16_t ClosedPort = 2525; // closed in the settings the test starts with

class ProgramCompanionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qApp == nullptr) {
            GTEST_SKIP() << "no X display (run through xvfb-run)";
        }
        if (!maySetTheClock()) {
            GTEST_SKIP() << "needs root with CAP_SYS_TIME to set the clock";
        }
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        // Every user runs the program, and reads the password files, from this folder.
        fs::permissions(folder_.file(""), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                              fs::perms::others_read | fs::perms::others_exec);
        folder_.writeSettings(hoursFromNow(1), hoursFromNow(2), false); // outside the window: blocked
        writeBytes(folder_.file("right.txt"), "Secret\n");
        writeBytes(folder_.file("wrong.txt"), "secret\n");
        for (const uid_t user : {UserA, UserB}) {
            homeOf(user);
        }
    }

    // The user's own runtime directory (0700, theirs, as a login's is), which is also their home and
    // holds a copy of the display's Xauthority for them.
    std::string homeOf(uid_t user) const {
        const std::string home = folder_.file("home-" + std::to_string(user));
        if (fs::create_directory(home)) {
            if (const char* xauthority = std::getenv("XAUTHORITY")) {
                fs::copy_file(xauthority, home + "/Xauthority");
                EXPECT_EQ(::chown((home + "/Xauthority").c_str(), user, user), 0);
            }
            EXPECT_EQ(::chown(home.c_str(), user, user), 0);
            fs::permissions(home, fs::perms::owner_all);
        }
        return home;
    }

    static std::vector<std::string> as(uid_t user) {
        const std::string id = std::to_string(user);
        return {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"};
    }

    // A companion: the program run by the user on the test's display, away from the test's session bus
    // (another user's is not theirs to reach).
    std::unique_ptr<Running> companionOf(uid_t user) const {
        const std::string home = homeOf(user);
        std::vector<std::string> environment = displayEnvironment();
        environment.insert(environment.end(),
                           {"DBUS_SESSION_BUS_ADDRESS", "XAUTHORITY=" + home + "/Xauthority", "XDG_RUNTIME_DIR=" + home,
                            "HOME=" + home, "USER=" + std::to_string(user)});
        return folder_.start(environment, as(user));
    }

    // quietwirectl run by the user with the arguments, its output kept in its own log.
    std::unique_ptr<Running> quietwirectlAs(uid_t user, std::vector<std::string> arguments, const std::string& log) {
        std::vector<std::string> command = as(user);
        command.push_back(folder_.file("quietwirectl"));
        command.insert(command.end(), arguments.begin(), arguments.end());
        return std::make_unique<Running>(
            std::move(command), std::vector<std::string>{"PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + homeOf(user)},
            folder_.file(log));
    }

    // The key the program's icon shows in the tray, or nothing while it shows none.
    std::optional<ProgramIcon> keyOf(const Running& program) {
        const xcb_window_t icon = windows_.shownInside(program.pid(), host_.process().processId());
        return icon != 0 ? windows_.keyShown(icon) : std::nullopt;
    }
    bool shows(const Running& program, ProgramIcon key) {
        return waitUntil([&] { return keyOf(program) == key; }, 10000);
    }

    // The program's message box once it is shown: what it says, and closed with Return.
    std::string answerBox(const Running& program) {
        WId box = 0;
        if (!waitUntil([&] { return (box = messageBox(program.pid())) != 0; }, 10000)) {
            return "(no message box)";
        }
        const std::string text = messageBoxText(box);
        xdotool({"key", "Return"});
        EXPECT_TRUE(waitUntil([&] { return programWindow(program.pid(), "QWADMIN") != box; }))
            << "the box did not close";
        return text;
    }

    // The program's window with the title once it is shown, or 0.
    WId shown(const Running& program, const QString& title) {
        WId window = 0;
        waitUntil([&] { return (window = programWindow(program.pid(), title)) != 0; });
        return window;
    }

    void typeInto(WId window, const FormLayout& layout, const std::string& box, int index, const std::string& text) {
        windows_.clickControl(window, layout, box, index);
        xdotool({"key", "ctrl+a"});
        xdotool({"type", QString::fromStdString(text)});
    }

    // The user's copy administers from its tray menu: the window it types, OK.
    void administer(const Running& program, const std::string& start, const std::string& end) {
        const xcb_window_t icon = windows_.shownInside(program.pid(), host_.process().processId());
        const QSize iconSize = windows_.size(icon);
        clickAt(icon, iconSize.width() / 2, iconSize.height() / 2, 3);
        xcb_window_t menu = 0;
        ASSERT_TRUE(waitUntil([&] { return (menu = windows_.popup(program.pid())) != 0; })) << "no menu";
        clickAt(menu, windows_.size(menu).width() / 2, 10); // its first item, "Administration..."
        ASSERT_NE(shown(program, "Vesk Quietwire"), 0u) << "no password prompt\n" << folder_.log();
        xdotool({"type", "Secret"});
        xdotool({"key", "Return"});
        const WId dialog = shown(program, "Vesk Quietwire - Administration");
        ASSERT_NE(dialog, 0u) << "the password did not open the administration\n" << folder_.log();
        const FormLayout layout = frmAdminLayout();
        typeInto(dialog, layout, "Text1", 0, start);
        typeInto(dialog, layout, "Text1", 1, end);
        windows_.clickControl(dialog, layout, "Command4"); // OK
        EXPECT_TRUE(waitUntil([&] { return programWindow(program.pid(), "Vesk Quietwire - Administration") == 0; }))
            << "the dialog stayed open\n"
            << folder_.log();
    }

    ProgramFolder folder_;
    HelperProcess host_ = trayer();
    XWindows windows_;
};

// Voluntary sleeps of a process so far: quietwirectl sleeps between its looks at the channel.
long sleepsOf(pid_t process) {
    const std::string status = readBytes("/proc/" + std::to_string(process) + "/status");
    const size_t at = status.find("voluntary_ctxt_switches:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 24);
}

} // namespace

TEST_F(ProgramCompanionTest, TwoUsersCompanionsShowAndAdministerTheRootEnforcerAndSayWhenItIsGone) {
    ASSERT_TRUE(host_.start());
    auto enforcer = folder_.start(); // no display: nothing shown
    ASSERT_TRUE(waitUntil([&] { return fs::exists(folder_.file("control.sock")); }, 10000)) << "no channel\n"
                                                                                            << folder_.log();
    // One user's session, then another's.
    auto companionA = companionOf(UserA);
    EXPECT_TRUE(shows(*companionA, ProgramIcon::Blocked)) << "outside the window\n" << folder_.log();
    auto companionB = companionOf(UserB);
    EXPECT_TRUE(shows(*companionB, ProgramIcon::Blocked)) << "outside the window\n" << folder_.log();
    EXPECT_FALSE(screenshot("linux-companions-blocked").empty());

    // One user administers at their icon; the enforcer saves, and the other's icon follows.
    const std::string start = hoursFromNow(-1);
    const std::string end = hoursFromNow(1);
    administer(*companionA, start, end);
    EXPECT_EQ(folder_.stored().start, start);
    EXPECT_EQ(folder_.stored().end, end);
    EXPECT_TRUE(shows(*companionB, ProgramIcon::Open)) << "inside the window\n" << folder_.log();
    EXPECT_TRUE(shows(*companionA, ProgramIcon::Open)) << "inside the window\n" << folder_.log();

    // A wrong password holds that user's requests in every process, and nobody else's.
    const UniqueFd listener = loopback::listenOn(AF_INET, "127.0.0.1", ClosedPort);
    loopback::Connection connection = loopback::connect(listener.get(), AF_INET, "127.0.0.1", ClosedPort);
    ASSERT_TRUE(loopback::talks(connection)) << "inside the window the port is open";
    const std::string laterStart = hoursFromNow(1);
    const std::string laterEnd = hoursFromNow(2);
    const std::vector<std::string> setWindow = {"set-window", laterStart, laterEnd,
                                                "--password-file=" + folder_.file("right.txt")};
    std::map<std::string, std::unique_ptr<Running>> tools;
    tools["A wrong"] = quietwirectlAs(UserA, {"show", "--password-file=" + folder_.file("wrong.txt")}, "a-wrong.txt");
    // Its greeting answered at once, it waits for the answer to its password.
    ASSERT_TRUE(
        waitUntil([&] { return sleepsOf(tools["A wrong"]->pid()) >= 10 || tools["A wrong"]->endsWithin(0ms); }));
    tools["A right"] = quietwirectlAs(UserA, setWindow, "a-right.txt");
    tools["B right"] = quietwirectlAs(UserB, setWindow, "b-right.txt");
    std::vector<std::string> ended;
    waitUntil(
        [&] {
            for (auto& [name, tool] : tools) {
                if (std::find(ended.begin(), ended.end(), name) == ended.end() && tool->endsWithin(0ms)) {
                    ended.push_back(name);
                }
            }
            return ended.size() == tools.size();
        },
        20000);
    EXPECT_EQ(ended, (std::vector<std::string>{"B right", "A wrong", "A right"}))
        << readBytes(folder_.file("a-wrong.txt")) << readBytes(folder_.file("a-right.txt"))
        << readBytes(folder_.file("b-right.txt"));
    EXPECT_NE(tools["A wrong"]->endsWithin(0ms), 0);
    EXPECT_EQ(tools["A right"]->endsWithin(0ms), 0);
    EXPECT_EQ(tools["B right"]->endsWithin(0ms), 0);

    // The window B's quietwirectl set is in force: the connection on the closed port dies.
    EXPECT_TRUE(loopback::sawReset(connection.client.get()) || loopback::sawReset(connection.client.get()))
        << folder_.log();
    EXPECT_EQ(folder_.stored().start, laterStart);
    EXPECT_EQ(folder_.stored().end, laterEnd);
    EXPECT_TRUE(shows(*companionA, ProgramIcon::Blocked)) << folder_.log();
    EXPECT_TRUE(shows(*companionB, ProgramIcon::Blocked)) << folder_.log();

    // A clock set seen by the companions: the enforcer raises and stores the alarm, and both warn.
    const int error = setClockToItself();
    ASSERT_EQ(error, 0) << std::strerror(error);
    // Both shown before either is answered: a box shown later would take the keys typed into the other.
    EXPECT_TRUE(
        waitUntil([&] { return messageBox(companionA->pid()) != 0 && messageBox(companionB->pid()) != 0; }, 10000));
    EXPECT_EQ(answerBox(*companionA).rfind("WARNING\nThe system clock has changed", 0), 0u) << folder_.log();
    EXPECT_EQ(answerBox(*companionB).rfind("WARNING\nThe system clock has changed", 0), 0u) << folder_.log();
    EXPECT_TRUE(folder_.stored().alarm);
    EXPECT_FALSE(
        waitUntil([&] { return messageBox(companionA->pid()) != 0 || messageBox(companionB->pid()) != 0; }, 2000))
        << "one change of the clock, warned of twice";

    // A companion killed: the enforcer goes on closing connections on closed ports.
    companionA->signal(SIGKILL);
    EXPECT_TRUE(companionA->endsWithin(5s));
    const loopback::Connection after = loopback::connect(listener.get(), AF_INET, "127.0.0.1", ClosedPort);
    EXPECT_TRUE(loopback::sawReset(after.client.get()) || loopback::sawReset(after.client.get())) << folder_.log();
    EXPECT_FALSE(enforcer->endsWithin(0ms)) << folder_.log();
    EXPECT_TRUE(shows(*companionB, ProgramIcon::Blocked)) << folder_.log();

    // The enforcer stopped: the companion left says the curfew is not enforced, and shows it open.
    enforcer->signal(SIGTERM);
    EXPECT_EQ(enforcer->endsWithin(5s), 0) << folder_.log();
    EXPECT_EQ(answerBox(*companionB).rfind("The curfew is not enforced: ", 0), 0u) << folder_.log();
    EXPECT_TRUE(shows(*companionB, ProgramIcon::Open)) << folder_.log();
    EXPECT_FALSE(screenshot("linux-companion-not-enforced").empty());
    companionB->signal(SIGTERM);
    EXPECT_EQ(companionB->endsWithin(5s), 0) << folder_.log();
}
