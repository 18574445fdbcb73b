#include "admin/frmPassword.h"

#include "admin/AdminLayouts.h"
#include "admin/Administration.h"
#include "core/ModalGate.h"
#include "platform/Platform.h"
#include "platform/Windowing.h"
#include "settings/AppError.h"
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
    if (Administration::PasswordMatches(form_->Text("Text1"))) {
        modGlobals::PasswordOK = true;
        form_->Close();
        return;
    }
    platform::get<Windowing>().MsgBox(Administration::InvalidPassword, MsgBoxIcon::Exclamation, AppTitle);
    form_->SelectAll("Text1");
    form_->SetFocus("Text1");
}
