// The password prompt and the administration dialog on the Win32 windowing under Wine, driven through
// their controls with the messages a user's keys and clicks make, while the program waits in their
// modal loops.
#include "admin/AdminLayouts.h"
#include "fakes/FormRecorder.h"
#include "platform/AdminFormsConformance.h"
#include "platform/win32/Win32Form.h"
#include "support/SampleForm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char FormClass[] = "QuietwireForm";

// A visible top-level window of this thread (other Wine programs may share the desktop).
HWND shown(const std::string& windowClass, const std::string& caption) {
    struct Search {
        const std::string& windowClass;
        const std::string& caption;
        HWND found;
    } search{windowClass, caption, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM context) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            char name[64] = {};
            char text[256] = {};
            GetClassNameA(window, name, sizeof name);
            GetWindowTextA(window, text, sizeof text);
            if (IsWindowVisible(window) && s.windowClass == name && s.caption == text) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND child(HWND parent, const char* windowClass, const char* text) {
    return FindWindowExA(parent, nullptr, windowClass, text);
}

void type(HWND edit, const std::string& text) {
    for (const char c : text) {
        PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    }
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

// Lets the forms handle what was posted to them and repaint.
void pump() {
    for (int i = 0; i < 10; ++i) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            Win32Form::dispatch(message);
        }
        Sleep(10);
    }
}

// A thread timer, which every message loop of the thread dispatches, modal ones included.
class TickTimer {
public:
    explicit TickTimer(std::function<void()> tick) : id_(SetTimer(nullptr, 0, 30, &TickTimer::fire)) {
        ticks()[id_] = std::move(tick);
    }
    ~TickTimer() {
        KillTimer(nullptr, id_);
        ticks().erase(id_);
    }
    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;

private:
    static std::map<UINT_PTR, std::function<void()>>& ticks() {
        static std::map<UINT_PTR, std::function<void()>> all;
        return all;
    }
    static void CALLBACK fire(HWND, UINT, UINT_PTR id, DWORD) {
        if (const auto it = ticks().find(id); it != ticks().end()) {
            it->second();
        }
    }
    UINT_PTR id_;
};

struct Win32AdminBackend {
    using Window = HWND;

    static std::unique_ptr<Windowing> windowing() { return makeSystemWindowing(false); }
    static std::unique_ptr<TickTimer> everyTick(std::function<void()> tick) {
        return std::make_unique<TickTimer>(std::move(tick));
    }
    static HWND shownForm(const std::string& caption) { return shown(FormClass, caption); }
    static HWND messageBox() { return shown("#32770", "QWADMIN"); }
    static std::string messageText(HWND box) {
        char text[256] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        return text;
    }
    static HWND control(HWND form, const std::string& name, int index) {
        return Win32Form::of(form)->control(name, index);
    }
    static std::string text(HWND w) {
        char text[256] = {};
        GetWindowTextA(w, text, sizeof text);
        return text;
    }
    static bool focused(HWND w) { return GetFocus() == w; }
    static bool enabled(HWND w) { return IsWindowEnabled(w) != FALSE; }
    static bool bold(HWND w) {
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0)), sizeof font, &font);
        return font.lfWeight == FW_BOLD;
    }
    static char passwordChar(HWND w) { return static_cast<char>(SendMessageA(w, EM_GETPASSWORDCHAR, 0, 0)); }
    static std::pair<int, int> selection(HWND w) {
        DWORD start = 0;
        DWORD end = 0;
        SendMessageA(w, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return {static_cast<int>(start), static_cast<int>(end)};
    }
    static void selectItem(HWND list, int entry) { SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(entry), 0); }
    static HWND inputPrompt(const std::string& title) {
        const HWND prompt = shownForm(title);
        return prompt != nullptr ? control(prompt, "Answer", -1) : nullptr;
    }
    static std::vector<std::string> listItems(HWND w) {
        std::vector<std::string> items;
        const auto count = static_cast<int>(SendMessageA(w, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char item[256] = {};
            SendMessageA(w, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
            items.emplace_back(item);
        }
        return items;
    }
    static void focus(HWND w) { SetFocus(w); }
    static void setText(HWND w, const std::string& text) { SetWindowTextA(w, text.c_str()); }
    static void type(HWND w, const std::string& text) { ::type(w, text); }
    static void press(HWND w, UserKey key) {
        ::press(w, key == UserKey::Tab ? VK_TAB : key == UserKey::Enter ? VK_RETURN : VK_ESCAPE);
    }
    static void click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }
    static void closeBox(HWND form) { PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0); }
    static void answerOk(HWND box) { PostMessageA(box, WM_COMMAND, IDOK, 0); }
};

using AdminFormsTest = AdminFormsConformance<Win32AdminBackend>;
using Win32User = User<Win32AdminBackend>;

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, AdminFormsConformance, Win32AdminBackend);

// A group box draws only its edge and caption; what is inside it is the form's to paint.
TEST_F(AdminFormsTest, TheInsideOfAFrameShowsTheFormsBackground) {
    FormHandlers handlers;
    Win32Form form(frmAdminLayout(), handlers);
    form.Show(false);
    pump();
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
        pump();
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
            type(child(answeredPrompt, "Edit", nullptr), "Secret");
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
            input = shown(FormClass, "Enter port to exclude:");
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
            type(child(input, "Edit", nullptr), "8080");
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
    modGlobals::LoadSettings();
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"443", "21, FTP", "110", "8080"}))
        << "the prompt's answer was lost";
}
