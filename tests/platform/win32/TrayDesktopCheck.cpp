// Runs on Wine's virtual desktop (started by desktop-check.sh): finds the taskbar, builds a form from
// a layout table, adds the tray icon through VeskTray, swaps its picture, shows a warning balloon at
// the icon and finds it on the desktop, tells the script to take its screenshot, then removes the
// icon. Creates the passed file when the shell took every call and the balloon showed the warning.
//   desktop-check.sh <this program> <artefact folder>
#include "platform/Platform.h"
#include "platform/ProgramIcons.h"
#include "platform/TrayShell.h"
#include "platform/Windowing.h"
#include "support/SampleForm.h"
#include "tray/VeskTray.h"

#include <windows.h>

#include <algorithm>
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
    bool ShowNotification(uintptr_t window, uint32_t id, const std::string& title, const std::string& text) override {
        const bool ok = real_.ShowNotification(window, id, title, text);
        if (!ok) {
            failures.push_back("Shell_NotifyIconW balloon");
        }
        return ok;
    }

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

// The texts of the balloons on the desktop: Wine's explorer shows one as a balloon tooltip of its own,
// a visible top-level window of class tooltips_class32 that WM_GETTEXT asks for the tip it shows.
BOOL CALLBACK collectBalloon(HWND window, LPARAM texts) {
    char windowClass[64] = {};
    GetClassNameA(window, windowClass, sizeof windowClass);
    if (IsWindowVisible(window) && std::string(windowClass) == "tooltips_class32") {
        wchar_t text[512] = {};
        SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
        reinterpret_cast<std::vector<std::wstring>*>(texts)->push_back(text);
    }
    return TRUE;
}

PictureRef picture(ProgramIcon icon) {
    return std::make_shared<const Picture>(Picture{PictureType::Icon, LoadProgramIcon(icon)});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <ready file> <done file> <passed file>\n", argv[0]);
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

        // Longer than the balloon's text field holds, as a warning with many ports' entries may be, and
        // with a character that the ANSI code page (Windows-1252 under Wine's English locales) and
        // UTF-16 number differently: the euro sign.
        if (GetACP() != 1252) {
            shell.failures.push_back("the ANSI code page is " + std::to_string(GetACP()) + ", not Windows-1252");
        }
        std::string warning = "Closed ports close at 22:00 (in 5 minutes)\n\x80";
        while (warning.size() < 300) {
            warning += "\n" + std::to_string(8000 + warning.size()) + " TCP";
        }
        shell.ShowNotification(form->Handle(), 0, "Vesk Quietwire", warning);
        std::wstring shown;
        for (const char c : warning.substr(0, 255)) {
            shown += c == '\x80' ? L'\u20ac' : static_cast<wchar_t>(c);
        }
        bool seen = false;
        for (int waited = 0; !seen && waited < 10000; waited += 100) {
            pumpFor(*windowing, 100);
            std::vector<std::wstring> texts;
            EnumWindows(collectBalloon, reinterpret_cast<LPARAM>(&texts));
            seen = std::find(texts.begin(), texts.end(), shown) != texts.end();
        }
        if (!seen) {
            shell.failures.push_back("no balloon on the desktop with the warning cut to its field");
        }

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
    if (!shell.failures.empty()) {
        return 1;
    }
    // Explorer does not hand the program's exit code on to the script.
    CloseHandle(CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return 0;
}
