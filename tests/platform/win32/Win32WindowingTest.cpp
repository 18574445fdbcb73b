#include "platform/WindowingConformance.h"
#include "platform/win32/Win32Form.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The Win32 windowing's dialogs under Wine on an X server (Xvfb, started by the test command), answered
// with the messages a user's keys and clicks make while the program waits in their modal loops.
namespace {

// The user at a dialog still to come: act runs from a timer of the thread, which the dialog's loop
// dispatches, until it has found its window up and answered it. Acts only post their keys and clicks,
// so the loops they end run on the program's side.
class Answer {
public:
    explicit Answer(std::function<bool()> act) : act_(std::move(act)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 30, &Answer::tick);
    }
    ~Answer() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current_ != nullptr && !current_->answered_) {
            current_->answered_ = current_->act_();
        }
    }

    static inline Answer* current_ = nullptr;
    std::function<bool()> act_;
    bool answered_ = false;
    UINT_PTR timer_ = 0;
};

std::string textOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND shownWindow(const char* windowClass, const char* title) {
    HWND window = FindWindowA(windowClass, title);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

struct Win32WindowingBackend {
    // One lock per user and session, in the user's own folder: no place of the test's to give it.
    static std::unique_ptr<Windowing> windowing(const TempDir&) { return makeSystemWindowing(false); }
    static uint32_t processId() { return GetCurrentProcessId(); }
    static bool inFront(const Form& form) {
        for (int i = 0; i < 5; ++i) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                Win32Form::dispatch(message);
            }
            Sleep(10);
        }
        return GetForegroundWindow() == reinterpret_cast<HWND>(form.Handle());
    }
    static std::string visibleLineBreak() { return "\r\n"; }

    static std::unique_ptr<Answer> answerMessageBox(std::string& title, std::string& text) {
        return std::make_unique<Answer>([&] {
            HWND box = shownWindow("#32770", nullptr);
            if (box == nullptr) {
                return false;
            }
            title = textOf(box);
            char shown[256] = {};
            GetDlgItemTextA(box, 0xFFFF, shown, sizeof shown);
            text = shown;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return true;
        });
    }
    static std::unique_ptr<Answer> answerInputBox(const std::string& title, std::optional<std::string> typed,
                                                  std::string& shown) {
        return std::make_unique<Answer>([title, typed, &shown] {
            HWND prompt = shownWindow("QuietwireForm", title.c_str());
            if (prompt == nullptr) {
                return false;
            }
            HWND edit = FindWindowExA(prompt, nullptr, "EDIT", nullptr);
            shown = textOf(edit);
            SetWindowTextA(edit, typed.value_or("").c_str());
            PostMessageA(FindWindowExA(prompt, nullptr, "BUTTON", typed ? "OK" : "Cancel"), BM_CLICK, 0, 0);
            return true;
        });
    }
    // Down once for each item up to the chosen one (the menu skips separators), then Enter; or Esc.
    static std::unique_ptr<Answer> choose(const std::vector<std::string>& items, int item) {
        return std::make_unique<Answer>([items, item] {
            HWND menu = shownWindow("#32768", nullptr);
            if (menu == nullptr) {
                return false;
            }
            for (int i = 0; i <= item; ++i) {
                if (items[static_cast<size_t>(i)] != "-") {
                    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
                }
            }
            PostMessageA(menu, WM_KEYDOWN, item >= 0 ? VK_RETURN : VK_ESCAPE, 0);
            return true;
        });
    }
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, WindowingConformance, Win32WindowingBackend);
