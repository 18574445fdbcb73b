#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayTestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QWidget>
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

#include <memory>

// The Qt tray for real: an X server (Xvfb, started by the test command) with Debian's trayer as the
// tray host, clicked with xdotool.
namespace {

// An X application only where the test command started an X server.
const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

// The native window of the program's tray icon (Qt's QSystemTrayIconSys), 0 while there is none.
WId trayIconWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (QString(w->metaObject()->className()) == "QSystemTrayIconSys" && w->isVisible()) {
            return w->winId();
        }
    }
    return 0;
}

// The texts of the labels of Qt's own balloon while one shows (title first), else nothing.
QStringList balloonTexts() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (QString(w->metaObject()->className()) == "QBalloonTip" && w->isVisible()) {
            QStringList texts;
            for (const QLabel* label : w->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) {
                    texts << label->text();
                }
            }
            return texts;
        }
    }
    return {};
}

// Whether the X server shows the window, as it does an icon embedded in the tray.
bool viewable(WId window) {
    xcb_connection_t* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, static_cast<xcb_window_t>(window)), nullptr);
    const bool shown = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    free(attributes);
    return shown;
}

class QtTray : public QtTrayFixture {
protected:
    bool trayerTakesTheTray() {
        return host_.start() && waitUntil([&] { return shell().TaskbarWindow() != 0; });
    }

    // Puts the icon into the tray and returns its window once trayer has embedded it for good (Qt
    // makes the window anew as the tray takes it).
    WId showIcon() {
        tray_->InTray(true);
        QSystemTrayIcon* icon = shell().Icon(1, 0);
        if (icon == nullptr || !waitUntil([&] { return icon->isVisible() && !icon->geometry().isEmpty(); })) {
            return 0;
        }
        WId window = 0;
        int unchanged = 0;
        const bool settled = waitUntil([&] {
            const WId now = trayIconWindow();
            unchanged = (now != 0 && now == window) ? unchanged + 1 : 0;
            window = now;
            QThread::msleep(20);
            return unchanged >= 10;
        });
        return settled ? window : 0;
    }

    // xdotool clicks the middle of the icon's window with the given button (3 is the right one).
    void click(WId window, int button) {
        const QSize size = shell().Icon(1, 0)->geometry().size();
        QProcess xdotool;
        xdotool.start("xdotool", {"mousemove", "--window", QString::number(window), QString::number(size.width() / 2),
                                  QString::number(size.height() / 2), "click", QString::number(button)});
        waitUntil([&] { return xdotool.state() == QProcess::NotRunning; });
    }

    HelperProcess host_ = trayer();
};

} // namespace

TEST_F(QtTray, ARightClickOnTheIconReachesTheComponentAndTheTrayHostIsTracked) {
    EXPECT_EQ(&systemTrayShell(), &shell()) << "one tray shell for the program";
    EXPECT_EQ(shell().TaskbarWindow(), 0u) << "no tray host yet";
    ASSERT_TRUE(trayerTakesTheTray()) << "trayer did not become the tray";
    const uintptr_t firstHost = shell().TaskbarWindow();

    const WId icon = showIcon();
    ASSERT_NE(icon, 0u) << "the icon never showed";
    EXPECT_EQ(shell().Icon(1, 0)->toolTip(), "Vesk Quietwire");
    click(icon, 3);
    EXPECT_TRUE(waitUntil([&] { return events_.saw("MouseUp 2 0"); })) << "the right click did not arrive";
    ASSERT_FALSE(events_.events.empty());
    EXPECT_EQ(events_.events.front(), "MouseDown 2 0");

    tray_->InTray(false);
    EXPECT_EQ(shell().Icon(1, 0), nullptr);
    host_.stop();
    EXPECT_TRUE(waitUntil([&] { return shell().TaskbarWindow() == 0; })) << "without the tray host TrayHWND is 0";
    ASSERT_TRUE(trayerTakesTheTray());
    EXPECT_NE(shell().TaskbarWindow(), firstHost) << "a new tray host gives a new value";
}

// The tray menu's Exit takes the icon out from inside the click that opened the menu.
TEST_F(QtTray, AClickWhoseHandlerTakesTheIconOutLeavesTheTrayAndTheIconCanComeBack) {
    ASSERT_TRUE(trayerTakesTheTray());
    const WId first = showIcon();
    ASSERT_NE(first, 0u);
    events_.onMouseDown = [&](int16_t) { tray_->InTray(false); };
    click(first, 3);
    ASSERT_TRUE(waitUntil([&] { return events_.saw("MouseDown 2 0"); }));
    EXPECT_EQ(shell().Icon(1, 0), nullptr);
    EXPECT_TRUE(waitUntil([&] { return !viewable(first); })) << "the icon stayed in the tray";

    events_.onMouseDown = nullptr;
    events_.events.clear();
    const WId second = showIcon();
    ASSERT_NE(second, 0u) << "the icon did not come back";
    click(second, 3);
    EXPECT_TRUE(waitUntil([&] { return events_.saw("MouseUp 2 0"); })) << "the new icon does not answer";
}

// With no notification service on the session bus, Qt shows the warning in a balloon of its own.
TEST_F(QtTray, AWarningShowsInABalloonAtTheIconAndNotWithoutTheIcon) {
    ASSERT_TRUE(trayerTakesTheTray());
    const std::string warning = "Closed ports close at 22:00 (in 5 minutes)";
    EXPECT_FALSE(shell().ShowNotification(1, 0, "Vesk Quietwire", warning)) << "no icon yet";
    ASSERT_NE(showIcon(), 0u);

    EXPECT_TRUE(shell().ShowNotification(1, 0, "Vesk Quietwire", warning));
    EXPECT_FALSE(shell().ShowNotification(1, 7, "Vesk Quietwire", warning)) << "another icon of the window";
    QStringList shown;
    EXPECT_TRUE(waitUntil([&] { return !(shown = balloonTexts()).isEmpty(); })) << "no balloon showed";
    EXPECT_EQ(shown, (QStringList{"Vesk Quietwire", QString::fromStdString(warning)}));

    tray_->InTray(false);
    EXPECT_FALSE(shell().ShowNotification(1, 0, "Vesk Quietwire", warning)) << "the icon has left the tray";
}
