#include "admin/frmAdmin.h"

#include "admin/AdminLayouts.h"
#include "core/CurfewWindow.h"
#include "core/ModalGate.h"
#include "platform/Platform.h"
#include "platform/ProgramInfo.h"
#include "platform/ServiceControl.h"
#include "platform/Windowing.h"
#include "service/ServiceHost.h"
#include "settings/AppError.h"
#include "settings/VtkModule.h"
#include "settings/modGlobals.h"

#include <optional>

namespace {

constexpr const char* RestartNotice = "\r\n\r\nYou must restart the computer now, to apply the changes";

Windowing& windowing() {
    return platform::get<Windowing>();
}

void exclaim(const std::string& text) {
    windowing().MsgBox(text, MsgBoxIcon::Exclamation, AppTitle);
}

void inform(const std::string& text) {
    windowing().MsgBox(text, MsgBoxIcon::Information, AppTitle);
}

// The service control's own words on a failure, after the message the administrator knows.
std::string withReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + "\r\n\r\n" + reason;
}

bool debugMode() {
    return VtkModule::LCase(platform::get<ProgramInfo>().CommandLine()).find("-debug") != std::string::npos;
}

// The time a box holds, in the long form the settings keep; nothing when it is not a time.
std::optional<std::string> longTime(const std::string& text) {
    try {
        return FormatLongTime(ParseTime(text));
    } catch (const AppError&) {
        return std::nullopt;
    }
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
    const modGlobals::SaveResult saved = modGlobals::SaveSettings();
    if (!saved) {
        exclaim(saved.message());
    }
    return saved.saved;
}

void frmAdmin::Form_Load() {
    UpdateRegisterButtons();
    if (modGlobals::AlarmRaised) {
        exclaim("Alarm has been reset!");
        modGlobals::AlarmRaised = false;
        Save();
    }
    form_->SetWindowIcon(icon_);
    form_->SetText("Text1", 0, modGlobals::StartTime);
    form_->SetText("Text1", 1, modGlobals::EndTime);
    for (int32_t i = 0; i <= modGlobals::LastPortIndex; ++i) {
        form_->AddItem("List1", modGlobals::ClosedPorts.at(static_cast<size_t>(i)));
    }
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
    }
}

void frmAdmin::Command4_Click() {
    const std::optional<std::string> start = longTime(form_->Text("Text1", 0));
    if (!start) {
        exclaim("Invalid time format for [START], please use time format HH:MM");
        return;
    }
    modGlobals::StartTime = *start;
    const std::optional<std::string> end = longTime(form_->Text("Text1", 1));
    if (!end) {
        exclaim("Invalid time format for [END], please use time format HH:MM");
        return;
    }
    modGlobals::EndTime = *end;
    const int count = form_->ListCount("List1");
    if (count == 0) {
        modGlobals::ClosedPorts.assign(1, "");
        modGlobals::LastPortIndex = -1;
    } else {
        modGlobals::LastPortIndex = count - 1;
        modGlobals::ClosedPorts.resize(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            modGlobals::ClosedPorts[static_cast<size_t>(i)] = form_->List("List1", i);
        }
    }
    // A failed save keeps the window open with what the administrator typed, to try again.
    if (Save()) {
        form_->Close();
    }
}

void frmAdmin::Command3_Click() {
    form_->Close();
}

void frmAdmin::Command2_Click() {
    const std::optional<std::string> answer = windowing().InputBox("Port:", "Enter port to exclude:", "");
    if (!answer || answer->empty()) {
        return;
    }
    for (int i = 0; i < form_->ListCount("List1"); ++i) {
        if (form_->List("List1", i) == *answer) {
            exclaim("Port already on list!");
            return;
        }
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
        exclaim("Error, First and second typing wasn't equal, please set again!");
        return;
    }
    modGlobals::AdminPassword = *first;
    inform("Password changed!");
}

void frmAdmin::Command7_Click() {
    ServiceControl& NTService1 = platform::get<ServiceControl>();
    NTService1.SetInteractive(true);
    if (NTService1.Install()) {
        NTService1.SaveSetting("General", "Installed", "True");
        inform(std::string("Service successfully Registered!") + RestartNotice);
    } else {
        exclaim(withReason("Registration failed!", NTService1.LastError()));
    }
    UpdateRegisterButtons();
}

void frmAdmin::Command8_Click() {
    ServiceControl& NTService1 = platform::get<ServiceControl>();
    if (NTService1.Uninstall()) {
        NTService1.SaveSetting("General", "Installed", "False");
        inform(std::string("Service successfully UnRegistered!") + RestartNotice);
    } else {
        exclaim(withReason("UnRegistration failed!", NTService1.LastError()));
    }
    UpdateRegisterButtons();
}

void frmAdmin::UpdateRegisterButtons() {
    if (debugMode()) {
        form_->SetCaption(std::string("Vesk ") + AppTitle + " - Administration (debugmode)");
        form_->SetEnabled("Command7", -1, true);
        form_->SetEnabled("Command8", -1, true);
        return;
    }
    const bool installed = ServiceHost::Installed(platform::get<ServiceControl>(), "false");
    form_->SetEnabled("Command8", -1, installed);
    form_->SetEnabled("Command7", -1, !form_->Enabled("Command8"));
}
