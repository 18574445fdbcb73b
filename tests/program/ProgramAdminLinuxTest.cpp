// The administrator at the built Linux program's tray icon, as a user works it: an X server of its
// own (Xvfb, started by the test command) with trayer as the tray host, the menu, the password prompt
// and the administration dialog clicked and typed into with xdotool, and photographed for a person to
// look at. The program runs in a network namespace of the test's own (needs root), where the test
// holds a connection on the port the administrator closes.
#include "admin/AdminLayouts.h"
#include "platform/linux/Loopback.h"
#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramDisplay.h"
#include "program/ProgramFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>

namespace {

using namespace std::chrono_literals;

// An X application only where the test command started an X server.
const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

constexpr uint16_t NewPort = 2626;

class ProgramAdminTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qApp == nullptr) {
            GTEST_SKIP() << "no X display (run through xvfb-run)";
        }
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        folder_.writeSettings(hoursFromNow(-1), hoursFromNow(1), false);
    }

    // The program's window with the title once it is shown, or 0.
    WId shown(const QString& title) {
        WId window = 0;
        waitUntil([&] { return (window = programWindow(program_->pid(), title)) != 0; });
        return window;
    }

    void typeInto(WId window, const FormLayout& layout, const std::string& box, int index, const std::string& text) {
        windows_.clickControl(window, layout, box, index);
        xdotool({"key", "ctrl+a"});
        xdotool({"type", QString::fromStdString(text)});
    }

    ProgramFolder folder_;
    std::unique_ptr<Running> program_;
    XWindows windows_;
};

} // namespace

TEST_F(ProgramAdminTest, TheAdministratorClosesAPortFromTheTrayMenuAndItsConnectionDiesAtTheNextTick) {
    HelperProcess host = trayer();
    ASSERT_TRUE(host.start());
    program_ = folder_.start(displayEnvironment());
    xcb_window_t icon = 0;
    ASSERT_TRUE(waitUntil(
        [&] { return (icon = windows_.shownInside(program_->pid(), host.process().processId())) != 0; }, 10000))
        << "the icon never came into the tray\n"
        << folder_.log();
    const UniqueFd listener = loopback::listenOn(AF_INET, "127.0.0.1", NewPort);
    loopback::Connection connection = loopback::connect(listener.get(), AF_INET, "127.0.0.1", NewPort);

    const QSize iconSize = windows_.size(icon);
    clickAt(icon, iconSize.width() / 2, iconSize.height() / 2, 3);
    xcb_window_t menu = 0;
    ASSERT_TRUE(waitUntil([&] { return (menu = windows_.popup(program_->pid())) != 0; })) << "no menu";
    EXPECT_FALSE(screenshot("linux-tray-menu").empty()) << "no picture of the menu";
    clickAt(menu, windows_.size(menu).width() / 2, 10); // its first item, "Administration..."

    const WId prompt = shown("Vesk Quietwire");
    ASSERT_NE(prompt, 0u) << "no password prompt\n" << folder_.log();
    EXPECT_FALSE(screenshot("linux-password-prompt").empty()) << "no picture of the prompt";
    xdotool({"type", "Secret"});
    xdotool({"key", "Return"});

    const WId dialog = shown("Vesk Quietwire - Administration");
    ASSERT_NE(dialog, 0u) << "the password did not open the administration\n" << folder_.log();
    EXPECT_FALSE(screenshot("linux-administration").empty()) << "no picture of the dialog";
    const FormLayout layout = frmAdminLayout();
    windows_.clickControl(dialog, layout, "Command2"); // Add
    const WId input = shown("Enter port to exclude:");
    ASSERT_NE(input, 0u) << "no input prompt";
    xdotool({"type", QString::number(NewPort)});
    xdotool({"key", "Return"});
    ASSERT_TRUE(waitUntil([&] { return programWindow(program_->pid(), "Enter port to exclude:") == 0; }));
    const std::string start = hoursFromNow(1);
    const std::string end = hoursFromNow(2);
    typeInto(dialog, layout, "Text1", 0, start);
    typeInto(dialog, layout, "Text1", 1, end);
    EXPECT_TRUE(loopback::talks(connection)) << "the port was closed before OK";
    windows_.clickControl(dialog, layout, "Command4"); // OK

    EXPECT_TRUE(waitUntil([&] { return programWindow(program_->pid(), "Vesk Quietwire - Administration") == 0; }))
        << "the dialog stayed open";
    EXPECT_TRUE(loopback::sawReset(connection.client.get()) || loopback::sawReset(connection.client.get()))
        << "the connection on the newly closed port lives\n"
        << folder_.log();
    const StoredSettings stored = folder_.stored();
    EXPECT_EQ(stored.ports, (std::vector<std::string>{"2525, TEST", "2626"}));
    EXPECT_EQ(stored.start, start);
    EXPECT_EQ(stored.end, end);

    program_->signal(SIGTERM);
    EXPECT_EQ(program_->endsWithin(5s), 0) << folder_.log();
}
