#include "platform/ClockWatch.h"

#include <windows.h>
// windows.h makes CallWindowProc a macro for CallWindowProcA, which would rename the interface's method.
#undef CallWindowProc

#include <memory>

namespace {

// The window's user data belongs to the tray component and its form is another property, so the
// watch keeps its own state in a property of its own.
constexpr const char* HookProperty = "QuietwireClockWatch";

struct Hook {
    WindowProcedure procedure; // null once restored while another procedure still calls ours
    WNDPROC previous;
};

Hook* hookOf(HWND window) {
    return static_cast<Hook*>(GetPropA(window, HookProperty));
}

void dropHook(HWND window) {
    delete static_cast<Hook*>(RemovePropA(window, HookProperty));
}

LRESULT CALLBACK ClockTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const Hook* hook = hookOf(window);
    if (hook == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // Copied out: the procedure may restore the watch (the program closing under a message box).
    const WindowProcedure procedure = hook->procedure;
    const LRESULT result = procedure != nullptr
                               ? procedure(reinterpret_cast<uintptr_t>(window), message, wParam, lParam)
                               : CallWindowProcA(hook->previous, window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        dropHook(window);
    }
    return result;
}

class Win32ClockWatch final : public ClockWatch {
public:
    uintptr_t SetWindowProc(uintptr_t window, WindowProcedure procedure) override {
        const HWND hwnd = reinterpret_cast<HWND>(window);
        if (procedure == nullptr || !IsWindow(hwnd)) {
            return 0;
        }
        if (Hook* hook = hookOf(hwnd)) {
            if (hook->procedure != nullptr) {
                return 0; // a second trampoline would pass messages on to itself
            }
            hook->procedure = procedure;
            return reinterpret_cast<uintptr_t>(hook->previous);
        }
        auto hook = std::make_unique<Hook>(Hook{procedure, nullptr});
        if (!SetPropA(hwnd, HookProperty, hook.get())) {
            return 0;
        }
        const LONG_PTR previous = SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ClockTrampoline));
        if (previous == 0) {
            RemovePropA(hwnd, HookProperty);
            return 0;
        }
        hook.release()->previous = reinterpret_cast<WNDPROC>(previous);
        return static_cast<uintptr_t>(previous);
    }

    void RestoreWindowProc(uintptr_t window, uintptr_t previous) override {
        const HWND hwnd = reinterpret_cast<HWND>(window);
        Hook* hook = hookOf(hwnd);
        if (hook == nullptr) {
            return;
        }
        if (GetWindowLongPtrA(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&ClockTrampoline)) {
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, static_cast<LONG_PTR>(previous));
            dropHook(hwnd);
        } else {
            // Another procedure was set over ours since and still passes messages to it; putting the
            // old one back would cut that one out. Ours stays in the chain and only passes them on.
            hook->procedure = nullptr;
            hook->previous = reinterpret_cast<WNDPROC>(previous);
        }
    }

    intptr_t CallWindowProc(uintptr_t previous, uintptr_t window, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) override {
        return CallWindowProcA(reinterpret_cast<WNDPROC>(previous), reinterpret_cast<HWND>(window), message, wParam,
                               lParam);
    }
};

} // namespace

ClockWatch& systemClockWatch() {
    static Win32ClockWatch instance;
    return instance;
}
