#include "admin/MainMenu.h"

#include "admin/frmAdmin.h"
#include "admin/frmPassword.h"
#include "platform/Platform.h"
#include "platform/ProgramInfo.h"
#include "platform/Windowing.h"
#include "settings/AppError.h"
#include "settings/VtkModule.h"
#include "settings/modGlobals.h"
#include "tray/Credits.h"

namespace MainMenu {
namespace {

bool passwordGiven(uintptr_t icon) {
    modGlobals::PasswordOK = false;
    frmPassword prompt(icon);
    prompt.Show();
    return modGlobals::PasswordOK;
}

} // namespace

void Administration(uintptr_t mainWindowIcon) {
    if (!passwordGiven(mainWindowIcon)) {
        return;
    }
    // The dialog shows and edits what settings.ini holds now, whoever saved it last.
    modGlobals::FollowSettingsFile();
    frmAdmin dialog(mainWindowIcon);
    dialog.Show();
}

void Readme(uintptr_t mainWindow) {
    // A missing readme.txt gets no message of the program's own.
    platform::get<Windowing>().ShellOpen(VtkModule::DocPath() + "readme.txt", "", mainWindow, "", "");
}

std::string AboutText() {
    const ProgramVersion v = platform::get<ProgramInfo>().Version();
    return "Quietwire V" + std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision) +
           "\r\n\r\n" + Credits::AboutLines;
}

void About() {
    platform::get<Windowing>().MsgBox(AboutText(), MsgBoxIcon::Information, AppTitle);
}

void Exit(Form& mainWindow, uintptr_t mainWindowIcon) {
    if (passwordGiven(mainWindowIcon)) {
        mainWindow.Close();
    }
}

} // namespace MainMenu
