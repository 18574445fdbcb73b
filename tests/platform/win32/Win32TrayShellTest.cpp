#include "platform/TrayShell.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

// The window procedure that the tray shell puts on the component's window: the callback message goes
// to the component first, and every message then to the window's own procedure.
namespace {

std::vector<UINT> ownMessages;

LRESULT CALLBACK OwnProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER) {
        ownMessages.push_back(message);
        return 42;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class RecordingSink : public TrayMessageSink {
public:
    std::vector<std::pair<uint32_t, uint32_t>> received;
    int taskbarsCreated = 0;
    void HandleTrayMessage(uint32_t mouseMessage, uint32_t id) override { received.emplace_back(mouseMessage, id); }
    void TaskbarCreated() override { ++taskbarsCreated; }
};

HWND makeWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = OwnProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuietwireTrayShellTest";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "QuietwireTrayShellTest", "", WS_OVERLAPPED, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

} // namespace

TEST(Win32TrayShell, CallbackMessagesReachTheComponentWhileHookedAndEveryMessagePassesOn) {
    const HWND window = makeWindow();
    ASSERT_NE(window, nullptr);
    RecordingSink sink;
    TrayShell& shell = systemTrayShell();
    ownMessages.clear();

    shell.HookWindow(reinterpret_cast<uintptr_t>(window), sink);
    EXPECT_EQ(SendMessageA(window, TRAY_CALLBACK_MESSAGE, 0, WM_RBUTTONUP), 42);
    EXPECT_EQ(SendMessageA(window, WM_USER + 5, 1, 2), 42);
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0], std::make_pair(uint32_t{WM_RBUTTONUP}, uint32_t{0}));
    EXPECT_EQ(ownMessages, (std::vector<UINT>{TRAY_CALLBACK_MESSAGE, WM_USER + 5}));

    SendMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_EQ(sink.taskbarsCreated, 1) << "the shell's news of a new taskbar reaches the component";

    shell.UnhookWindow(reinterpret_cast<uintptr_t>(window));
    SendMessageA(window, TRAY_CALLBACK_MESSAGE, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(sink.received.size(), 1u) << "after the unhook the window's own procedure is back";
    EXPECT_EQ(ownMessages.size(), 4u);
    DestroyWindow(window);
}
