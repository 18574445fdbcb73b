#pragma once

#include <cstdint>

// The clock-change watcher on the main window: every change of the system time reaches
// frmMain::ClockNotify; other messages go on to the window's own procedure.
namespace modClockNotify {

inline uintptr_t PrevClockProc = 0; // the procedure the watcher replaced; 0 while not installed

void InstallClockWatch(uintptr_t hwnd);
void RemoveClockWatch(uintptr_t hwnd);
intptr_t ClockWndProc(uintptr_t hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);

} // namespace modClockNotify
