// quietwire: the Linux backends (netlink, timerfd, systemd, Qt) wired to the program.
#include "core/frmMain.h"
#include "platform/HeadlessWindowing.h"
#include "platform/SystemPlatform.h"
#include "platform/linux/LinuxEnforcerProcess.h"
#include "platform/linux/OomScore.h"
#include "platform/qt/QtWindowing.h"

#include <QApplication>
#include <cstdlib>
#include <string_view>

int main(int argc, char** argv) {
    lowerOomScore();
    // The enforcer a copy on a display started: never on the display, and not a second copy of that one.
    const bool enforcerOnly = argc > 1 && std::string_view(argv[1]) == EnforcerArgument;
    if (enforcerOnly) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
    }
    // Without a display (a server, a service) the program enforces all the same, with nothing shown.
    const bool headless = enforcerOnly || !QtWindowing::DisplayReachable();
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false); // only the main window's unload ends the program
    // A copy without a display only enforces (or waits to): it is never a duplicate of one on a display, the
    // face of the enforcer the same user runs (root's, started from a terminal beside the service).
    auto qt = std::make_unique<QtWindowing>(QString(), headless ? "quietwire-enforcer.lock" : "quietwire.lock");
    const std::unique_ptr<Windowing> windowing =
        headless ? std::make_unique<HeadlessWindowing>(std::move(qt)) : std::unique_ptr<Windowing>(std::move(qt));
    const SystemPlatform system(*windowing);
    LinuxEnforcerProcess enforcer;
    if (!headless) { // a headless copy is the enforcer itself
        platform::install<EnforcerProcess>(&enforcer);
    }
    const int status = RunQuietwire();
    platform::install<EnforcerProcess>(nullptr);
    return status;
}
