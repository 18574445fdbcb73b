#pragma once

#include "platform/FormGeometry.h"
#include "platform/Forms.h"
#include "platform/WindowingDriver.h"
#include "platform/win32/ScopedWin.h"
#include "platform/win32/Win32Form.h"
#include "support/TempDir.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// The Win32 backend as the conformance suites see it, under Wine on an X server (Xvfb, started by the
// test command): what the screen shows, and the window messages a user's keys and clicks make.
struct Win32Driver {
    using Window = HWND;

    static std::unique_ptr<Windowing> windowing() { return makeSystemWindowing(false); }
    // One lock per user and session, in the user's own folder: no place of the test's to give it.
    static std::unique_ptr<Windowing> windowing(const TempDir&) { return makeSystemWindowing(false); }
    static uint32_t processId() { return GetCurrentProcessId(); }

    // A form and its controls.
    static HWND window(const Form& form) { return reinterpret_cast<HWND>(form.Handle()); }
    static HWND control(HWND form, const std::string& name, int index) {
        return Win32Form::of(form)->control(name, index);
    }
    static HWND control(const Form& form, const std::string& name, int index) {
        return control(window(form), name, index);
    }
    static double dotsPerInch() { return GetDeviceCaps(ScreenDC().get(), LOGPIXELSX); }
    static std::string title(HWND form) { return text(form); }
    static PixelRect clientArea(HWND form) {
        RECT client;
        GetClientRect(form, &client);
        return {0, 0, client.right, client.bottom};
    }
    static PixelRect onForm(HWND form, HWND w) {
        RECT r;
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }

    // What a control shows.
    static std::string text(HWND w) {
        char text[256] = {};
        GetWindowTextA(w, text, sizeof text);
        return text;
    }
    static bool focused(HWND w) { return GetFocus() == w; }
    static bool checked(HWND w) { return SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED; }
    static bool enabled(HWND w) { return IsWindowEnabled(w) != FALSE; }
    static HFONT font(HWND w) { return reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0)); }
    static LOGFONTA logFont(HWND w) {
        LOGFONTA font{};
        GetObjectA(Win32Driver::font(w), sizeof font, &font);
        return font;
    }
    static bool bold(HWND w) { return logFont(w).lfWeight == FW_BOLD; }
    static double fontSize(HWND w) { return logFont(w).lfHeight; }
    static char passwordChar(HWND w) { return static_cast<char>(SendMessageA(w, EM_GETPASSWORDCHAR, 0, 0)); }
    static std::pair<int, int> selection(HWND w) {
        DWORD start = 0;
        DWORD end = 0;
        SendMessageA(w, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return {static_cast<int>(start), static_cast<int>(end)};
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
    // As the control draws its caption in its own font: a label wraps it into as many lines as it has
    // room for (at least one), the last character's spacing may overrun; a frame's is one line.
    static bool showsWholeCaption(HWND w, const ControlLayout& c) {
        RECT box;
        GetClientRect(w, &box);
        const HDC dc = GetDC(w);
        const HGDIOBJ previous = SelectObject(dc, font(w));
        TEXTMETRICA metrics{};
        GetTextMetricsA(dc, &metrics);
        RECT text = box;
        const UINT wrap = c.kind == ControlKind::Label ? DT_WORDBREAK : DT_SINGLELINE;
        DrawTextA(dc, c.caption.c_str(), -1, &text, DT_CALCRECT | DT_EXPANDTABS | wrap);
        SelectObject(dc, previous);
        ReleaseDC(w, dc);
        const LONG linesShown = std::max<LONG>(1, box.bottom / metrics.tmHeight);
        return text.bottom / metrics.tmHeight <= linesShown && text.right <= box.right + 1;
    }

    // Windows that are up.
    static std::unique_ptr<TickTimer> everyTick(std::function<void()> tick) {
        return std::make_unique<TickTimer>(std::move(tick));
    }
    // A visible top-level window of this thread (other Wine programs may share the desktop).
    static HWND shown(const std::string& windowClass, const std::string& caption) {
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
                GetClassNameA(window, name, sizeof name);
                if (IsWindowVisible(window) && s.windowClass == name && s.caption == text(window)) {
                    s.found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    static HWND shownForm(const std::string& caption) { return shown("QuietwireForm", caption); }
    static HWND messageBox() { return shown("#32770", "QWADMIN"); }
    static std::string messageText(HWND box) { return text(GetDlgItem(box, 0xFFFF)); }
    static HWND inputPrompt(const std::string& title) {
        const HWND prompt = shownForm(title);
        return prompt != nullptr ? control(prompt, "Answer", -1) : nullptr;
    }
    static bool inFront(HWND form) {
        pump();
        return GetForegroundWindow() == form;
    }

    // The user's input. Set at once:
    static void activate(Form& form) {
        form.Show(false);
        SetForegroundWindow(window(form));
        pump();
    }
    static void focus(HWND w) { SetFocus(w); }
    static void setText(HWND w, const std::string& text) { SetWindowTextA(w, text.c_str()); }
    static void selectItem(HWND list, int entry) { SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(entry), 0); }
    // Posted, so that what it starts runs in the program's own loops, as the user's input does:
    static void type(HWND edit, const std::string& text) {
        for (const char c : text) {
            PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
        }
    }
    static void press(HWND w, UserKey key) {
        PostMessageA(w, WM_KEYDOWN, key == UserKey::Tab ? VK_TAB : key == UserKey::Enter ? VK_RETURN : VK_ESCAPE, 0);
    }
    static void click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }
    static void closeBox(HWND form) { PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0); }
    static void answerOk(HWND box) { PostMessageA(box, WM_COMMAND, IDOK, 0); }
    // Lets the forms handle what was posted to them and repaint.
    static void pump() {
        for (int i = 0; i < 10; ++i) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                Win32Form::dispatch(message);
            }
            Sleep(10);
        }
    }

    // Dialogs still to come up, each answered while what these give lives.
    static std::string visibleLineBreak() { return "\r\n"; }
    static std::unique_ptr<TickTimer> answerMessageBox(std::string& title, std::string& text) {
        return once([&] {
            const HWND box = FindWindowA("#32770", nullptr);
            if (box == nullptr || !IsWindowVisible(box)) {
                return false;
            }
            title = Win32Driver::text(box);
            text = messageText(box);
            answerOk(box);
            return true;
        });
    }
    static std::unique_ptr<TickTimer> answerInputBox(const std::string& title, std::optional<std::string> typed,
                                                     std::string& shown) {
        return once([title, typed, &shown] {
            const HWND prompt = shownForm(title);
            if (prompt == nullptr) {
                return false;
            }
            const HWND edit = control(prompt, "Answer", -1);
            shown = text(edit);
            SetWindowTextA(edit, typed.value_or("").c_str());
            click(control(prompt, "Button", typed ? 0 : 1));
            return true;
        });
    }
    // Down once for each item up to the chosen one (the menu skips separators), then Enter; or Esc.
    static std::unique_ptr<TickTimer> choose(const std::vector<std::string>& items, int item) {
        return once([items, item] {
            const HWND menu = FindWindowA("#32768", nullptr);
            if (menu == nullptr || !IsWindowVisible(menu)) {
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

private:
    // Tries act at every tick until it has acted.
    static std::unique_ptr<TickTimer> once(std::function<bool()> act) {
        return std::make_unique<TickTimer>([act = std::move(act), done = false]() mutable {
            if (!done) {
                done = act();
            }
        });
    }
};
