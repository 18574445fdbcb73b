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

// A fake that is the program's `Interface` for as long as it lives, in place of the one before it.
template <class Interface, class Fake> class Installed : public Fake {
    platform::ScopedInstall<Interface> installed_{*this};
};

// Noon, with one connection on port 25 (closed in storeSettings's list): the scene a tick meets.
inline void noonWithAMailConnection(FakeClock& clock, FakeTcpTable& table) {
    clock.set(12, 0, 0);
    table.rows = {makeRow(TcpState::Estab, 50000, 25)};
}

// The main window, and settings.ini in a directory of its own. Every other facility the window uses is
// faked with defaults that stay out of the way; a fixture declares, as Installed members of its own,
// only the fakes its tests set up or look at, and those stand in for the defaults during each test.
class MainWindowTest : public SettingsTest {
protected:
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

private:
    struct Defaults {
        Defaults() { noonWithAMailConnection(clock, table); }
        Installed<TrayShell, FakeTrayShell> shell;
        Installed<ClockWatch, FakeClockWatch> clockWatch;
        Installed<ServiceControl, FakeServiceControl> service;
        Installed<Sockets, FakeSockets> sockets;
        Installed<Clock, FakeClock> clock;
        Installed<TcpTable, FakeTcpTable> table;
        Installed<ProgramIcons, FakeProgramIcons> icons;
        Installed<PacketFilter, FakePacketFilter> filter;
        Installed<ProgramInfo, FakeProgramInfo> info;
        Installed<GuessLock, FakeGuessLock> guesses;
        Installed<SystemLog, FakeSystemLog> log;
    } defaults_;

protected:
    Installed<Windowing, FakeWindowing> windowing_;
    // Ended after a fixture's own fakes, with the defaults standing in again, before those go.
    std::unique_ptr<frmMain> main_;
};
