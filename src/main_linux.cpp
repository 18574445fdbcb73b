// quietwire: the Linux backends (netlink, timerfd, systemd, Qt) wired to the program.
#include "core/frmMain.h"
#include "platform/ControlChannel.h"
#include "platform/SystemPlatform.h"
#include "platform/linux/OomScore.h"
#include "platform/qt/QtWindowing.h"

#include <QApplication>

int main(int argc, char** argv) {
    lowerOomScore();
    // Without a display (a server, a service) the program enforces all the same, with nothing shown.
    const bool headless = !QtWindowing::DisplayReachable();
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false); // only the main window's unload ends the program
    const std::unique_ptr<Windowing> windowing = makeSystemWindowing(headless);
    const SystemPlatform system(*windowing);
    const platform::ScopedInstall<ControlServer> server(systemControlServer());
    const platform::ScopedInstall<ControlClient> client(systemControlClient());
    return RunQuietwire();
}
