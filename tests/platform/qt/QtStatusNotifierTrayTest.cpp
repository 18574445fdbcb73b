#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayTestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

// The Qt tray where the desktop shows icons through the StatusNotifierItem D-Bus protocol (KDE Plasma,
// GNOME with AppIndicator, Wayland): the test's own StatusNotifierWatcher on a private session bus
// (the test command runs dbus-run-session) and an X server with no XEmbed tray. Qt chooses D-Bus once
// per program, at its first look for a tray, so each test has the watcher up before that.
namespace {

const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

class StatusNotifierTray : public QtTrayFixture {
protected:
    void SetUp() override {
        if (qApp == nullptr || !QDBusConnection::sessionBus().isConnected()) {
            GTEST_SKIP() << "no X display or no session bus (run through dbus-run-session and xvfb-run)";
        }
        ASSERT_TRUE(startWatcher());
        QtTrayFixture::SetUp();
    }

    bool startWatcher() {
        output_.clear();
        return watcher_.start() && waitUntil([&] { return watcherSaid("ready"); });
    }

    // Whether the watcher has written the line (or a line that begins with it) since it started.
    bool watcherSaid(const QString& line) {
        output_ += QString::fromUtf8(watcher_.process().readAllStandardOutput());
        const QStringList lines = output_.split('\n');
        return std::any_of(lines.begin(), lines.end(), [&](const QString& said) { return said.startsWith(line); });
    }

    HelperProcess watcher_{QW_STATUS_NOTIFIER_WATCHER, {}};
    QString output_;
};

} // namespace

TEST_F(StatusNotifierTray, WithAWatcherAndNoXEmbedTrayThereIsATaskbarAndTheIconRegistersWithIt) {
    EXPECT_NE(shell().TaskbarWindow(), 0u);
    tray_->InTray(true);
    EXPECT_TRUE(waitUntil([&] { return watcherSaid("item "); })) << "Qt did not show the icon through the watcher";
}

TEST_F(StatusNotifierTray, AWatcherThatComesAgainOrIsReplacedGivesANewTaskbarAndNoneGivesZero) {
    const uintptr_t first = shell().TaskbarWindow();
    ASSERT_NE(first, 0u);

    output_.clear();
    watcher_.process().write("again\n");
    ASSERT_TRUE(waitUntil([&] { return watcherSaid("ready"); }));
    uintptr_t again = 0;
    EXPECT_TRUE(waitUntil([&] { return (again = shell().TaskbarWindow()) != first; }))
        << "a watcher that took its name again went unseen";
    EXPECT_NE(again, 0u);

    watcher_.stop();
    EXPECT_TRUE(waitUntil([&] { return shell().TaskbarWindow() == 0; })) << "without a watcher TrayHWND is 0";
    ASSERT_TRUE(startWatcher());
    uintptr_t replaced = 0;
    EXPECT_TRUE(waitUntil([&] { return (replaced = shell().TaskbarWindow()) != 0; }));
    EXPECT_NE(replaced, again) << "a new watcher gives a new value";
    EXPECT_NE(replaced, first);

    tray_->InTray(true); // as the taskbar watch does when the value changes
    EXPECT_TRUE(waitUntil([&] { return watcherSaid("item "); })) << "the new watcher never saw the icon";
}
