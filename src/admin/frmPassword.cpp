#include "admin/frmPassword.h"

#include "admin/AdminLayouts.h"
#include "admin/Administration.h"
#include "platform/ModalGate.h"
#include "platform/Platform.h"
#include "platform/Windowing.h"
#include "settings/AppError.h"
#include "settings/Journal.h"
#include "settings/modGlobals.h"

frmPassword::frmPassword(uintptr_t mainWindowIcon)
    : form_(platform::get<Windowing>().CreateForm(frmPasswordLayout(), *this)), icon_(mainWindowIcon) {
    Form_Load();
}

frmPassword::~frmPassword() = default;

void frmPassword::Show() {
    form_->Show(true);
}

void frmPassword::Form_Load() {
    form_->SetWindowIcon(icon_);
}

void frmPassword::Click(const std::string& control, int index) {
    if (control == "Command1") {
        ModalGate::Run(alive_, [this, index] { Command1_Click(index); });
    }
}

void frmPassword::Command1_Click(int index) {
    if (index != 0) {
        modGlobals::PasswordOK = false;
        form_->Close();
        return;
    }
    if (checking_) {
        return; // OK is disabled while an entry is checked; nothing else may press it meanwhile
    }
    // The check may wait (a wrong password costs a second): the prompt keeps answering meanwhile, with
    // OK out of reach so that the entries cannot pile up.
    checking_ = true;
    form_->SetEnabled("Command1", 0, false);
    Windowing& windowing = platform::get<Windowing>();
    const ResultWith<bool> right = Administration::Keeper().CheckPassword(
        form_->Text("Text1"), [&windowing](int milliseconds) { windowing.Pause(milliseconds); });
    form_->SetEnabled("Command1", 0, true);
    checking_ = false;
    if (!form_->Visible()) {
        return; // closed with Cancel or its close box during the check: the caller keeps PasswordOK false
    }
    if (right && *right) {
        modGlobals::PasswordOK = true;
        form_->Close();
        return;
    }
    // A password that could not be checked is not called wrong.
    if (right) {
        Journal::WrongPassword(Journal::Dialog);
    }
    windowing.MsgBox(right ? std::string(Administration::InvalidPassword) : right.reason(), MsgBoxIcon::Exclamation,
                     AppTitle);
    form_->SelectAll("Text1");
    form_->SetFocus("Text1");
}
