#pragma once

#include <cstdint>
#include <string>

// The notification area ("tray") of the shell: one icon per owner window and identifier.

// Shell_NotifyIconA's messages and the record's flags.
namespace TrayMessage {
inline constexpr uint32_t Add = 0;    // NIM_ADD
inline constexpr uint32_t Modify = 1; // NIM_MODIFY
inline constexpr uint32_t Delete = 2; // NIM_DELETE
} // namespace TrayMessage

namespace TrayFlag {
inline constexpr uint32_t Message = 1; // NIF_MESSAGE
inline constexpr uint32_t Icon = 2;    // NIF_ICON
inline constexpr uint32_t Tip = 4;     // NIF_TIP
} // namespace TrayFlag

inline constexpr uint32_t TRAY_CALLBACK_MESSAGE = 1125; // WM_USER + 101

// The mouse messages the shell reports in the callback's lParam.
namespace MouseMessage {
inline constexpr uint32_t Move = 0x200;        // WM_MOUSEMOVE
inline constexpr uint32_t LeftDown = 0x201;    // WM_LBUTTONDOWN
inline constexpr uint32_t LeftUp = 0x202;      // WM_LBUTTONUP
inline constexpr uint32_t LeftDouble = 0x203;  // WM_LBUTTONDBLCLK
inline constexpr uint32_t RightDown = 0x204;   // WM_RBUTTONDOWN
inline constexpr uint32_t RightUp = 0x205;     // WM_RBUTTONUP
inline constexpr uint32_t RightDouble = 0x206; // WM_RBUTTONDBLCLK
inline constexpr uint32_t MiddleUp = 0x208;    // WM_MBUTTONUP
} // namespace MouseMessage

// The fields of the shell's NOTIFYICONDATAA record (first version of the shell) that the tray
// component fills; the backend adds cbSize for its pointer width.
struct TrayIconData {
    uintptr_t hWnd = 0;
    uint32_t uID = 0;
    uint32_t uFlags = 0;
    uint32_t uCallbackMessage = 0;
    uintptr_t hIcon = 0;
    char szTip[64] = {};
};

// Receives the mouse messages of a tray icon (the callback message's lParam and wParam), and the
// news that the taskbar was made anew, with every icon gone from it.
class TrayMessageSink {
public:
    virtual ~TrayMessageSink() = default;
    virtual void HandleTrayMessage(uint32_t mouseMessage, uint32_t id) = 0;
    virtual void TaskbarCreated() {}
};

class TrayShell {
public:
    virtual ~TrayShell() = default;

    // Shell_NotifyIconA. The program does not look at the result.
    virtual bool NotifyIcon(uint32_t message, const TrayIconData& data) = 0;
    // The taskbar's window (FindWindowA("Shell_TrayWnd")), 0 when there is none.
    virtual uintptr_t TaskbarWindow() = 0;
    // Routes the callback messages sent to window to sink, ahead of the window's own procedure
    // (TrayWndProc, installed with SetWindowLongPtrA), until UnhookWindow puts the old one back.
    virtual void HookWindow(uintptr_t window, TrayMessageSink& sink) = 0;
    virtual void UnhookWindow(uintptr_t window) = 0;
    // A notification at the icon of window and id (a balloon on Windows, the desktop's notification or
    // Qt's own balloon on Linux); false where it could not be shown. Where a shell shows none at all, the
    // default says so.
    virtual bool ShowNotification(uintptr_t window, uint32_t id, const std::string& title, const std::string& text) {
        (void)window, (void)id, (void)title, (void)text;
        return false;
    }
};

// The Win32 backend's Shell_NotifyIconA; the Qt backend's QSystemTrayIcon.
TrayShell& systemTrayShell();
