#include "admin/MainMenu.h"

#include "admin/Administration.h"
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

// One administration at a time. A modal window's owner takes no input, but the tray icon cannot be
// disabled: a second request (a double click, the menu) while the password prompt or the dialog is open
// would stack a second prompt over the first, and one of the two answers would be lost. It brings the
// open window forward instead.
struct UnderWay {
    bool active = false;
    uintptr_t window = 0; // the prompt or the dialog; 0 while neither is up (a message box is)
};
UnderWay underWay;

class Administering {
public:
    Administering() { underWay.active = true; }
    ~Administering() { underWay = {}; }
    Administering(const Administering&) = delete;
    Administering& operator=(const Administering&) = delete;
};

class Showing {
public:
    explicit Showing(uintptr_t window) { underWay.window = window; }
    ~Showing() { underWay.window = 0; }
    Showing(const Showing&) = delete;
    Showing& operator=(const Showing&) = delete;
};

bool alreadyUnderWay() {
    if (!underWay.active) {
        return false;
    }
    if (underWay.window != 0) {
        platform::get<Windowing>().BringToFront(underWay.window);
    }
    return true;
}

bool passwordGiven(uintptr_t icon) {
    modGlobals::PasswordOK = false;
    frmPassword prompt(icon);
    const Showing shown(prompt.Handle());
    prompt.Show();
    return modGlobals::PasswordOK;
}

} // namespace

void Administration(uintptr_t mainWindowIcon) {
    if (alreadyUnderWay()) {
        return;
    }
    const Administering session;
    if (!passwordGiven(mainWindowIcon)) {
        return;
    }
    // The dialog shows and edits what is kept now, whoever changed it last.
    if (const Result fetched = Administration::Keeper().Fetch(); !fetched) {
        platform::get<Windowing>().MsgBox(fetched.reason(), MsgBoxIcon::Exclamation, AppTitle);
        return;
    }
    frmAdmin dialog(mainWindowIcon);
    const Showing shown(dialog.Handle());
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
    if (alreadyUnderWay()) {
        return;
    }
    const Administering session;
    if (passwordGiven(mainWindowIcon)) {
        mainWindow.Close();
    }
}

} // namespace MainMenu
