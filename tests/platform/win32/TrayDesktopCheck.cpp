// Runs on Wine's virtual desktop (started by desktop-check.sh): finds the taskbar, builds a form from
// a layout table, adds the tray icon through VeskTray, swaps its picture, tells the script to take
// its screenshot, then removes the icon. Exits 0 when the shell took every call.
//   desktop-check.sh <this program> <artefact folder>
#include "platform/Platform.h"
#include "platform/ProgramIcons.h"
#include "platform/TrayShell.h"
#include "platform/Windowing.h"
#include "support/SampleForm.h"
#include "tray/VeskTray.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// The real shell, with every result kept.
class CheckedShell : public TrayShell {
public:
    std::vector<std::string> failures;

    bool NotifyIcon(uint32_t message, const TrayIconData& data) override {
        const bool ok = real_.NotifyIcon(message, data);
        if (!ok) {
            failures.push_back("Shell_NotifyIconA message " + std::to_string(message));
        }
        return ok;
    }
    uintptr_t TaskbarWindow() override { return real_.TaskbarWindow(); }
    void HookWindow(uintptr_t window, TrayMessageSink& sink) override { real_.HookWindow(window, sink); }
    void UnhookWindow(uintptr_t window) override { real_.UnhookWindow(window); }

private:
    TrayShell& real_ = systemTrayShell();
};

class Host : public VeskTrayHost {
public:
    bool UserMode() const override { return true; }
};

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void pumpFor(Windowing& windowing, int millis) {
    for (int waited = 0; waited < millis; waited += 20) {
        windowing.DoEvents();
        Sleep(20);
    }
}

PictureRef picture(ProgramIcon icon) {
    return std::make_shared<const Picture>(Picture{PictureType::Icon, LoadProgramIcon(icon)});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <ready file> <done file>\n", argv[0]);
        return 2;
    }
    auto windowing = makeSystemWindowing(false);
    CheckedShell shell;
    platform::ScopedInstall<TrayShell> useShell(shell);
    platform::ScopedInstall<Windowing> useWindowing(*windowing);

    for (int waited = 0; shell.TaskbarWindow() == 0; waited += 100) {
        if (waited > 15000) {
            std::fprintf(stderr, "no taskbar (Shell_TrayWnd) on the desktop\n");
            return 3;
        }
        Sleep(100);
    }

    FormHandlers handlers;
    const std::unique_ptr<Form> form = windowing->CreateForm(passwordLayout(), handlers);
    form->Show(false);

    Host host;
    {
        VeskTray tray(form->Handle(), host, picture(ProgramIcon::Open));
        tray.InitProperties();
        tray.TrayTip("Vesk Quietwire");
        tray.InTray(true);
        tray.TrayIcon(picture(ProgramIcon::Blocked)); // the swap the enforcement tick makes
        pumpFor(*windowing, 1500);

        HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        CloseHandle(ready);
        for (int waited = 0; !exists(argv[2]) && waited < 20000; waited += 100) {
            pumpFor(*windowing, 100);
        }
        tray.InTray(false);
    }
    for (const std::string& failure : shell.failures) {
        std::fprintf(stderr, "failed: %s\n", failure.c_str());
    }
    return shell.failures.empty() ? 0 : 1;
}
