// The password prompt and the administration dialog on the Win32 windowing under Wine, driven through
// their controls with the messages a user's keys and clicks make, while the program waits in their
// modal loops.
#include "admin/AdminLayouts.h"
#include "admin/MainMenu.h"
#include "admin/frmPassword.h"
#include "fakes/FakeGuessLock.h"
#include "fakes/FakeProgramInfo.h"
#include "fakes/FakeServiceControl.h"
#include "fakes/FormRecorder.h"
#include "platform/Windowing.h"
#include "platform/win32/Win32Form.h"
#include "settings/SettingsFixture.h"
#include "support/SampleForm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
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

// The start time box: of the two time boxes, the upper one.
HWND upperEdit(HWND window) {
    HWND upper = nullptr;
    RECT upperPlace{};
    for (HWND edit = child(window, "Edit", nullptr); edit != nullptr;
         edit = FindWindowExA(window, edit, "Edit", nullptr)) {
        RECT place;
        GetWindowRect(edit, &place);
        if (upper == nullptr || place.top < upperPlace.top) {
            upper = edit;
            upperPlace = place;
        }
    }
    return upper;
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

std::pair<DWORD, DWORD> selection(HWND edit) {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

LONG weight(HWND control) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfWeight;
}

// The user at the keyboard while the program sits in a modal loop: each step runs from a timer that
// the loop dispatches, and is tried again at the next tick until it could act (its window was up).
// Steps only post their keys and clicks, so the loops they start run on the program's side.
class User {
public:
    using Step = std::function<bool()>;

    explicit User(std::vector<Step> steps) : steps_(std::move(steps)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 30, &User::tick);
    }
    ~User() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    User(const User&) = delete;
    User& operator=(const User&) = delete;

    size_t stepsDone() const { return next_; }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        User* user = current_;
        // A step that opened a modal loop is not run again from inside it.
        if (user == nullptr || user->busy_ || user->next_ >= user->steps_.size()) {
            return;
        }
        user->busy_ = true;
        if (user->steps_[user->next_]()) {
            ++user->next_;
        }
        user->busy_ = false;
    }

    static inline User* current_ = nullptr;
    std::vector<Step> steps_;
    size_t next_ = 0;
    bool busy_ = false;
    UINT_PTR timer_ = 0;
};

class AdminFormsTest : public SettingsTest {
protected:
    AdminFormsTest() {
        modGlobals::AdminPassword = "Secret";
        modGlobals::StartTime = "22:00:00";
        modGlobals::EndTime = "06:00:00";
        setPorts({"21, FTP PORT"});
        EXPECT_TRUE(modGlobals::SaveSettings().saved);
    }

    static HWND prompt() { return shown(FormClass, "Vesk Quietwire"); }
    static HWND dialog() { return shown(FormClass, "Vesk Quietwire - Administration"); }
    static HWND messageBox() { return shown("#32770", "QWADMIN"); }

    // Types the text into the prompt's box once the prompt is up and gives it with Enter.
    static User::Step enterPassword(const std::string& text) {
        return [text] {
            HWND entry = child(prompt(), "Edit", nullptr);
            if (entry == nullptr) {
                return false;
            }
            type(entry, text);
            press(entry, VK_RETURN);
            return true;
        };
    }
    // Reads the message box once it is up and closes it with OK.
    static User::Step closeMessageBox(std::string& text) {
        return [&text] {
            HWND box = messageBox();
            if (box == nullptr) {
                return false;
            }
            char shownText[128] = {};
            GetDlgItemTextA(box, 0xFFFF, shownText, sizeof shownText);
            text = shownText;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return true;
        };
    }
    // Lets the forms handle what was posted to them and repaint.
    void pump() {
        for (int i = 0; i < 10; ++i) {
            windowing_->DoEvents();
            Sleep(10);
        }
    }

    std::unique_ptr<Windowing> windowing_ = makeSystemWindowing(false);
    platform::ScopedInstall<Windowing> useWindowing_{*windowing_};
    FakeServiceControl service_;
    platform::ScopedInstall<ServiceControl> useService_{service_};
    FakeProgramInfo info_;
    platform::ScopedInstall<ProgramInfo> useInfo_{info_};
    FakeGuessLock guesses_;
    platform::ScopedInstall<GuessLock> useGuesses_{guesses_};
};

} // namespace

TEST_F(AdminFormsTest, AWrongPasswordIsRefusedWithTheEntrySelectedForOvertypingAndEnterPressesOk) {
    HWND entry = nullptr;
    bool focusedAtOpen = false;
    std::string boxText;
    std::pair<DWORD, DWORD> selectedAfterBox;
    bool focusedAfterBox = false;
    bool okDuringWait = true;
    bool boxDuringWait = true;
    char typedDuringWait[16] = {};
    User user({
        [&] {
            entry = child(prompt(), "Edit", nullptr);
            if (entry == nullptr) {
                return false;
            }
            focusedAtOpen = GetFocus() == entry;
            type(entry, "secret");
            PostMessageA(child(prompt(), "Button", "OK"), BM_CLICK, 0, 0);
            return true;
        },
        // The wrong password's second: the prompt's loop runs on, with OK out of reach.
        [&] {
            okDuringWait = IsWindowEnabled(child(prompt(), "Button", "OK")) != FALSE;
            boxDuringWait = messageBox() != nullptr;
            type(entry, "!");
            press(entry, VK_RETURN); // starts no second check
            return true;
        },
        [&] {
            GetWindowTextA(entry, typedDuringWait, sizeof typedDuringWait);
            return closeMessageBox(boxText)();
        },
        [&] {
            if (messageBox() != nullptr) {
                return false;
            }
            selectedAfterBox = selection(entry);
            focusedAfterBox = GetFocus() == entry;
            type(entry, "Secret");
            press(entry, VK_RETURN);
            return true;
        },
    });
    frmPassword form(0);
    ASSERT_TRUE(prompt() == nullptr);
    form.Show();

    EXPECT_EQ(user.stepsDone(), 4u);
    EXPECT_TRUE(focusedAtOpen) << "the text box holds the focus when the prompt opens";
    EXPECT_EQ(SendMessageA(entry, EM_GETPASSWORDCHAR, 0, 0), '*');
    EXPECT_FALSE(okDuringWait);
    EXPECT_FALSE(boxDuringWait) << "the answer came before its second was over";
    EXPECT_STREQ(typedDuringWait, "secret!") << "the prompt took keys while it waited";
    EXPECT_EQ(guesses_.turnsTaken, 2) << "the wrong password and the right one, nothing pressed in between";
    EXPECT_EQ(boxText, "Invalid password!");
    EXPECT_EQ(selectedAfterBox, (std::pair<DWORD, DWORD>{0, 7}));
    EXPECT_TRUE(focusedAfterBox) << "the text box has the focus again after the message";
    EXPECT_TRUE(modGlobals::PasswordOK) << "the retyped password, given with Enter, was not accepted";
    EXPECT_EQ(prompt(), nullptr);
}

TEST_F(AdminFormsTest, EscLeavesThePromptOpenAndItsCloseBoxAdmitsNobody) {
    bool openAfterEsc = false;
    User user({
        [&] {
            HWND entry = child(prompt(), "Edit", nullptr);
            if (entry == nullptr) {
                return false;
            }
            type(entry, "Secret");
            press(entry, VK_ESCAPE);
            return true;
        },
        [&] {
            openAfterEsc = prompt() != nullptr;
            PostMessageA(prompt(), WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        },
    });
    modGlobals::PasswordOK = false;
    frmPassword form(0);
    form.Show();

    EXPECT_EQ(user.stepsDone(), 2u);
    EXPECT_TRUE(openAfterEsc);
    EXPECT_FALSE(modGlobals::PasswordOK) << "the right password was typed, but the prompt was closed";
}

TEST_F(AdminFormsTest, TheDialogOpensOnCancelWithBoldFrameCaptionsIgnoresEscAndEnterInATimeBoxPressesOk) {
    modGlobals::AlarmRaised = true;
    std::string alarmText;
    bool cancelFocused = false;
    std::vector<LONG> frames;
    LONG label = 0;
    bool openAfterEsc = false;
    User user({
        enterPassword("Secret"),
        closeMessageBox(alarmText),
        [&] {
            HWND window = dialog();
            if (window == nullptr) {
                return false;
            }
            const HWND cancel = child(window, "Button", "Cancel");
            cancelFocused = cancel != nullptr && GetFocus() == cancel;
            for (const char* frame : {"Port are open between:", "Autostart Quietwire", "Closed ports:"}) {
                frames.push_back(weight(child(window, "Button", frame)));
            }
            label = weight(child(window, "Static", "Start time:"));
            press(child(window, "Edit", nullptr), VK_ESCAPE);
            return true;
        },
        [&] {
            openAfterEsc = dialog() != nullptr;
            HWND start = upperEdit(dialog());
            SetFocus(start); // a click into the box
            SetWindowTextA(start, "7:30");
            press(start, VK_RETURN);
            return true;
        },
    });
    MainMenu::Administration(0);

    EXPECT_EQ(user.stepsDone(), 4u);
    EXPECT_EQ(alarmText, "Alarm has been reset!");
    EXPECT_TRUE(cancelFocused) << "Cancel holds the focus when the dialog opens";
    EXPECT_EQ(frames, (std::vector<LONG>{FW_BOLD, FW_BOLD, FW_BOLD}));
    EXPECT_EQ(label, FW_NORMAL);
    EXPECT_TRUE(openAfterEsc);
    EXPECT_EQ(dialog(), nullptr) << "Enter in the start time box did not press OK";
    EXPECT_EQ(readRaw("SETUP", "START"), VtkModule::Encrypt("07:30:00", modGlobals::RotationCount)) << "not saved";
}

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
    User user({
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
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"21, FTP PORT", "8080"})) << "the prompt's answer was lost";
}
