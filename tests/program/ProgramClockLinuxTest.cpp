// The built Linux program's answer to a change of the system clock, watched from outside as a user
// sees it: an X server of its own (Xvfb, started by the test command) with trayer as the tray host,
// the program's windows found and driven with xdotool. The clock is set to its own current value, the
// only change of the clock a test may make on a shared machine (needs root).
#include "platform/linux/Loopback.h"
#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramFolder.h"
#include "support/SystemClock.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <linux/capability.h>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;

// An X application only where the test command started an X server.
const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

const std::string Warning = "WARNING\nThe system clock has changed, network has been disabled, please contact the "
                            "Administrator to re-enable it.";

bool maySetTheClock() {
    const std::string status = readBytes("/proc/self/status");
    const size_t at = status.find("CapEff:");
    return at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) >> CAP_SYS_TIME & 1) != 0;
}

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start("xdotool", arguments);
    process.waitForFinished();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// The program's shown "QWADMIN" message box, or 0.
WId messageBox(pid_t program) {
    const QString found =
        xdotool({"search", "--all", "--onlyvisible", "--pid", QString::number(program), "--name", "^QWADMIN$"});
    return found.section('\n', 0, 0).toULongLong();
}

// What the box says, as a user copies it: a click into its text (the box's label spans its middle,
// right of the icon, from the top margin down), select all, copy.
std::string messageBoxText(WId box) {
    QGuiApplication::clipboard()->clear();
    const QStringList geometry = xdotool({"getwindowgeometry", "--shell", QString::number(box)}).split('\n');
    const int width = geometry.filter("WIDTH=").value(0).section('=', 1).toInt();
    xdotool({"mousemove", "--window", QString::number(box), QString::number(width / 2), "20", "click", "1"});
    xdotool({"key", "ctrl+a", "ctrl+c"});
    QString text;
    waitUntil([&] {
        text = QGuiApplication::clipboard()->text();
        return !text.isEmpty();
    });
    return text.remove('\r').toStdString();
}

class XWindows {
public:
    XWindows()
        : connection_(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection()),
          pidAtom_(atom("_NET_WM_PID")) {}

    // Whether a window of `program` is shown inside a window of `host`: the tray host has embedded
    // the icon and shows it.
    bool shownInside(pid_t program, qint64 host) { return shownBelow(screenRoot(), program, host, false); }

private:
    xcb_window_t screenRoot() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

    xcb_atom_t atom(const char* name) const {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(reply);
        return found;
    }

    // The process that made the window (_NET_WM_PID), or 0.
    qint64 owner(xcb_window_t window) const {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        const qint64 pid = reply != nullptr && xcb_get_property_value_length(reply) == 4
                               ? *static_cast<const uint32_t*>(xcb_get_property_value(reply))
                               : 0;
        free(reply);
        return pid;
    }

    bool viewable(xcb_window_t window) const {
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool shown = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        return shown;
    }

    bool shownBelow(xcb_window_t parent, pid_t program, qint64 host, bool insideHost) const {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, parent), nullptr);
        if (tree == nullptr) {
            return false;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        bool found = false;
        for (int i = 0; i < count && !found; ++i) {
            const qint64 pid = owner(children[i]);
            const bool inside = insideHost || pid == host;
            found =
                (inside && pid == program && viewable(children[i])) || shownBelow(children[i], program, host, inside);
        }
        free(tree);
        return found;
    }

    xcb_connection_t* connection_;
    xcb_atom_t pidAtom_;
};

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
    std::unique_ptr<Running> start() const {
        std::vector<std::string> session;
        for (const char* name : {"DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS"}) {
            if (const char* value = std::getenv(name)) {
                session.push_back(std::string(name) + "=" + value);
            }
        }
        return folder_.start(session);
    }

    ProgramFolder folder_;
};

} // namespace

TEST_F(ProgramClockTest, WithTheIconInTheTrayAClockSetStoresTheAlarmAndWarns) {
    HelperProcess host = trayer();
    ASSERT_TRUE(host.start());
    auto program = start();
    XWindows windows;
    ASSERT_TRUE(waitUntil([&] { return windows.shownInside(program->pid(), host.process().processId()); }, 10000))
        << "the icon never came into the tray\n"
        << folder_.log();

    const int error = setClockToItself();
    ASSERT_EQ(error, 0) << std::strerror(error);
    WId box = 0;
    ASSERT_TRUE(waitUntil([&] { return (box = messageBox(program->pid())) != 0; })) << folder_.log();
    EXPECT_TRUE(folder_.storedAlarm()) << "the alarm waits for the warning to close";
    EXPECT_EQ(messageBoxText(box), Warning);

    xdotool({"key", "Return"});
    EXPECT_TRUE(waitUntil([&] { return messageBox(program->pid()) == 0; })) << "the warning did not close";
    EXPECT_FALSE(program->endsWithin(500ms)) << "the program ended with its warning\n" << folder_.log();
    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(5s), 0) << folder_.log();
    EXPECT_TRUE(folder_.storedAlarm()) << "the shutdown save lost the alarm";
}

TEST_F(ProgramClockTest, BeforeTheIconIsInTheTrayAClockSetRaisesNothing) {
    auto program = start(); // no tray host: the icon never comes in
    ASSERT_TRUE(waitUntil([&] { return watchesTheClock(program->pid()); })) << folder_.log();

    const int error = setClockToItself();
    ASSERT_EQ(error, 0) << std::strerror(error);
    EXPECT_FALSE(waitUntil([&] { return messageBox(program->pid()) != 0; }, 2000)) << "a warning was shown";
    EXPECT_FALSE(folder_.storedAlarm());
    EXPECT_FALSE(program->endsWithin(0ms)) << folder_.log();
    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(5s), 0) << folder_.log();
    EXPECT_FALSE(folder_.storedAlarm()) << "the shutdown save raised the alarm";
}
