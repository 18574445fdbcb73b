#include "core/frmMain.h"

#include "admin/AdminLayouts.h"
#include "admin/Administration.h"
#include "admin/MainMenu.h"
#include "core/modClockNotify.h"
#include "platform/Clock.h"
#include "platform/ControlChannel.h"
#include "platform/EnforcerProcess.h"
#include "platform/ModalGate.h"
#include "platform/OneLine.h"
#include "platform/Platform.h"
#include "platform/ProgramIcons.h"
#include "platform/ProgramInfo.h"
#include "platform/Sockets.h"
#include "platform/SystemLog.h"
#include "platform/Windowing.h"
#include "service/ServiceHost.h"
#include "settings/AppError.h"
#include "settings/CurfewWindow.h"
#include "settings/Journal.h"
#include "settings/WeekSchedule.h"
#include "settings/modGlobals.h"
#include "tray/frmMainLayout.h"

#include <cstdio>
#include <exception>
#include <set>
#include <string>
#include <utility>

namespace {

frmMain* current = nullptr;

constexpr uint16_t WinsockVersion11 = 0x0101;

const char* socketStartupMessage(int32_t result) {
    switch (result) {
    case 10022:
        return "The Windows Sockets version specified by the application is not supported by this DLL.";
    case 10091:
        return "The underlying network subsystem is not ready for network communication.";
    case 10092:
        return "The version of Windows Sockets API support requested is not provided by this particular Windows "
               "Sockets implementation.";
    default:
        return "";
    }
}

constexpr const char* ClockWarning = "WARNING\r\nThe system clock has changed, network has been disabled, please "
                                     "contact the Administrator to re-enable it.";

PictureRef iconPicture(ProgramIcon icon) {
    return std::make_shared<const Picture>(Picture{PictureType::Icon, platform::get<ProgramIcons>().Load(icon)});
}

} // namespace

// Each step of the enforcement tick stands alone: an error abandons the step, never the tick. What
// failed is said once, not on every tick it fails again.
template <class Step> bool frmMain::standAlone(const char* name, Step step) {
    try {
        step();
        stepWorks(name);
        return true;
    } catch (const std::exception& error) {
        if (failuresSaid_.insert(error.what()).second) {
            logLine(std::string("a step of the enforcement tick failed: ") + error.what());
        }
        stepFailing(name, error.what());
        return false;
    }
}

// A step failing tick after tick is recorded once, and once more when it works again. A step with no name
// is not recorded.
void frmMain::stepFailing(const char* name, const std::string& error) {
    if (name != nullptr && failing_.insert(name).second) {
        Journal::StepFailing(name, oneLine(error));
    }
}

void frmMain::stepWorks(const char* name) {
    if (name != nullptr && failing_.erase(name) != 0) {
        Journal::StepRecovered(name);
    }
}

namespace {

Windowing& windowing() {
    return platform::get<Windowing>();
}

} // namespace

frmMain::frmMain()
    : form_(windowing().CreateForm(frmMainLayout(), *this)),
      trayWindow_(windowing().CreateForm(VeskTray1WindowLayout(), trayWindowHandlers_)),
      Picture1_(iconPicture(ProgramIcon::Open)), Picture2_(iconPicture(ProgramIcon::Blocked)) {
    form_->SetWindowIcon(platform::get<ProgramIcons>().Load(ProgramIcon::Window));
    form_->SetPicture("Picture1", Picture1_->handle);
    form_->SetPicture("Picture2", Picture2_->handle);
    VeskTray1_ = std::make_unique<VeskTray>(trayWindow_->Handle(), *this, Picture1_);
    VeskTray1_->ReadProperties(VeskTray1Properties(Picture1_));
    trayTip_ = VeskTray1_->TrayTip();
    current = this;
}

frmMain::~frmMain() {
    if (current == this) {
        current = nullptr;
    }
}

frmMain* frmMain::Current() {
    return current;
}

void frmMain::Form_Load() {
    DuplicateInstance = windowing().PrevInstance();
    if (DuplicateInstance) {
        // A copy that ends without a word looks like one that never started.
        const uint32_t other = windowing().PrevInstanceId();
        const std::string process = other != 0 ? " (process " + std::to_string(other) + ")" : "";
        logLine("another copy runs already for this user" + process + "; this one ends.");
        form_->SetTimer("UnloadTimer", true);
        return;
    }
    ServiceHost::ServiceStartup(platform::get<ServiceControl>(), *this);
    form_->SetTimer("Timer1", true);
    form_->SetTimer("Timer2", true);
    modClockNotify::InstallClockWatch(form_->Handle());
    windowing().HideFromTaskList();
    modGlobals::LastPortIndex = -1;
    // Where an enforcer runs (the service), this copy is its face, whatever its own rights: two copies
    // closing connections side by side would only race each other.
    if (JoinEnforcer()) {
        role_ = Role::Companion;
    } else if (platform::get<TcpTable>().DeletionPossible()) {
        if (EnforceApart()) {
            role_ = Role::Companion;
        } else {
            BecomeEnforcer();
        }
    } else {
        role_ = Role::Alone;
        // Its own settings serve its own prompt; where they are another's (root's, the service's) nobody is
        // told more than that the curfew is not enforced.
        if (const Result loaded = modGlobals::LoadSettings(); !loaded) {
            logLine(loaded.reason());
        }
        SayNotEnforced();
    }
    const int32_t started = platform::get<Sockets>().WSAStartup(WinsockVersion11);
    if (started != 0) {
        windowing().MsgBox(socketStartupMessage(started), MsgBoxIcon::Stop, AppTitle);
    }
}

void frmMain::LoadAndCheckSettings() {
    // Unreadable settings would leave the program with no password and no curfew, unnoticed.
    if (const Result loaded = modGlobals::LoadSettings(); !loaded) {
        tellAdministrator(loaded.reason());
    } else if (const std::string empty = modGlobals::EmptySettingsWarning(); !empty.empty()) {
        tellAdministrator(empty);
    }
    // Whoever may change the settings may switch the curfew off, or learn the password.
    if (const std::string unsafe = modGlobals::UnsafeSettingsWarning(); !unsafe.empty()) {
        tellAdministrator(unsafe);
    }
}

// The copy that closes connections: it alone reads and writes settings.ini, and serves the channel.
void frmMain::BecomeEnforcer() {
    role_ = Role::Enforcer;
    link_.reset();
    Administration::UseKeeper(nullptr);
    LoadAndCheckSettings();
    Journal::Enable(true);
    Journal::SettingsKnown();
    Journal::Started(platform::get<ProgramInfo>().ProcessId());
    if (platform::Slot<ControlServer>::current == nullptr) {
        return; // a build or test without the channel
    }
    control_ = std::make_unique<ControlService>(
        platform::get<ControlServer>(), ControlService::Host{[this] { return EnforcerState(); },
                                                             [this](const std::string& user, const std::string& seen) {
                                                                 // A box this shows waits for the loop: the
                                                                 // reporter hears its answer first.
                                                                 const ModalGate::Hold hold;
                                                                 RaiseAlarm(false, "a companion's report, " + seen,
                                                                            user);
                                                             }});
    // Without its channel it enforces all the same; the desktop sessions then show nothing of it.
    if (const Result serving = control_->Start(); !serving) {
        logLine("the channel for the desktop sessions could not be opened: " + serving.reason());
    }
}

// A companion's link to the enforcer, when one answers.
bool frmMain::JoinEnforcer() {
    if (platform::Slot<ControlClient>::current == nullptr) {
        return false;
    }
    if (!link_) {
        link_ = std::make_unique<EnforcerLink>(
            platform::get<ControlClient>(), [](int milliseconds) { windowing().Pause(milliseconds); },
            EnforcerLink::Events{[this](const ControlMessages::StateEvent& state) {
                                     ShowTrayPicture(state.blocked ? Picture2_ : Picture1_);
                                 },
                                 [this] {
                                     clockWarningDue_ = true;
                                     // Another session reported the change this one saw: told again, the
                                     // enforcer would warn everyone twice.
                                     clockReportDue_ = false;
                                 }});
    }
    if (!link_->Connect(ControlMessages::ClientRole::Companion)) {
        return false;
    }
    Administration::UseKeeper(link_.get());
    VeskTray1_->TrayTip(trayTip_);
    ShowTrayPicture(link_->State()->blocked ? Picture2_ : Picture1_);
    return true;
}

// A copy with the rights on a display leaves the enforcing to a process of its own with no display, and is
// its face; where that cannot be, it enforces itself, as a headless copy does.
bool frmMain::EnforceApart() {
    if (platform::Slot<EnforcerProcess>::current == nullptr) {
        return false;
    }
    EnforcerProcess& enforcer = platform::get<EnforcerProcess>();
    if (const Result started = enforcer.Start(); !started) {
        logLine("the enforcer could not be started apart from the display: " + started.reason());
        return false;
    }
    constexpr int TriesEveryTenthOfASecond = 50;
    for (int tried = 0; tried < TriesEveryTenthOfASecond; ++tried) {
        windowing().Pause(100);
        if (JoinEnforcer()) {
            enforcerStartedHere_ = true;
            return true;
        }
    }
    enforcer.End();
    logLine("the enforcer started apart from the display did not answer; this copy enforces itself.");
    return false;
}

// Said once: an icon over a curfew nobody enforces must not pass for one that holds.
void frmMain::SayNotEnforced(std::string why) {
    if (why.empty()) {
        ServiceControl& service = platform::get<ServiceControl>();
        why = service.Running()                          ? "the Quietwire service does not answer"
              : ServiceHost::Installed(service, "False") ? "the Quietwire service is stopped"
                                                         : "no Quietwire service is registered";
    }
    VeskTray1_->TrayTip("Quietwire: not enforced (" + why + ")");
    ShowTrayPicture(Picture1_);
    if (notEnforcedSaid_) {
        return;
    }
    notEnforcedSaid_ = true;
    std::string message = "The curfew is not enforced: " + why + ".";
    if (const Result possible = platform::get<TcpTable>().DeletionPossible(); !possible) {
        message += "\r\n\r\nThis copy cannot close connections on this machine itself: " + possible.reason() + ".";
    }
    tellAdministrator(message);
}

// Said on standard error and kept in the system's log, for whoever looks later.
void frmMain::logLine(const std::string& message) {
    const std::string line = oneLine(message);
    std::fprintf(stderr, "quietwire: %s\n", line.c_str());
    platform::get<SystemLog>().Warning(line);
}

// Said on the screen and on standard error.
void frmMain::tellAdministrator(const std::string& message) {
    logLine(message);
    ModalGate::Run([message] { windowing().MsgBox(message, MsgBoxIcon::Exclamation, AppTitle); });
}

// The sweep goes on where the system cannot refuse the ports; the administrator is told once.
void frmMain::Block(bool enforcing) {
    const Result done = block_.Enforce(enforcing);
    if (done) {
        stepWorks("in-line block");
        return;
    }
    stepFailing("in-line block", done.reason());
    if (blockReported_) {
        return;
    }
    blockReported_ = true;
    const std::string message =
        "Quietwire cannot refuse new connections on closed ports on this machine: " + done.reason() +
        ". Only the sweep closes them, where it can.";
    tellAdministrator(message);
}

void frmMain::ShowTrayPicture(const PictureRef& picture) {
    const PictureRef shown = VeskTray1_->TrayIcon();
    if (!shown || shown->handle != picture->handle) {
        VeskTray1_->TrayIcon(picture);
    }
}

void frmMain::Timer1_Timer() {
    // A box opened inside the tick would hold the next ticks off until it is closed (a timer does not
    // fire again while its own handler runs); what the tick has to say opens once it has returned.
    const ModalGate::Hold hold;
    if (role_ == Role::Companion) {
        CompanionTick();
        return;
    }
    if (role_ == Role::Alone) {
        AloneTick();
        return;
    }
    // Another copy (the service, or the desktop copy beside it) may have saved the settings since;
    // the tick works with what the file holds.
    standAlone("settings.ini", [] { modGlobals::FollowSettingsFile(); });
    if (const std::string kept = modGlobals::TakeSettingsWarning(); !kept.empty()) {
        // Written back at once: until then quietwirectl would work on what is there instead, and a
        // file it made there would be followed.
        std::string message = kept;
        if (modGlobals::MayWriteBack()) {
            if (const Result saved = modGlobals::SaveSettings(); !saved) {
                message += "\r\n\r\n" + modGlobals::SaveFailureMessage(saved);
            }
        }
        tellAdministrator(message);
    }
    standAlone("warning before the curfew", [this] { WarnBeforeCurfew(); });
    // A raised alarm blocks at all hours; a window that cannot be read counts as inside it.
    CurfewReason now = CurfewReason::InsideWindow;
    standAlone("curfew window", [&] { now = CurfewNow(); });
    const bool blocked = PortsBlocked(now);
    // The rules go in before the sweep, so nothing new slips in while it runs.
    standAlone(nullptr, [&] { Block(blocked); }); // Block records its own failures
    if (control_) {
        // A service may hear nothing of the clock from the system; a jump of the clock between two ticks
        // is its own evidence of a change a companion reports.
        const int64_t offset = platform::get<Clock>().offsetMilliseconds();
        constexpr int64_t SetNotDrifted = 2000;
        if (clockOffset_ && (offset - *clockOffset_ > SetNotDrifted || *clockOffset_ - offset > SetNotDrifted)) {
            control_->ClockChangeSeen("the clock jumped between two ticks");
        }
        clockOffset_ = offset;
        standAlone("channel", [this] { control_->Publish(); }); // the companions' icons follow within this tick
    }
    if (!blocked) {
        standAlone("tray icon", [&] { ShowTrayPicture(Picture1_); });
        return;
    }
    standAlone("tray icon", [&] { ShowTrayPicture(Picture2_); });
    standAlone("sweep", [&] { CheckPorts(); });
}

// Each tray says so a while before the closed ports close, once for each close, never during the curfew.
void frmMain::WarnBeforeCurfew() {
    std::array<std::string, 7> days = modGlobals::WeekDays;
    std::string start = modGlobals::StartTime;
    std::string end = modGlobals::EndTime;
    int minutes = modGlobals::WarnMinutes;
    bool alarm = modGlobals::AlarmRaised;
    std::vector<std::string> entries = Administration::ClosedPortList();
    if (role_ == Role::Companion && link_->State()) { // the enforcer's settings, which this copy never reads
        const ControlMessages::StateEvent& state = *link_->State();
        days = {};
        std::copy_n(state.week.begin(), std::min(state.week.size(), days.size()), days.begin());
        start = state.start;
        end = state.end;
        minutes = static_cast<int>(std::min<size_t>(state.warn, modGlobals::MostWarnMinutes));
        alarm = state.alarm;
        entries = state.ports;
    }
    if (minutes <= 0 || alarm || !VeskTray1_->InTray()) {
        return;
    }
    const WeekPlan plan = PlanOf(days, start, end);
    const LocalMoment now = MomentNow();
    const std::optional<CurfewWarning> due = WarningDue(plan.week, plan.daily, now, minutes, entries);
    if (!due) {
        if (!OpenByWeek(plan.week, plan.daily, now)) {
            warnedFor_.reset(); // in the curfew: the next close is warned of again
        }
        return;
    }
    const std::pair<int, int32_t> close{due->weekday, due->seconds};
    if (warnedFor_ == close) {
        return;
    }
    warnedFor_ = close;
    if (!VeskTray1_->Notify("Quietwire", due->text)) {
        logLine("the warning before the curfew could not be shown: " + oneLine(due->text));
    }
}

// A companion shows what the enforcer says; when the enforcer goes, a copy that can close connections
// takes its place, and one that cannot says the curfew is not enforced.
void frmMain::CompanionTick() {
    if (link_->Busy()) {
        return; // an answer is awaited further down this thread's stack
    }
    if (!link_->Poll()) {
        Administration::UseKeeper(nullptr);
        if (platform::get<TcpTable>().DeletionPossible()) {
            // The enforcer this copy started may have been killed: another, again apart from the display.
            if (!EnforceApart()) {
                BecomeEnforcer();
            }
        } else {
            role_ = Role::Alone;
            SayNotEnforced("the copy that enforced it has ended or stopped answering");
        }
        return;
    }
    if (clockReportDue_) {
        // The enforcer believes a change it has seen itself, and its own look may come a tick after ours.
        constexpr int ReportTries = 4;
        const Result reported = link_->ReportClockChange();
        if (reported || ++clockReportTries_ >= ReportTries) {
            clockReportDue_ = false;
            clockReportTries_ = 0;
            if (!reported) {
                logLine("the clock change could not be reported: " + reported.reason());
            }
        }
    }
    if (std::exchange(clockWarningDue_, false)) {
        ModalGate::Run([] { windowing().MsgBox(ClockWarning, MsgBoxIcon::Exclamation, AppTitle); });
    }
    standAlone("warning before the curfew", [this] { WarnBeforeCurfew(); });
}

// The enforcer may start later (the service registered and started meanwhile).
void frmMain::AloneTick() {
    if (JoinEnforcer()) {
        role_ = Role::Companion;
    }
}

void frmMain::Timer2_Timer() {
    const uintptr_t taskbar = VeskTray1_->TrayHWND();
    if (taskbar == 0 || taskbar == LastTrayWindow) {
        return;
    }
    VeskTray1_->InTray(false);
    {
        ModalGate::Hold hold; // a click or clock change handled here opens its UI afterwards
        windowing().DoEvents();
    }
    VeskTray1_->InTray(true);
    LastTrayWindow = taskbar;
}

void frmMain::UnloadTimer_Timer() {
    form_->SetTimer("UnloadTimer", false);
    form_->Close();
}

void frmMain::TimerTick(const std::string& timer) {
    if (timer == "Timer1") {
        Timer1_Timer();
    } else if (timer == "Timer2") {
        Timer2_Timer();
    } else if (timer == "UnloadTimer") {
        UnloadTimer_Timer();
    }
}

bool frmMain::Form_QueryUnload(CloseReason reason) {
    if (reason == CloseReason::User) {
        form_->Hide(); // the close box only hides the window; the program runs on
        return true;
    }
    return false;
}

void frmMain::Form_Unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    if (role_ == Role::Companion) {
        link_->Disconnect();
        if (enforcerStartedHere_) {
            platform::get<EnforcerProcess>().End(); // closed as one program, the curfew with it
        }
        Administration::UseKeeper(nullptr);
        modClockNotify::RemoveClockWatch(form_->Handle());
        VeskTray1_->InTray(false);
        platform::get<Sockets>().WSACleanup();
    } else if (!DuplicateInstance) {
        if (control_) {
            control_->Stop();
        }
        standAlone("settings.ini", [] { modGlobals::FollowSettingsFile(); }); // never save over another copy's changes
        if (const std::string kept = modGlobals::TakeSettingsWarning(); !kept.empty()) {
            logLine(kept); // the save below mends it; a box would hold the shutdown up
        }
        // A file this process cannot read is not saved over: it may be another user's, kept from it on
        // purpose. A failed save is said where a service's journal keeps it.
        if (modGlobals::MayWriteBack()) {
            if (const Result saved = modGlobals::SaveSettings(); !saved) {
                logLine(modGlobals::SaveFailureMessage(saved));
            }
        }
        standAlone(nullptr, [this] { block_.Lift(); }); // a clean end; only a killed program leaves rules behind
        Journal::Ended();
        Journal::Enable(false);
        modClockNotify::RemoveClockWatch(form_->Handle());
        VeskTray1_->InTray(false);
        platform::get<Sockets>().WSACleanup();
    }
    windowing().Quit();
}

uintptr_t frmMain::windowIcon() const {
    return platform::get<ProgramIcons>().Load(ProgramIcon::Window);
}

void frmMain::VeskTray1_MouseUp(int16_t Button, int32_t) {
    constexpr int16_t RightButton = 2;
    if (Button != RightButton) {
        return;
    }
    // The menu does not close when the user clicks elsewhere unless its owner is in the foreground.
    windowing().BringToFront(form_->Handle());
    const std::vector<MenuItem> menu = mnuFile();
    const int chosen = windowing().PopupMenu(Captions(menu));
    if (chosen < 0 || static_cast<size_t>(chosen) >= menu.size()) {
        return; // dismissed
    }
    const std::string& item = menu[static_cast<size_t>(chosen)].name;
    if (item == "mnuAdministration") {
        mnuAdministration_Click();
    } else if (item == "mnuReadme") {
        mnuReadme_Click();
    } else if (item == "mnuAbout") {
        mnuAbout_Click();
    } else if (item == "mnuClose") {
        mnuClose_Click();
    }
}

void frmMain::VeskTray1_MouseDblClick(int16_t, int32_t) {
    mnuAdministration_Click();
}

void frmMain::mnuAdministration_Click() {
    MainMenu::Administration(windowIcon());
}

void frmMain::mnuReadme_Click() {
    MainMenu::Readme(form_->Handle());
}

void frmMain::mnuAbout_Click() {
    MainMenu::About();
}

void frmMain::mnuClose_Click() {
    MainMenu::Exit(*form_, windowIcon());
}

void frmMain::CheckPorts() {
    scan_.CheckPorts();
}

void frmMain::KillConn(int32_t index) {
    scan_.KillConn(index);
}

void frmMain::ClockNotify() {
    if (control_) {
        control_->ClockChangeSeen("seen by the enforcer's own watch");
    }
    if (!VeskTray1_->InTray()) {
        return;
    }
    if (role_ == Role::Companion) {
        clockReportDue_ = true; // told from the tick: the enforcer raises the alarm and every face warns
        return;
    }
    RaiseAlarm(true, "the enforcer's own watch of the clock");
}

// Raised and stored before the warning is shown: a warning left open, or a session ended under it, must
// not keep the ports open.
void frmMain::RaiseAlarm(bool warnCompanions, const std::string& cause, const std::string& user) {
    modGlobals::FollowSettingsFile(); // the save must not undo what another copy saved since the last tick
    modGlobals::AlarmRaised = true;
    Journal::AlarmRaised(cause, user);
    const Result saved = modGlobals::SaveSettings();
    if (control_ && warnCompanions) {
        control_->ClockWarning();
        control_->Publish();
    }
    if (!saved && role_ == Role::Enforcer && !VeskTray1_->InTray()) {
        logLine(modGlobals::SaveFailureMessage(saved)); // nobody here would see a box
    }
    if (VeskTray1_->InTray()) {
        ShowClockWarning(saved);
    }
}

void frmMain::ShowClockWarning(const Result& saved) {
    ModalGate::Run([saved] {
        windowing().MsgBox(ClockWarning, MsgBoxIcon::Exclamation, AppTitle);
        if (!saved) {
            // The alarm holds for this run; without the file it would not survive a restart.
            windowing().MsgBox(modGlobals::SaveFailureMessage(saved), MsgBoxIcon::Exclamation, AppTitle);
        }
    });
}

ControlMessages::StateEvent frmMain::EnforcerState() {
    CurfewReason now = CurfewReason::InsideWindow;
    standAlone("curfew window", [&] { now = CurfewNow(); });
    ControlMessages::StateEvent state;
    state.blocked = PortsBlocked(now);
    state.alarm = modGlobals::AlarmRaised;
    state.enforced = true;
    state.curfew = CurfewReasonName(now);
    state.start = modGlobals::StartTime;
    state.end = modGlobals::EndTime;
    state.entries = Administration::ClosedPortList().size();
    state.block = modGlobals::BlockChosen;
    state.registered = ServiceHost::Installed(platform::get<ServiceControl>(), "False");
    state.process = platform::get<ProgramInfo>().ProcessId();
    state.week.assign(modGlobals::WeekDays.begin(), modGlobals::WeekDays.end());
    state.warn = static_cast<std::size_t>(modGlobals::WarnMinutes);
    state.ports = Administration::ClosedPortList();
    return state;
}

void frmMain::Start(bool& success) {
    success = !DuplicateInstance;
}

void frmMain::Continue(bool& success) {
    success = !DuplicateInstance;
}

void frmMain::Stop() {
    form_->Close();
}

int RunQuietwire() {
    frmMain main;
    main.Form_Load();
    if (!main.Unloaded()) {
        platform::get<Windowing>().Run();
    }
    return 0;
}
