// The password prompt and the administration dialog on the Win32 windowing under Wine: what only this
// backend does, driven with the messages a user's keys and clicks make while the program waits in their
// modal loops.
#include "admin/AdminLayouts.h"
#include "fakes/FormRecorder.h"
#include "platform/AdminFormsConformance.h"
#include "platform/win32/Win32Driver.h"
#include "support/SampleForm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char FormClass[] = "QuietwireForm";

HWND child(HWND parent, const char* windowClass, const char* text) {
    return FindWindowExA(parent, nullptr, windowClass, text);
}

void press(HWND control, UINT key) {
    PostMessageA(control, WM_KEYDOWN, key, 0);
}

// The user's click in the middle of a control, through the system's input queue as the mouse gives it.
void clickOn(HWND control) {
    RECT place;
    GetWindowRect(control, &place);
    SetCursorPos((place.left + place.right) / 2, (place.top + place.bottom) / 2);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, clicks, sizeof clicks[0]);
}

using AdminFormsTest = AdminFormsConformance<Win32Driver>;
using Win32User = User<Win32Driver>;

} // namespace

// A group box draws only its edge and caption; what is inside it is the form's to paint.
TEST_F(AdminFormsTest, TheInsideOfAFrameShowsTheFormsBackground) {
    FormHandlers handlers;
    Win32Form form(frmAdminLayout(), handlers);
    form.Show(false);
    Win32Driver::pump();
    const HWND frame = form.control("Frame2");
    RECT inside;
    GetWindowRect(frame, &inside);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(form.Handle()), reinterpret_cast<POINT*>(&inside), 2);
    const HDC dc = GetDC(reinterpret_cast<HWND>(form.Handle()));
    const COLORREF bottomLeft = GetPixel(dc, inside.left + 4, inside.bottom - 6);
    ReleaseDC(reinterpret_cast<HWND>(form.Handle()), dc);
    EXPECT_EQ(bottomLeft, GetSysColor(COLOR_BTNFACE));
}

// Win32 only: on Qt, Enter on a focused button that is not the default presses the default button.
TEST_F(AdminFormsTest, EnterPressesTheFocusedButtonCancelAtFirstAndOkFromATimeBox) {
    FormRecorder handlers;
    Win32Form form(frmAdminLayout(), handlers);
    form.Show(false);
    const auto enter = [&] {
        press(GetFocus(), VK_RETURN);
        Win32Driver::pump();
    };
    enter();
    form.SetFocus("Text1", 1);
    enter();
    EXPECT_EQ(handlers.events, (std::vector<std::string>{"Click Command3 -1", "Click Command4 -1"}));
}

namespace {
// Password prompts besides the one the test answers are counted and closed, so that a run that opens
// them still ends.
HWND answeredPrompt = nullptr;
int otherPrompts = 0;
void CALLBACK CloseOtherPrompts(HWND, UINT, UINT_PTR, DWORD) {
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, FormClass, "Vesk Quietwire")) != nullptr;) {
        if (answeredPrompt != nullptr && window != answeredPrompt && IsWindowVisible(window) &&
            GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
            ++otherPrompts;
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
    }
}
} // namespace

// The tray icon cannot be disabled: a double click, or the menu's Exit, may come while the administration
// is under way. An input prompt disables its dialog, and a click there is lost rather than the answer.
TEST_F(AdminFormsTest, OnePromptAtATimeEachKeepingItsOwnerFromInputUntilItCloses) {
    FormRecorder mainHandlers;
    Win32Form mainWindow(pictureLayout(), mainHandlers); // shown here, so that something else is in front
    answeredPrompt = nullptr;
    otherPrompts = 0;
    const UINT_PTR watch = SetTimer(nullptr, 0, 30, CloseOtherPrompts);
    bool promptInFront = false;
    HWND input = nullptr;
    std::vector<bool> dialogEnabled;
    HWND inputOwner = nullptr;
    int ticks = 0;
    bool activeAfter = false;
    Win32User user({
        [&] {
            answeredPrompt = prompt();
            if (answeredPrompt == nullptr) {
                return false;
            }
            mainWindow.Show(false);
            SetForegroundWindow(reinterpret_cast<HWND>(mainWindow.Handle()));
            MainMenu::Administration(0);
            MainMenu::Exit(mainWindow, 0);
            promptInFront = GetForegroundWindow() == answeredPrompt;
            mainWindow.Hide();
            Win32Driver::type(child(answeredPrompt, "Edit", nullptr), "Secret");
            press(child(answeredPrompt, "Edit", nullptr), VK_RETURN);
            return true;
        },
        [&] {
            if (dialog() == nullptr) {
                return false;
            }
            MainMenu::Administration(0);
            return PostMessageA(child(dialog(), "Button", "Add"), BM_CLICK, 0, 0) != FALSE;
        },
        [&] {
            input = Win32Driver::shown(FormClass, "Enter port to exclude:");
            if (input == nullptr) {
                return false;
            }
            dialogEnabled.push_back(IsWindowEnabled(dialog()));
            inputOwner = GetWindow(input, GW_OWNER);
            SetWindowPos(input, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER); // off the dialog's OK
            clickOn(child(dialog(), "Button", "OK"));
            return true;
        },
        [&] {
            if (++ticks < 5) {
                return false; // the click handled, whatever it did
            }
            Win32Driver::type(child(input, "Edit", nullptr), "8080");
            press(child(input, "Edit", nullptr), VK_RETURN);
            return true;
        },
        [&] {
            if (IsWindowVisible(input)) {
                return false;
            }
            dialogEnabled.push_back(IsWindowEnabled(dialog()));
            activeAfter = GetActiveWindow() == dialog();
            clickOn(child(dialog(), "Button", "OK")); // the same click, now that nothing holds the dialog
            return true;
        },
    });
    MainMenu::Administration(0);
    KillTimer(nullptr, watch);

    EXPECT_EQ(user.stepsDone(), 5u) << "a click on the dialog's OK closed it under its prompt";
    EXPECT_EQ(otherPrompts, 0) << "a second password prompt opened";
    EXPECT_TRUE(promptInFront) << "the open prompt was not brought forward";
    EXPECT_TRUE(mainHandlers.events.empty()) << "Exit acted behind the open prompt";
    EXPECT_EQ(dialogEnabled, (std::vector<bool>{false, true})) << "the dialog took input under its prompt";
    EXPECT_NE(inputOwner, nullptr) << "the prompt has no owner: it can go behind the dialog";
    EXPECT_TRUE(activeAfter) << "the dialog did not get the activation back";
    EXPECT_EQ(dialog(), nullptr) << "a click on OK did not close the dialog once the prompt had gone";
    resetSettings();
    EXPECT_TRUE(done(modGlobals::LoadSettings()));
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"443", "21, FTP", "110", "8080"}))
        << "the prompt's answer was lost";
}
