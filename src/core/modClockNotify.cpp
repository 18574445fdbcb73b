#include "core/modClockNotify.h"

#include "core/frmMain.h"
#include "platform/ClockWatch.h"
#include "platform/Platform.h"

namespace modClockNotify {

void InstallClockWatch(uintptr_t hwnd) {
    // A watcher that cannot be installed leaves clock changes unnoticed; enforcement goes on.
    PrevClockProc = platform::get<ClockWatch>().SetWindowProc(hwnd, &ClockWndProc);
}

void RemoveClockWatch(uintptr_t hwnd) {
    if (PrevClockProc == 0) {
        return;
    }
    platform::get<ClockWatch>().RestoreWindowProc(hwnd, PrevClockProc);
    PrevClockProc = 0;
}

intptr_t ClockWndProc(uintptr_t hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (msg == TimeChangeMessage) {
        try {
            if (frmMain* form = frmMain::Current()) {
                form->ClockNotify();
            }
        } catch (...) {
            // A window procedure must return to the system whatever the handler met.
        }
        return 0;
    }
    return platform::get<ClockWatch>().CallWindowProc(PrevClockProc, hwnd, msg, wParam, lParam);
}

} // namespace modClockNotify
