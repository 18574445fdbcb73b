#pragma once
#include <cstdint>

// A window procedure as portable code writes one: the window, the message, and its two parameters.
using WindowProcedure = intptr_t (*)(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// WM_TIMECHANGE: the system time was changed.
inline constexpr uint32_t TimeChangeMessage = 30;

// Changes of the system time, heard through the main window's procedure: once a procedure is set on
// the window, it hears TimeChangeMessage once for every change of the system time and for every change
// of the system's time zone (which moves local time as setting the clock does; a daylight-saving
// transition within the zone's rules is neither), on the user-interface thread, from the event loop.
class ClockWatch {
public:
    virtual ~ClockWatch() = default;
    // SetWindowLongPtrA(window, GWLP_WNDPROC, procedure): procedure becomes the window's procedure;
    // returns the procedure it replaced, 0 when it could not be set.
    virtual uintptr_t SetWindowProc(uintptr_t window, WindowProcedure procedure) = 0;
    // Puts back a procedure that SetWindowProc returned; afterwards nothing more reaches procedure.
    virtual void RestoreWindowProc(uintptr_t window, uintptr_t previous) = 0;
    // CallWindowProcA(previous, window, message, wParam, lParam).
    virtual intptr_t CallWindowProc(uintptr_t previous, uintptr_t window, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam) = 0;
};

ClockWatch& systemClockWatch();
