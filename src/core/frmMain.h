#pragma once

#include "admin/EnforcerLink.h"
#include "core/ConnectionScan.h"
#include "core/ControlService.h"
#include "core/InlineBlock.h"
#include "platform/Forms.h"
#include "platform/ServiceControl.h"
#include "tray/Picture.h"
#include "tray/VeskTray.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

// The hidden main window and the program's controller: its load starts the program, Timer1 enforces
// the curfew twice a second, Timer2 keeps the icon in the tray, UnloadTimer ends a second copy, and
// its unload shuts the program down. It answers the service manager's requests.
class frmMain final : public FormHandlers, public VeskTrayHost, public ServiceRequests {
public:
    frmMain();
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // The main window of this process while one exists (the clock watcher reaches it through here).
    static frmMain* Current();

    void Form_Load();
    void Timer1_Timer();
    void Timer2_Timer();
    void UnloadTimer_Timer();
    bool Form_QueryUnload(CloseReason reason); // true cancels the close
    void Form_Unload();

    // The tray icon's events and the menu it pops up.
    void VeskTray1_MouseUp(int16_t Button, int32_t Id);
    void VeskTray1_MouseDblClick(int16_t Button, int32_t Id);
    void mnuAdministration_Click();
    void mnuReadme_Click();
    void mnuAbout_Click();
    void mnuClose_Click();

    void CheckPorts();
    void KillConn(int32_t index);
    void ClockNotify();

    // Service manager requests.
    void Start(bool& success) override;
    void Continue(bool& success) override;
    void Stop() override;

    // The enforcer closes connections and serves the channel; a companion is the face of the enforcer
    // it found; a copy alone found none and cannot close connections itself.
    enum class Role { Enforcer, Companion, Alone };
    Role role() const { return role_; }

    bool DuplicateInstance = false;
    uintptr_t LastTrayWindow = 0;

    Form& form() { return *form_; }
    VeskTray& VeskTray1() { return *VeskTray1_; }
    const PictureRef& Picture1() const { return Picture1_; }
    const PictureRef& Picture2() const { return Picture2_; }
    ConnectionScan& scan() { return scan_; }
    bool Unloaded() const { return unloaded_; }

    // FormHandlers: the window's events, routed to the handlers above.
    void TimerTick(const std::string& timer) override;
    bool QueryUnload(CloseReason reason) override { return Form_QueryUnload(reason); }
    void Unload() override { Form_Unload(); }

    // VeskTrayHost: the component runs only in the running program.
    bool UserMode() const override { return true; }
    void MouseUp(int16_t Button, int32_t Id) override { VeskTray1_MouseUp(Button, Id); }
    void MouseDblClick(int16_t Button, int32_t Id) override { VeskTray1_MouseDblClick(Button, Id); }

private:
    void ShowTrayPicture(const PictureRef& picture);
    void LoadAndCheckSettings();
    void BecomeEnforcer();
    bool JoinEnforcer();
    bool EnforceApart();
    void CompanionTick();
    void AloneTick();
    void SayNotEnforced(std::string why = {});
    void WarnBeforeCurfew(); // why: worked out from the service's state when empty
    // warnCompanions: false where a companion reported the change, which the channel answers with the
    // warning itself.
    // cause: which change of the clock, for the record; user: whose companion reported it.
    void RaiseAlarm(bool warnCompanions, const std::string& cause, const std::string& user = {});
    void ShowClockWarning(const Result& saved);
    ControlMessages::StateEvent EnforcerState();
    uintptr_t windowIcon() const;
    void Block(bool enforcing);
    template <class Step> bool standAlone(const char* name, Step step);
    void stepFailing(const char* name, const std::string& error);
    void stepWorks(const char* name);
    static void logLine(const std::string& message);
    static void tellAdministrator(const std::string& message);

    std::unique_ptr<Form> form_;
    FormHandlers trayWindowHandlers_;
    std::unique_ptr<Form> trayWindow_; // the tray component's own window
    PictureRef Picture1_;
    PictureRef Picture2_;
    std::unique_ptr<VeskTray> VeskTray1_;
    ConnectionScan scan_;
    InlineBlock block_;
    std::set<std::string> failuresSaid_; // by the tick's steps
    std::set<std::string> failing_;      // the steps whose last run failed, by name
    bool blockReported_ = false;
    Role role_ = Role::Enforcer;
    std::unique_ptr<ControlService> control_; // the enforcer's channel
    std::unique_ptr<EnforcerLink> link_;      // a companion's
    bool clockReportDue_ = false;             // a clock change the enforcer has yet to hear of
    int clockReportTries_ = 0;                // reports of it the enforcer turned away
    bool clockWarningDue_ = false;            // the enforcer's warning, shown at the next tick
    bool notEnforcedSaid_ = false;
    bool enforcerStartedHere_ = false;                 // ends with this copy
    std::optional<int64_t> clockOffset_;               // the system clock's, at the last tick
    std::optional<std::pair<int, int32_t>> warnedFor_; // the close last warned of: weekday, second
    std::string trayTip_;                              // the icon's own, shown while enforced
    bool unloaded_ = false;
};

// Runs the program until its main window is closed by code; the exit status.
int RunQuietwire();
