#include "core/modClockNotify.h"
#include "support/MainWindowFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

constexpr uintptr_t Taskbar = 0x7A5C;
constexpr uintptr_t OpenIcon = static_cast<uintptr_t>(ProgramIcon::Open);
constexpr uintptr_t BlockedIcon = static_cast<uintptr_t>(ProgramIcon::Blocked);

class frmMainTest : public MainWindowTest {
protected:
    frmMainTest() { noonWithAMailConnection(clock_, table_); }

    // The first tray watch tick, with a taskbar: the icon goes into the tray.
    void putIconInTray() {
        shell_.taskbar = Taskbar;
        ASSERT_TRUE(tick("Timer2"));
        ASSERT_TRUE(main_->VeskTray1().InTray());
    }
    uintptr_t trayPicture() const { return main_->VeskTray1().TrayIcon()->handle; }

    Installed<TrayShell, FakeTrayShell> shell_;
    Installed<ClockWatch, FakeClockWatch> clockWatch_;
    Installed<ServiceControl, FakeServiceControl> service_;
    Installed<Sockets, FakeSockets> sockets_;
    Installed<Clock, FakeClock> clock_;
    Installed<TcpTable, FakeTcpTable> table_;
    Installed<SystemLog, FakeSystemLog> log_;
};

} // namespace

TEST_F(frmMainTest, StartUpConfiguresTheServiceStartsTheTimersWatchesTheClockAndLoadsTheSettings) {
    storeSettings("08:00:00", "17:00:00");
    frmMain& main = load();
    // What the service manager is told: shown as QWADMIN, started with the system, stopped on request.
    EXPECT_EQ(service_.displayName, "QWADMIN");
    EXPECT_EQ(service_.startMode, 2);
    EXPECT_EQ(service_.controlsAccepted, 1);
    ASSERT_NE(service_.requests, nullptr);
    for (const auto request : {&ServiceRequests::Start, &ServiceRequests::Continue}) {
        bool running = false;
        (service_.requests->*request)(running);
        EXPECT_TRUE(running) << "the manager is told that the service runs";
    }
    EXPECT_TRUE(form().TimerEnabled("Timer1"));
    EXPECT_TRUE(form().TimerEnabled("Timer2"));
    EXPECT_FALSE(form().TimerEnabled("UnloadTimer"));
    EXPECT_EQ(clockWatch_.window, form().Handle());
    EXPECT_EQ(windowing_.hiddenFromTaskList, 1);
    EXPECT_EQ(modGlobals::StartTime, "08:00:00");
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"25, SMTP"}));
    EXPECT_EQ(sockets_.startups, (std::vector<uint16_t>{0x0101}));
    EXPECT_TRUE(windowing_.boxes.empty());
    EXPECT_FALSE(form().Visible());
    EXPECT_FALSE(main.VeskTray1().InTray()) << "the icon waits for the first tray watch tick";
}

TEST_F(frmMainTest, TheServiceIsStartedOnlyWhenRegisteredAndNotAlreadyRunning) {
    for (const auto& [installed, running, started] :
         {std::tuple{"True", false, true}, {"TRUE", true, false}, {"False", false, false}}) {
        service_.calls.clear();
        service_.store["General/Installed"] = installed;
        service_.running = running;
        load();
        const bool calledStart = !service_.calls.empty() && service_.calls.back() == "start";
        EXPECT_EQ(calledStart, started) << installed << (running ? ", running" : "");
    }
}

TEST_F(frmMainTest, ASocketsStartUpFailureIsShownWithAStopIconAndTheCurfewHoldsAllTheSame) {
    storeSettings("08:00:00", "17:00:00");
    clock_.set(20, 0, 0);
    sockets_.startupResult = 10091; // the network is not ready yet, as early in a boot
    load();
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt, "The underlying network subsystem is not ready for network communication.");
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Stop);
    EXPECT_EQ(windowing_.boxes[0].title, "QWADMIN");
    tick("Timer1");
    EXPECT_EQ(table_.deleted.size(), 1u) << "nothing depends on the sockets having started";
}

TEST_F(frmMainTest, AProgramThatCannotCloseConnectionsSaysSoOnceAtStart) {
    table_.unavailable = "the program lacks the CAP_NET_ADMIN capability";
    load();
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_NE(windowing_.boxes[0].prompt.find("cannot close connections"), std::string::npos);
    EXPECT_NE(windowing_.boxes[0].prompt.find("CAP_NET_ADMIN"), std::string::npos);
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Exclamation);
    EXPECT_EQ(windowing_.boxes[0].title, "QWADMIN");
    tick("Timer1");
    EXPECT_EQ(windowing_.boxes.size(), 1u) << "said once";
}

TEST_F(frmMainTest, SettingsThatCannotBeReadAreReportedNotTakenForNone) {
    storeSettings("08:00:00", "17:00:00");
    struct Unreadable : RedirectedFileSystem {
        using RedirectedFileSystem::RedirectedFileSystem;
        bool canRead(const std::string&) override { return false; }
    } files(dir_.str());
    platform::ScopedInstall<FileSystem> useFiles(files);
    load();
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt.rfind("The settings could not be read.\r\n\r\n" + settingsPath(), 0), 0u);
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Exclamation);
    const std::string before = readBytes(settingsPath());
    main_->Stop();
    EXPECT_EQ(readBytes(settingsPath()), before) << "a file the copy cannot read is not saved over";
}

TEST_F(frmMainTest, ASettingsFileGarbledWhileNoCopyRanIsReportedAtStartAndNoFileIsNot) {
    load();
    EXPECT_TRUE(windowing_.boxes.empty()) << "a fresh install has no settings and says nothing";
    writeBytes(settingsPath(), "\x7f\x45\x4c\x46 not settings at all\r\n");
    load();
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt.rfind(
                  "The settings file holds none of Quietwire's settings.\r\n\r\n" + settingsPath(), 0),
              0u);
}

TEST_F(frmMainTest, ASecondCopyTouchesNothingAndEndsAfterItsUnloadTimer) {
    storeSettings("08:00:00", "17:00:00", true);
    const std::string before = readBytes(settingsPath());
    windowing_.otherInstance = true;
    frmMain& main = load();
    EXPECT_TRUE(service_.calls.empty());
    EXPECT_EQ(service_.requests, nullptr) << "the service manager's requests go to the first copy";
    EXPECT_FALSE(form().TimerEnabled("Timer1"));
    EXPECT_FALSE(form().TimerEnabled("Timer2"));
    EXPECT_EQ(clockWatch_.procedure, nullptr);
    EXPECT_TRUE(sockets_.startups.empty());
    EXPECT_TRUE(modGlobals::StartTime.empty()) << "settings were read";

    ASSERT_TRUE(tick("UnloadTimer"));
    EXPECT_FALSE(form().TimerEnabled("UnloadTimer"));
    EXPECT_TRUE(main.Unloaded());
    EXPECT_TRUE(windowing_.quit);
    EXPECT_EQ(sockets_.cleanups, 0);
    EXPECT_TRUE(shell_.calls.empty()) << "a second copy never shows an icon";
    EXPECT_EQ(readBytes(settingsPath()), before);
}

TEST_F(frmMainTest, OutsideTheWindowTheBlockedIconIsShownAndClosedPortsAreKilled) {
    storeSettings("08:00:00", "17:00:00");
    load();
    putIconInTray();
    clock_.set(17, 0, 1);
    tick("Timer1");
    EXPECT_EQ(trayPicture(), BlockedIcon);
    EXPECT_EQ(table_.deleted.size(), 1u);
}

TEST_F(frmMainTest, InsideTheWindowTheOpenIconIsShownAndNothingIsScanned) {
    for (const auto& [start, end] :
         {std::pair{"08:00:00", "17:00:00"}, {"09:00:00", "09:00:00"}, {"nonsense", "17:00"}}) {
        storeSettings(start, end);
        load();
        tick("Timer1");
        EXPECT_EQ(trayPicture(), OpenIcon) << start << " to " << end;
        EXPECT_EQ(table_.getCalls, 0) << start << " to " << end;
    }
}

TEST_F(frmMainTest, WithTheAlarmRaisedClosedPortsAreKilledInsideTheWindowToo) {
    storeSettings("08:00:00", "17:00:00", true);
    load();
    tick("Timer1");
    EXPECT_EQ(trayPicture(), BlockedIcon);
    EXPECT_EQ(table_.deleted.size(), 1u);
}

TEST_F(frmMainTest, TheIconIsChangedOnlyWhenTheStateChanges) {
    storeSettings("08:00:00", "17:00:00");
    load();
    putIconInTray();
    const auto modifies = [&] {
        return std::count_if(shell_.calls.begin(), shell_.calls.end(),
                             [](const FakeTrayShell::Call& c) { return c.message == TrayMessage::Modify; });
    };
    tick("Timer1");
    tick("Timer1");
    EXPECT_EQ(modifies(), 0) << "the open picture is already shown";
    clock_.set(18, 0, 0);
    tick("Timer1");
    tick("Timer1");
    EXPECT_EQ(modifies(), 1);
}

TEST_F(frmMainTest, AScanErrorEndsOnlyThatTick) {
    storeSettings("08:00:00", "17:00:00");
    clock_.set(20, 0, 0);
    load();
    table_.reportedSize = 0; // the table cannot be read: the scan fails
    ::testing::internal::CaptureStderr();
    tick("Timer1");
    tick("Timer1");
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(table_.deleted.empty());
    EXPECT_EQ(said.rfind("quietwire: a step of the enforcement tick failed: ", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "said once, not on every tick:\n" << said;
    ASSERT_EQ(log_.warnings.size(), 1u) << "kept in the system log as well, once";
    EXPECT_EQ("quietwire: " + log_.warnings[0] + "\n", said);
    table_.reportedSize.reset();
    tick("Timer1");
    EXPECT_EQ(table_.deleted.size(), 1u);
}

TEST_F(frmMainTest, TheIconGoesIntoTheTrayWhenATaskbarExistsAndAgainWhenItIsMadeAnew) {
    load();
    tick("Timer2");
    EXPECT_TRUE(shell_.calls.empty()) << "no taskbar, no icon";
    putIconInTray();
    ASSERT_EQ(shell_.calls.size(), 1u);
    EXPECT_EQ(shell_.calls[0].message, TrayMessage::Add);
    EXPECT_EQ(shell_.calls[0].tip().substr(0, 15), std::string("Vesk Quietwire\0", 15));
    tick("Timer2");
    EXPECT_EQ(shell_.calls.size(), 1u) << "the same taskbar";
    shell_.taskbar = Taskbar + 1;
    tick("Timer2");
    ASSERT_EQ(shell_.calls.size(), 3u);
    EXPECT_EQ(shell_.calls[1].message, TrayMessage::Delete);
    EXPECT_EQ(shell_.calls[2].message, TrayMessage::Add);
    EXPECT_EQ(main_->LastTrayWindow, Taskbar + 1);
}

TEST_F(frmMainTest, TheCloseBoxOnlyHidesTheWindow) {
    load();
    form().Show(false);
    form().closeBy(CloseReason::User);
    EXPECT_FALSE(form().Visible());
    EXPECT_FALSE(main_->Unloaded());
    EXPECT_TRUE(form().TimerEnabled("Timer1"));
    EXPECT_FALSE(windowing_.quit);
}

TEST_F(frmMainTest, EndingTheProgramSavesTheSettingsRemovesTheWatcherAndTheIconAndReleasesSockets) {
    load();
    putIconInTray();
    modGlobals::StartTime = "22:00:00";
    main_->Stop(); // the service manager's stop request closes the window by code
    EXPECT_TRUE(main_->Unloaded());
    EXPECT_EQ(readRaw("SETUP", "START"), VtkModule::Encrypt("22:00:00", modGlobals::RotationCount));
    EXPECT_EQ(clockWatch_.procedure, nullptr);
    EXPECT_EQ(modClockNotify::PrevClockProc, 0u);
    EXPECT_FALSE(main_->VeskTray1().InTray());
    EXPECT_EQ(shell_.calls.back().message, TrayMessage::Delete);
    EXPECT_EQ(sockets_.cleanups, 1);
    EXPECT_TRUE(windowing_.quit);
}

TEST_F(frmMainTest, SettingsSavedByAnotherProgramAreTakenOverAtTheNextTickAndNotSavedOver) {
    storeSettings("08:00:00", "17:00:00");
    load();
    clock_.set(12, 0, 0);
    tick("Timer1");
    EXPECT_TRUE(table_.deleted.empty()) << "inside the window";

    // Another copy raises the alarm and empties the list, as the file shows.
    writeRaw("SETUP", "ALARM", "True");
    tick("Timer1");
    EXPECT_TRUE(modGlobals::AlarmRaised);
    EXPECT_EQ(table_.deleted.size(), 1u);
    std::filesystem::remove(settingsPath());
    storeSettings("20:00:00", "21:00:00");
    writeRaw("PORTS", "OP_00", "");
    tick("Timer1");
    EXPECT_EQ(modGlobals::LastPortIndex, -1) << "the list follows the file, also when it empties";

    writeRaw("SETUP", "START", "06:00:00");
    modGlobals::AdminPassword = "changed here";
    main_->Stop();
    EXPECT_EQ(readRaw("SETUP", "START"), VtkModule::Encrypt("06:00:00", modGlobals::RotationCount))
        << "the shutdown save wrote over another program's change";
}

TEST_F(frmMainTest, ASettingsFileRemovedWhileRunningKeepsTheCurfewIsToldOnceAndIsWrittenBackAtTheEnd) {
    storeSettings("08:00:00", "17:00:00");
    writeRaw("SETUP", "PASSWORD", "secret");
    load();
    clock_.set(20, 0, 0);
    std::filesystem::remove(settingsPath());
    ::testing::internal::CaptureStderr();
    tick("Timer1");
    EXPECT_TRUE(windowing_.boxes.empty()) << "a box inside the tick would hold the next ticks off";
    windowing_.onMsgBox = [this] { tick("Timer1"); }; // the ticks go on while the box is open
    windowing_.runPosted();
    const std::string logged = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(table_.deleted.size(), 2u) << "the curfew holds on each tick";
    EXPECT_EQ(readRaw("SETUP", "PASSWORD"), VtkModule::Encrypt("secret", modGlobals::RotationCount))
        << "written back at once, before anything else can make a file there";
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt.rfind("The settings file has been removed.\r\n\r\n" + settingsPath(), 0), 0u);
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Exclamation);
    EXPECT_EQ(windowing_.boxes[0].title, "QWADMIN");
    EXPECT_EQ(logged.rfind("quietwire: The settings file has been removed. " + settingsPath(), 0), 0u) << logged;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;

    main_->Stop();
    EXPECT_EQ(readRaw("SETUP", "PASSWORD"), VtkModule::Encrypt("secret", modGlobals::RotationCount));
    EXPECT_EQ(readRaw("PORTS", "OP_00"), VtkModule::Encrypt("25, SMTP", modGlobals::RotationCount));
}

TEST_F(frmMainTest, SettingsOthersMayChangeAreToldOnceAtStart) {
    struct OpenFolder : RedirectedFileSystem {
        using RedirectedFileSystem::RedirectedFileSystem;
        bool othersMayChange(const std::string& path) override { return path == VtkModule::AppPath(); }
    } files(dir_.str());
    platform::ScopedInstall<FileSystem> useFiles(files);
    load();
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt.rfind("The settings are not safe here", 0), 0u);
    EXPECT_NE(windowing_.boxes[0].prompt.find(VtkModule::AppPath()), std::string::npos);
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Exclamation);
    tick("Timer1");
    EXPECT_EQ(windowing_.boxes.size(), 1u) << "said once";
}

TEST_F(frmMainTest, TheProgramsOwnSaveIsNoChangeToFollow) {
    storeSettings("08:00:00", "17:00:00");
    load();
    modGlobals::StartTime = "09:00:00";
    ASSERT_TRUE(modGlobals::SaveSettings());
    modGlobals::StartTime = "10:00:00"; // in memory only, as a half-finished administration leaves it
    tick("Timer1");
    EXPECT_EQ(modGlobals::StartTime, "10:00:00");
}

TEST_F(frmMainTest, TheTrayWarnsOnceAWhileBeforeThePortsCloseAndNeverDuringTheCurfew) {
    storeSettings("08:00:00", "12:03:00");
    writeRaw("SETUP", "WARN", "5");
    load();
    putIconInTray();
    tick("Timer1"); // 12:00
    tick("Timer1");
    ASSERT_EQ(shell_.notifications.size(), 1u) << "once for one close";
    EXPECT_EQ(shell_.notifications[0].substr(0, shell_.notifications[0].find('\r')),
              "Quietwire\nClosed ports close at 12:03 (in 3 minutes)");
    EXPECT_NE(shell_.notifications[0].find("\r\n"), std::string::npos) << "the entries are named";
    clock_.set(12, 3, 1);
    tick("Timer1");
    clock_.set(12, 4, 0);
    tick("Timer1");
    EXPECT_EQ(shell_.notifications.size(), 1u) << "nothing during the curfew";
    modGlobals::WarnMinutes = 0;
    clock_.set(11, 59, 0);
    tick("Timer1");
    EXPECT_EQ(shell_.notifications.size(), 1u) << "0 minutes: never";
}

TEST_F(frmMainTest, AClockChangeStoresTheAlarmBeforeTheWarningIsClosed) {
    storeSettings("08:00:00", "17:00:00");
    load();
    putIconInTray();
    std::string storedWhileOpen;
    windowing_.onMsgBox = [&] { storedWhileOpen = readRaw("SETUP", "ALARM"); };
    EXPECT_EQ(clockWatch_.send(TimeChangeMessage), 0);
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt, "WARNING\r\nThe system clock has changed, network has been disabled, please "
                                          "contact the Administrator to re-enable it.");
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Exclamation);
    EXPECT_EQ(storedWhileOpen, VtkModule::Encrypt("True", modGlobals::RotationCount));
    EXPECT_TRUE(modGlobals::AlarmRaised);
    EXPECT_TRUE(clockWatch_.passedOn.empty()) << "the time change is not passed on";
    constexpr uint32_t QueryEndSession = 0x0011;
    clockWatch_.send(QueryEndSession);
    EXPECT_EQ(clockWatch_.passedOn, std::vector<uint32_t>{QueryEndSession}) << "the window's other messages reach it";

    tick("Timer1");
    EXPECT_EQ(trayPicture(), BlockedIcon);
    EXPECT_EQ(table_.deleted.size(), 1u) << "inside the window, the alarm closes the ports";
}

TEST_F(frmMainTest, ClockChangesAreIgnoredUntilTheIconIsInTheTray) {
    load();
    clockWatch_.send(TimeChangeMessage);
    EXPECT_FALSE(modGlobals::AlarmRaised);
    EXPECT_TRUE(windowing_.boxes.empty());
    EXPECT_FALSE(VtkModule::FileExists(settingsPath()));
}
