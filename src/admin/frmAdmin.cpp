#include "admin/frmAdmin.h"

#include "admin/AdminLayouts.h"
#include "admin/Administration.h"
#include "admin/frmWeek.h"
#include "platform/ModalGate.h"
#include "platform/Platform.h"
#include "platform/ProgramInfo.h"
#include "platform/ServiceControl.h"
#include "platform/Windowing.h"
#include "service/ServiceHost.h"
#include "settings/AppError.h"
#include "settings/Journal.h"
#include "settings/VtkModule.h"
#include "settings/modGlobals.h"

#include <optional>
#include <vector>

namespace {

Windowing& windowing() {
    return platform::get<Windowing>();
}

void exclaim(const std::string& text) {
    windowing().MsgBox(text, MsgBoxIcon::Exclamation, AppTitle);
}

void inform(const std::string& text) {
    windowing().MsgBox(text, MsgBoxIcon::Information, AppTitle);
}

void tell(const Administration::ServiceOutcome& outcome) {
    windowing().MsgBox(outcome.message, outcome.done ? MsgBoxIcon::Information : MsgBoxIcon::Exclamation, AppTitle);
}

bool debugMode() {
    return VtkModule::LCase(platform::get<ProgramInfo>().CommandLine()).find("-debug") != std::string::npos;
}

} // namespace

frmAdmin::frmAdmin(uintptr_t mainWindowIcon)
    : form_(windowing().CreateForm(frmAdminLayout(), *this)), icon_(mainWindowIcon) {
    Form_Load();
}

frmAdmin::~frmAdmin() = default;

void frmAdmin::Show() {
    form_->Show(true);
}

bool frmAdmin::Save() {
    const Result saved = Administration::Keeper().Store();
    Journal::SettingsChanged(Journal::Dialog); // in force even where the save failed
    if (!saved) {
        exclaim(saved.reason());
    }
    return static_cast<bool>(saved);
}

void frmAdmin::Form_Load() {
    UpdateRegisterButtons();
    if (modGlobals::AlarmRaised) {
        exclaim(Administration::AlarmHasBeenReset);
        modGlobals::AlarmRaised = false;
        Save();
    }
    form_->SetWindowIcon(icon_);
    form_->SetText("Text1", 0, modGlobals::StartTime);
    form_->SetText("Text1", 1, modGlobals::EndTime);
    for (const std::string& entry : Administration::ClosedPortList()) {
        form_->AddItem("List1", entry);
    }
    form_->SetValue("Check1", modGlobals::BlockChosen);
    week_ = modGlobals::WeekDays;
}

void frmAdmin::Click(const std::string& control, int index) {
    ModalGate::Run(alive_, [this, control, index] { dispatch(control, index); });
}

void frmAdmin::dispatch(const std::string& control, int) {
    if (control == "Command1") {
        Command1_Click();
    } else if (control == "Command2") {
        Command2_Click();
    } else if (control == "Command3") {
        Command3_Click();
    } else if (control == "Command4") {
        Command4_Click();
    } else if (control == "Command5") {
        Command5_Click();
    } else if (control == "Command6") {
        Command6_Click();
    } else if (control == "Command7") {
        Command7_Click();
    } else if (control == "Command8") {
        Command8_Click();
    } else if (control == "Command9") {
        Command9_Click();
    }
}

void frmAdmin::Command4_Click() {
    const std::optional<std::string> start = Administration::LongTime(form_->Text("Text1", 0));
    if (!start) {
        exclaim(Administration::InvalidStartTime);
        return;
    }
    modGlobals::StartTime = *start;
    const std::optional<std::string> end = Administration::LongTime(form_->Text("Text1", 1));
    if (!end) {
        exclaim(Administration::InvalidEndTime);
        return;
    }
    modGlobals::EndTime = *end;
    Administration::SetClosedPortList(listed());
    modGlobals::BlockChosen = form_->Value("Check1");
    modGlobals::WeekDays = week_;
    // A failed save keeps the window open with what the administrator typed, to try again.
    if (Save()) {
        form_->Close();
    }
}

void frmAdmin::Command3_Click() {
    form_->Close();
}

void frmAdmin::Command9_Click() {
    frmWeek(icon_, week_).Show();
}

void frmAdmin::Command2_Click() {
    const std::optional<std::string> answer = windowing().InputBox("Port:", "Enter port to exclude:", "");
    if (!answer || answer->empty()) {
        return;
    }
    if (Administration::OnList(listed(), *answer)) {
        exclaim(Administration::PortAlreadyOnList);
        return;
    }
    if (!modGlobals::Keeps(*answer)) {
        exclaim(Administration::EntryNotKept);
        return;
    }
    form_->AddItem("List1", *answer);
}

void frmAdmin::Command1_Click() {
    const int selected = form_->ListIndex("List1");
    if (selected < 0) {
        return;
    }
    form_->RemoveItem("List1", selected);
    if (const int count = form_->ListCount("List1"); count > 0) {
        form_->SetListIndex("List1", count - 1);
    }
}

void frmAdmin::Command6_Click() {
    const int selected = form_->ListIndex("List1");
    if (selected < 0) {
        return;
    }
    const std::optional<std::string> answer =
        windowing().InputBox("Rename:", "Rename:", form_->List("List1", selected));
    if (answer && !answer->empty()) {
        if (!modGlobals::Keeps(*answer)) {
            exclaim(Administration::EntryNotKept);
            return;
        }
        form_->SetList("List1", selected, *answer);
    }
}

void frmAdmin::Command5_Click() {
    // Cancel on either prompt changes nothing: a stray Cancel must not erase the password.
    const std::optional<std::string> first = windowing().InputBox("Enter new password:", AppTitle, "");
    if (!first) {
        return;
    }
    const std::optional<std::string> second = windowing().InputBox("Re-enter new password:", AppTitle, "");
    if (!second) {
        return;
    }
    if (*first != *second) {
        exclaim(Administration::PasswordsDiffer);
        return;
    }
    if (!modGlobals::Keeps(*first)) {
        exclaim(Administration::PasswordNotKept); // it could never be typed again
        return;
    }
    modGlobals::AdminPassword = *first;
    inform(Administration::PasswordChanged);
}

void frmAdmin::Command7_Click() {
    tell(Administration::Keeper().ChangeService(true));
    UpdateRegisterButtons();
}

void frmAdmin::Command8_Click() {
    tell(Administration::Keeper().ChangeService(false));
    UpdateRegisterButtons();
}

std::vector<std::string> frmAdmin::listed() const {
    std::vector<std::string> entries;
    for (int i = 0; i < form_->ListCount("List1"); ++i) {
        entries.push_back(form_->List("List1", i));
    }
    return entries;
}

void frmAdmin::UpdateRegisterButtons() {
    if (debugMode()) {
        form_->SetCaption(std::string("Vesk ") + AppTitle + " - Administration (debugmode)");
        form_->SetEnabled("Command7", -1, true);
        form_->SetEnabled("Command8", -1, true);
        return;
    }
    const bool installed = Administration::Keeper().ServiceRegistered();
    form_->SetEnabled("Command8", -1, installed);
    form_->SetEnabled("Command7", -1, !form_->Enabled("Command8"));
}
