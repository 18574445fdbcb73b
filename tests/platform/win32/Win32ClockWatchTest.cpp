#include "platform/win32/Win32ClockWatch.h"
#include "platform/TrayShell.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// The window procedure that the clock watch puts on a window: WM_TIMECHANGE goes to the portable
// procedure, which passes every other message on to the window's own procedure. Wine sends no
// WM_TIMECHANGE when a program sets the time, so the test sends it as the system would. Wine cannot
// change its time zone (SetDynamicTimeZoneInformation is missing), so the zone a watch reads is the
// test's own.
namespace {

std::vector<UINT> ownMessages;
std::vector<UINT> heard;
uintptr_t previous = 0;

LRESULT CALLBACK OwnProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMECHANGE || message == WM_SETTINGCHANGE || message >= WM_USER) {
        ownMessages.push_back(message);
        return static_cast<LRESULT>(wParam + lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// As the program's watcher does: the time change is its own, everything else goes on.
intptr_t watcher(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    heard.push_back(message);
    if (message == TimeChangeMessage) {
        return 0;
    }
    return systemClockWatch().CallWindowProc(previous, window, message, wParam, lParam);
}

DYNAMIC_TIME_ZONE_INFORMATION testZone{};

DWORD WINAPI readTestZone(PDYNAMIC_TIME_ZONE_INFORMATION zone) {
    *zone = testZone;
    return TIME_ZONE_ID_STANDARD;
}

void setTestZone(const wchar_t* key, LONG bias) {
    lstrcpynW(testZone.TimeZoneKeyName, key, 128);
    testZone.Bias = bias;
}

void pumpFor(DWORD millis) {
    const DWORD start = GetTickCount();
    for (MSG message; GetTickCount() - start < millis; Sleep(10)) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
}

void sendSettingChange(HWND window) {
    SendMessageA(window, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("intl"));
}

class RecordingSink : public TrayMessageSink {
public:
    int received = 0;
    void HandleTrayMessage(uint32_t, uint32_t) override { ++received; }
};

class Win32ClockWatch : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = OwnProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QuietwireClockWatchTest";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "QuietwireClockWatchTest", "", WS_OVERLAPPED, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        handle = reinterpret_cast<uintptr_t>(window);
        ownMessages.clear();
        heard.clear();
    }
    void TearDown() override { DestroyWindow(window); }

    HWND window = nullptr;
    uintptr_t handle = 0;
    ClockWatch& watch = systemClockWatch();
};

} // namespace

TEST_F(Win32ClockWatch, TheTimeChangeReachesTheProcedureOnceAndOtherMessagesComeBackUnchanged) {
    previous = watch.SetWindowProc(handle, watcher);
    ASSERT_EQ(previous, reinterpret_cast<uintptr_t>(&OwnProc));
    EXPECT_EQ(watch.SetWindowProc(handle, watcher), 0u) << "a window is watched once";

    EXPECT_EQ(SendMessageA(window, WM_TIMECHANGE, 0, 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_USER + 5, 40, 2), 42) << "the own procedure's result";
    sendSettingChange(window); // the system's zone, read again, is no change
    EXPECT_EQ(heard, (std::vector<UINT>{WM_TIMECHANGE, WM_USER + 5, WM_SETTINGCHANGE}));
    EXPECT_EQ(ownMessages, (std::vector<UINT>{WM_USER + 5, WM_SETTINGCHANGE}));

    watch.RestoreWindowProc(handle, previous);
    EXPECT_EQ(SendMessageA(window, WM_TIMECHANGE, 1, 0), 1);
    EXPECT_EQ(heard.size(), 3u) << "nothing reaches the procedure once restored";
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&OwnProc));
}

TEST_F(Win32ClockWatch, RestoringUnderTheTrayShellsProcedureKeepsTheTrayWorking) {
    previous = watch.SetWindowProc(handle, watcher);
    ASSERT_NE(previous, 0u);
    RecordingSink sink;
    systemTrayShell().HookWindow(handle, sink);

    watch.RestoreWindowProc(handle, previous);
    EXPECT_EQ(SendMessageA(window, TRAY_CALLBACK_MESSAGE, 40, 2), 42);
    EXPECT_EQ(SendMessageA(window, WM_TIMECHANGE, 0, 0), 0);
    EXPECT_EQ(sink.received, 1) << "the tray's procedure is still in place";
    EXPECT_EQ(ownMessages, (std::vector<UINT>{TRAY_CALLBACK_MESSAGE, WM_TIMECHANGE}));
    EXPECT_TRUE(heard.empty()) << "nothing reaches the procedure once restored";

    systemTrayShell().UnhookWindow(handle);
    EXPECT_EQ(SendMessageA(window, WM_USER + 5, 1, 1), 2);
}

TEST_F(Win32ClockWatch, AChangeOfTheZoneIsHeardOnceAsATimeChangeWhetherAnnouncedOrNot) {
    setTestZone(L"W. Europe Standard Time", -60);
    const std::unique_ptr<ClockWatch> zoneWatch = makeClockWatch(&readTestZone);
    previous = zoneWatch->SetWindowProc(handle, watcher);
    ASSERT_NE(previous, 0u);
    sendSettingChange(window); // the same zone

    setTestZone(L"Tokyo Standard Time", -540);
    sendSettingChange(window);
    setTestZone(L"Tokyo Standard Time", 300); // its own rules under the name, announced by nobody
    pumpFor(2 * ZoneLookInterval);
    setTestZone(L"UTC", 0);
    EXPECT_EQ(SendMessageA(window, WM_TIMECHANGE, 0, 0), 0); // as the system announces it
    pumpFor(2 * ZoneLookInterval);
    sendSettingChange(window);
    EXPECT_EQ(heard, (std::vector<UINT>{WM_SETTINGCHANGE, WM_TIMECHANGE, WM_SETTINGCHANGE, WM_TIMECHANGE, WM_TIMECHANGE,
                                        WM_SETTINGCHANGE}));
    EXPECT_EQ(ownMessages, (std::vector<UINT>{WM_SETTINGCHANGE, WM_SETTINGCHANGE, WM_SETTINGCHANGE}));
    zoneWatch->RestoreWindowProc(handle, previous);
}
