#include "platform/TrayShell.h"
#include "platform/win32/WideText.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <cstring>
#include <string>

// The first version of the record: 88 bytes with 32-bit pointers, 104 with 64-bit ones.
static_assert(NOTIFYICONDATAA_V1_SIZE == (sizeof(void*) == 8 ? 104 : 88));

namespace {

// The text in the program's ANSI code page as UTF-16 in a field of the record, cut to leave room for
// the terminator; an empty field where it cannot be converted.
template <size_t N> void copyWide(const std::string& text, wchar_t (&field)[N]) {
    const std::wstring wide = wideText(text, CP_ACP);
    const size_t kept = wide.size() < N ? wide.size() : N - 1;
    wide.copy(field, kept);
    field[kept] = L'\0';
}

// The procedure TrayWndProc replaced; one for the module, as one icon is in the tray at a time.
WNDPROC PrevWndProc = nullptr;

// The shell broadcasts this to top-level windows when Explorer restarts and makes a new taskbar.
UINT taskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The user data holds the component, set when the procedure was installed; not an owner.
    auto* sink = reinterpret_cast<TrayMessageSink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (sink != nullptr && message == TRAY_CALLBACK_MESSAGE) {
        sink->HandleTrayMessage(static_cast<uint32_t>(lParam), static_cast<uint32_t>(wParam));
    } else if (sink != nullptr && message == taskbarCreatedMessage()) {
        sink->TaskbarCreated();
    }
    return CallWindowProcA(PrevWndProc, window, message, wParam, lParam);
}

class Win32TrayShell final : public TrayShell {
public:
    bool NotifyIcon(uint32_t message, const TrayIconData& data) override {
        NOTIFYICONDATAA record{};
        record.cbSize = NOTIFYICONDATAA_V1_SIZE;
        record.hWnd = reinterpret_cast<HWND>(data.hWnd);
        record.uID = data.uID;
        record.uFlags = data.uFlags;
        record.uCallbackMessage = data.uCallbackMessage;
        record.hIcon = reinterpret_cast<HICON>(data.hIcon);
        std::memcpy(record.szTip, data.szTip, sizeof data.szTip);
        return Shell_NotifyIconA(message, &record) != FALSE;
    }

    // A balloon needs the larger record of the shell's version 5 (in UTF-16); the icon's own record is
    // left as the tray component made it, so only the balloon's fields are sent.
    bool ShowNotification(uintptr_t window, uint32_t id, const std::string& title, const std::string& text) override {
        NOTIFYICONDATAW record{};
        record.cbSize = NOTIFYICONDATAW_V2_SIZE;
        record.hWnd = reinterpret_cast<HWND>(window);
        record.uID = id;
        record.uFlags = NIF_INFO;
        copyWide(title, record.szInfoTitle);
        copyWide(text, record.szInfo);
        record.dwInfoFlags = NIIF_WARNING;
        return Shell_NotifyIconW(NIM_MODIFY, &record) != FALSE;
    }

    uintptr_t TaskbarWindow() override { return reinterpret_cast<uintptr_t>(FindWindowA("Shell_TrayWnd", nullptr)); }

    void HookWindow(uintptr_t window, TrayMessageSink& sink) override {
        const HWND hwnd = reinterpret_cast<HWND>(window);
        PrevWndProc =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TrayWndProc)));
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&sink));
    }

    void UnhookWindow(uintptr_t window) override {
        SetWindowLongPtrA(reinterpret_cast<HWND>(window), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PrevWndProc));
    }
};

} // namespace

TrayShell& systemTrayShell() {
    static Win32TrayShell instance;
    return instance;
}
