#include "platform/win32/Win32ClockWatch.h"
#include "platform/TrayShell.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// The window procedure that the clock watch puts on a window: WM_TIMECHANGE goes to the portable
// procedure, which passes every other message on to the window's own procedure. Wine sends no
// WM_TIMECHANGE when a program sets the time, so the test sends it as the system would. Wine cannot
// change its time zone (it takes the host's; SetDynamicTimeZoneInformation is not there), so a change
// of the zone is a zone of the test's own that the watch reads.
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

// The zone the test's watch reads.
DYNAMIC_TIME_ZONE_INFORMATION testZone{};

DWORD WINAPI readTestZone(PDYNAMIC_TIME_ZONE_INFORMATION zone) {
    *zone = testZone;
    return TIME_ZONE_ID_STANDARD;
}

void setTestZone(const wchar_t* key, LONG bias) {
    testZone = {};
    testZone.Bias = bias;
    lstrcpynW(testZone.TimeZoneKeyName, key, 128);
    lstrcpynW(testZone.StandardName, key, 32);
}

// Runs the window's messages for a while, as the program's loop does.
void pumpFor(DWORD millis) {
    const DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < millis) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

constexpr char SettingArea[] = "intl";

// True when the window's own procedure answered it.
bool sendSettingChange(HWND window) {
    return SendMessageA(window, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(SettingArea)) ==
           reinterpret_cast<LRESULT>(SettingArea);
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
    EXPECT_EQ(heard, (std::vector<UINT>{WM_TIMECHANGE, WM_USER + 5}));
    EXPECT_EQ(ownMessages, std::vector<UINT>{WM_USER + 5});

    watch.RestoreWindowProc(handle, previous);
    EXPECT_EQ(SendMessageA(window, WM_TIMECHANGE, 1, 0), 1);
    EXPECT_EQ(heard.size(), 2u) << "nothing reaches the procedure once restored";
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

TEST_F(Win32ClockWatch, AChangeOfTheZoneAnnouncedAsASettingChangeIsHeardAsATimeChangeAndTheSettingGoesOn) {
    setTestZone(L"W. Europe Standard Time", -60);
    const std::unique_ptr<ClockWatch> zoneWatch = makeClockWatch(&readTestZone);
    previous = zoneWatch->SetWindowProc(handle, watcher);
    ASSERT_NE(previous, 0u);

    EXPECT_TRUE(sendSettingChange(window));
    EXPECT_EQ(heard, std::vector<UINT>{WM_SETTINGCHANGE}) << "the zone is as it was";

    setTestZone(L"Central Pacific Standard Time", -660);
    EXPECT_TRUE(sendSettingChange(window));
    EXPECT_EQ(heard, (std::vector<UINT>{WM_SETTINGCHANGE, WM_TIMECHANGE, WM_SETTINGCHANGE}));
    EXPECT_EQ(ownMessages, (std::vector<UINT>{WM_SETTINGCHANGE, WM_SETTINGCHANGE}));
    pumpFor(2 * ZoneLookInterval);
    EXPECT_EQ(heard.size(), 3u) << "one change of the zone is heard once";
    zoneWatch->RestoreWindowProc(handle, previous);
}

TEST_F(Win32ClockWatch, AChangeOfTheZoneNobodyAnnouncesIsHeardOnceWithinALookAndOneWithATimeChangeOnlyWithIt) {
    setTestZone(L"W. Europe Standard Time", -60);
    const std::unique_ptr<ClockWatch> zoneWatch = makeClockWatch(&readTestZone);
    previous = zoneWatch->SetWindowProc(handle, watcher);
    ASSERT_NE(previous, 0u);

    testZone.DaylightBias = 0; // rules of its own, under the same name
    testZone.Bias = 300;
    pumpFor(3 * ZoneLookInterval);
    EXPECT_EQ(heard, std::vector<UINT>{WM_TIMECHANGE});

    setTestZone(L"Tokyo Standard Time", -540);
    EXPECT_EQ(SendMessageA(window, WM_TIMECHANGE, 0, 0), 0); // as the system announces it
    pumpFor(3 * ZoneLookInterval);
    EXPECT_TRUE(sendSettingChange(window));
    EXPECT_EQ(heard, (std::vector<UINT>{WM_TIMECHANGE, WM_TIMECHANGE, WM_SETTINGCHANGE}));

    zoneWatch->RestoreWindowProc(handle, previous);
    setTestZone(L"UTC", 0);
    pumpFor(2 * ZoneLookInterval);
    EXPECT_EQ(heard.size(), 3u) << "nothing reaches the procedure once restored";
}

TEST_F(Win32ClockWatch, TheSystemsOwnZoneReadAgainAndAgainIsNoChange) {
    previous = watch.SetWindowProc(handle, watcher);
    ASSERT_NE(previous, 0u);
    pumpFor(3 * ZoneLookInterval);
    EXPECT_TRUE(sendSettingChange(window));
    EXPECT_EQ(heard, std::vector<UINT>{WM_SETTINGCHANGE});
    watch.RestoreWindowProc(handle, previous);
}
