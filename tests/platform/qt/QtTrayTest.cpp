#include "fakes/FakeWindowing.h"
#include "platform/Platform.h"
#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayShell.h"
#include "tray/VeskTray.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

// The Qt tray for real: an X server (Xvfb, started by the test command) with Debian's trayer as the
// tray host, clicked with xdotool.
namespace {

// An X application only where the test command started an X server.
const auto* const environment = qEnvironmentVariableIsEmpty("DISPLAY")
                                    ? nullptr
                                    : ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("xcb"));

bool waitUntil(const std::function<bool()>& done, int millis = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > millis) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

class TrayHost {
public:
    ~TrayHost() { stop(); }
    void start() {
        process_.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                                  "--transparent", "false", "--expand", "true"});
        process_.waitForStarted();
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

private:
    QProcess process_;
};

// The native window of the program's tray icon (Qt's QSystemTrayIconSys), 0 while there is none.
WId trayIconWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (QString(w->metaObject()->className()) == "QSystemTrayIconSys" && w->isVisible()) {
            return w->winId();
        }
    }
    return 0;
}

class RecordingHost : public VeskTrayHost {
public:
    std::vector<std::string> events;
    bool UserMode() const override { return true; }
    void MouseDown(int16_t Button, int32_t Id) override {
        events.push_back("MouseDown " + std::to_string(Button) + " " + std::to_string(Id));
    }
    void MouseUp(int16_t Button, int32_t Id) override {
        events.push_back("MouseUp " + std::to_string(Button) + " " + std::to_string(Id));
    }
};

} // namespace

TEST(QtTray, ARightClickOnTheIconReachesTheComponentAndTheTrayHostIsTracked) {
    if (qApp == nullptr) {
        GTEST_SKIP() << "no X display (run through xvfb-run)";
    }
    QtTrayShell shell;
    FakeWindowing windowing;
    platform::ScopedInstall<TrayShell> useShell(shell);
    platform::ScopedInstall<Windowing> useWindowing(windowing);
    EXPECT_EQ(shell.TaskbarWindow(), 0u) << "no tray host yet";

    TrayHost host;
    host.start();
    ASSERT_TRUE(waitUntil([&] { return shell.TaskbarWindow() != 0; })) << "trayer did not become the tray";
    const uintptr_t firstHost = shell.TaskbarWindow();

    QPixmap yellow(16, 16);
    yellow.fill(Qt::yellow);
    RecordingHost events;
    VeskTray tray(
        1, events,
        std::make_shared<const Picture>(Picture{PictureType::Icon, QtTrayShell::RegisterIcon(QIcon(yellow))}));
    tray.InitProperties();
    tray.TrayTip("Vesk Quietwire");
    tray.InTray(true);
    QSystemTrayIcon* icon = shell.Icon(1, 0);
    ASSERT_NE(icon, nullptr);
    ASSERT_TRUE(waitUntil([&] { return icon->isVisible() && !icon->geometry().isEmpty(); })) << "the icon never showed";
    EXPECT_EQ(icon->toolTip(), "Vesk Quietwire");

    // The icon's own window, which trayer embeds; Qt makes it anew as the tray takes it, so the test
    // waits until it has stayed the same for a while, then xdotool clicks it in its middle.
    WId iconWindow = 0;
    int unchanged = 0;
    ASSERT_TRUE(waitUntil([&] {
        const WId now = trayIconWindow();
        unchanged = (now != 0 && now == iconWindow) ? unchanged + 1 : 0;
        iconWindow = now;
        QThread::msleep(20);
        return unchanged >= 10;
    })) << "the icon's window never settled";
    const QSize size = icon->geometry().size();
    QProcess click;
    click.start("xdotool", {"mousemove", "--window", QString::number(iconWindow), QString::number(size.width() / 2),
                            QString::number(size.height() / 2), "click", "3"});
    EXPECT_TRUE(waitUntil([&] {
        return std::find(events.events.begin(), events.events.end(), "MouseUp 2 0") != events.events.end();
    })) << "the right click did not arrive";
    click.waitForFinished();
    ASSERT_FALSE(events.events.empty());
    EXPECT_EQ(events.events.front(), "MouseDown 2 0");

    tray.InTray(false);
    EXPECT_EQ(shell.Icon(1, 0), nullptr);
    host.stop();
    EXPECT_TRUE(waitUntil([&] { return shell.TaskbarWindow() == 0; })) << "without the tray host TrayHWND is 0";
    host.start();
    ASSERT_TRUE(waitUntil([&] { return shell.TaskbarWindow() != 0; }));
    EXPECT_NE(shell.TaskbarWindow(), firstHost) << "a new tray host gives a new value";
}
