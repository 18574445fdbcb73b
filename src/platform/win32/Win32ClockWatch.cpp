#include "platform/win32/Win32ClockWatch.h"

#include <memory>

namespace {

// The window's user data belongs to the tray component and its form is another property, so the
// watch keeps its own state in a property of its own.
constexpr const char* HookProperty = "QuietwireClockWatch";

// Far above the ids the forms give their controls and timers.
constexpr UINT_PTR ZoneTimer = 0x5157;

struct Hook {
    WindowProcedure procedure; // null once restored while another procedure still calls ours
    WNDPROC previous;
    ReadTimeZone readZone;
    DYNAMIC_TIME_ZONE_INFORMATION zone; // the rules last reported, or seen at the start
};

bool sameDate(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek && a.wDay == b.wDay &&
           a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

// The zone: its name, its offset and whether daylight saving is followed; not its display names, which
// follow the user's language, nor its transition dates, which Windows gives for the current year only and
// which change at New Year in zones whose rules differ by year (that is no change of the clock). A zone
// without a name (set the old way, rules only) is compared by all its rules.
bool sameRules(const DYNAMIC_TIME_ZONE_INFORMATION& a, const DYNAMIC_TIME_ZONE_INFORMATION& b) {
    const bool same = a.Bias == b.Bias && a.DynamicDaylightTimeDisabled == b.DynamicDaylightTimeDisabled &&
                      lstrcmpW(a.TimeZoneKeyName, b.TimeZoneKeyName) == 0;
    if (!same || a.TimeZoneKeyName[0] != L'\0') {
        return same;
    }
    return a.StandardBias == b.StandardBias && a.DaylightBias == b.DaylightBias &&
           sameDate(a.StandardDate, b.StandardDate) && sameDate(a.DaylightDate, b.DaylightDate);
}

// Takes the zone in; true when its rules differ from those last taken in. A zone that cannot be read
// is no news.
bool zoneChanged(Hook& hook) {
    DYNAMIC_TIME_ZONE_INFORMATION now{};
    if (hook.readZone(&now) == TIME_ZONE_ID_INVALID || sameRules(now, hook.zone)) {
        return false;
    }
    hook.zone = now;
    return true;
}

Hook* hookOf(HWND window) {
    return static_cast<Hook*>(GetPropA(window, HookProperty));
}

void dropHook(HWND window) {
    delete static_cast<Hook*>(RemovePropA(window, HookProperty));
}

LRESULT CALLBACK ClockTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Hook* hook = hookOf(window);
    if (hook == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    const auto handle = reinterpret_cast<uintptr_t>(window);
    if (message == WM_TIMER && wParam == ZoneTimer && hook->procedure != nullptr) {
        if (zoneChanged(*hook)) {
            hook->procedure(handle, TimeChangeMessage, 0, 0);
        }
        return 0;
    }
    if (hook->procedure != nullptr) {
        if (message == WM_TIMECHANGE) {
            zoneChanged(*hook); // a change of the zone it announces is reported with it, once
        } else if (message == WM_SETTINGCHANGE && zoneChanged(*hook)) {
            const WNDPROC previous = hook->previous;
            hook->procedure(handle, TimeChangeMessage, 0, 0);
            // The setting change goes on as well; the procedure may have restored the watch meanwhile.
            hook = hookOf(window);
            if (hook == nullptr) {
                return CallWindowProcA(previous, window, message, wParam, lParam);
            }
        }
    }
    // Copied out: the procedure may restore the watch (the program closing under a message box).
    const WindowProcedure procedure = hook->procedure;
    const LRESULT result = procedure != nullptr ? procedure(handle, message, wParam, lParam)
                                                : CallWindowProcA(hook->previous, window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        dropHook(window);
    }
    return result;
}

class Win32ClockWatch final : public ClockWatch {
public:
    explicit Win32ClockWatch(ReadTimeZone readZone) : readZone_(readZone) {}

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
            hook->readZone = readZone_;
            readZone_(&hook->zone);
            SetTimer(hwnd, ZoneTimer, ZoneLookInterval, nullptr);
            return reinterpret_cast<uintptr_t>(hook->previous);
        }
        auto hook = std::make_unique<Hook>(Hook{procedure, nullptr, readZone_, {}});
        readZone_(&hook->zone);
        if (!SetPropA(hwnd, HookProperty, hook.get())) {
            return 0;
        }
        const LONG_PTR previous = SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ClockTrampoline));
        if (previous == 0) {
            RemovePropA(hwnd, HookProperty);
            return 0;
        }
        hook.release()->previous = reinterpret_cast<WNDPROC>(previous);
        SetTimer(hwnd, ZoneTimer, ZoneLookInterval, nullptr);
        return static_cast<uintptr_t>(previous);
    }

    void RestoreWindowProc(uintptr_t window, uintptr_t previous) override {
        const HWND hwnd = reinterpret_cast<HWND>(window);
        Hook* hook = hookOf(hwnd);
        if (hook == nullptr) {
            return;
        }
        KillTimer(hwnd, ZoneTimer);
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

private:
    ReadTimeZone readZone_;
};

} // namespace

std::unique_ptr<ClockWatch> makeClockWatch(ReadTimeZone readZone) {
    return std::make_unique<Win32ClockWatch>(readZone);
}

ClockWatch& systemClockWatch() {
    static Win32ClockWatch instance(&GetDynamicTimeZoneInformation);
    return instance;
}
