#pragma once

#include "core/frmMain.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeClockWatch.h"
#include "fakes/FakeGuessLock.h"
#include "fakes/FakePacketFilter.h"
#include "fakes/FakeProgramIcons.h"
#include "fakes/FakeProgramInfo.h"
#include "fakes/FakeServiceControl.h"
#include "fakes/FakeSockets.h"
#include "fakes/FakeSystemLog.h"
#include "fakes/FakeTcpTable.h"
#include "fakes/FakeTrayShell.h"
#include "fakes/FakeWindowing.h"
#include "settings/SettingsFixture.h"

#include <memory>
#include <string>

constexpr uintptr_t Taskbar = 0x7A5C;

// The main window with every facility of the system faked, and settings.ini in a directory of its own.
class MainWindowTest : public SettingsTest {
protected:
    MainWindowTest() {
        clock_.set(12, 0, 0);
        table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    }

    // settings.ini as an administrator left it: the window and the closed ports.
    void storeSettings(const std::string& start, const std::string& end, bool alarm = false) {
        writeRaw("SETUP", "START", start);
        writeRaw("SETUP", "END", end);
        writeRaw("SETUP", "ALARM", alarm ? "True" : "False");
        writeRaw("PORTS", "OP_00", "25, SMTP");
    }

    frmMain& load() {
        main_ = std::make_unique<frmMain>();
        main_->Form_Load();
        return *main_;
    }
    FakeForm& form() { return windowing_.form("frmMain"); }
    bool tick(const std::string& timer) { return form().tick(timer); }
    // The first tray watch tick, with a taskbar: the icon goes into the tray.
    void putIconInTray() {
        shell_.taskbar = Taskbar;
        ASSERT_TRUE(tick("Timer2"));
        ASSERT_TRUE(main_->VeskTray1().InTray());
    }
    uintptr_t trayPicture() const { return main_->VeskTray1().TrayIcon()->handle; }

    FakeWindowing windowing_;
    FakeTrayShell shell_;
    FakeClockWatch clockWatch_;
    FakeServiceControl service_;
    FakeSockets sockets_;
    FakeClock clock_;
    FakeTcpTable table_;
    FakeProgramIcons icons_;
    FakePacketFilter filter_;
    platform::ScopedInstall<Windowing> useWindowing_{windowing_};
    platform::ScopedInstall<TrayShell> useShell_{shell_};
    platform::ScopedInstall<ClockWatch> useClockWatch_{clockWatch_};
    platform::ScopedInstall<ServiceControl> useService_{service_};
    platform::ScopedInstall<Sockets> useSockets_{sockets_};
    platform::ScopedInstall<Clock> useClock_{clock_};
    platform::ScopedInstall<TcpTable> useTable_{table_};
    platform::ScopedInstall<ProgramIcons> useIcons_{icons_};
    platform::ScopedInstall<PacketFilter> useFilter_{filter_};
    FakeProgramInfo info_;
    platform::ScopedInstall<ProgramInfo> useInfo_{info_};
    FakeGuessLock guesses_;
    platform::ScopedInstall<GuessLock> useGuesses_{guesses_};
    FakeSystemLog log_;
    platform::ScopedInstall<SystemLog> useLog_{log_};
    std::unique_ptr<frmMain> main_;
};

constexpr uintptr_t OpenIcon = static_cast<uintptr_t>(ProgramIcon::Open);
constexpr uintptr_t BlockedIcon = static_cast<uintptr_t>(ProgramIcon::Blocked);
