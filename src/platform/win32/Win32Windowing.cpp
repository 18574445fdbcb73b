#include "platform/HeadlessWindowing.h"
#include "platform/Windowing.h"
#include "platform/win32/ScopedWin.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32Form.h"
#include "platform/win32/Win32OwnFolder.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr UINT PostedTaskMessage = WM_APP + 1;
constexpr const char* PostWindowClass = "QuietwirePost";

// Runs the tasks posted to the message-only window that Post sends them to; any message loop of the
// thread (the main loop, a modal dialog's, a menu's) dispatches them.
LRESULT CALLBACK postWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PostedTaskMessage) {
        std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
        (*task)();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The program's file name without its folder and extension: quietwire, quietwiretray.
std::string programName() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length);
    name = name.substr(name.find_last_of("\\/") + 1);
    return name.substr(0, name.rfind('.'));
}

UINT iconStyle(MsgBoxIcon icon) {
    switch (icon) {
    case MsgBoxIcon::Information:
        return MB_ICONINFORMATION;
    case MsgBoxIcon::Exclamation:
        return MB_ICONEXCLAMATION;
    case MsgBoxIcon::Stop:
        return MB_ICONSTOP;
    case MsgBoxIcon::None:
        break;
    }
    return 0;
}

// The input prompt: the prompt text above a text box, OK (default) and Cancel, as a form of our own.
class InputPrompt final : public FormHandlers {
public:
    InputPrompt(const std::string& prompt, const std::string& title, const std::string& fallback) {
        using enum ControlKind;
        // One row per control.
        // clang-format off
        const FormLayout layout{.name = "InputBox", .caption = title, .clientWidth = 5400, .clientHeight = 1900,
                                .centred = true, .controls = {
            {.name = "Prompt",              .kind = Label,         .caption = prompt,
             .left = 120,  .top = 120,  .width = 3900, .height = 900},
            {.name = "Answer",              .kind = TextBox,       .caption = fallback,
             .left = 120,  .top = 1380, .width = 5160, .height = 300, .tabIndex = 0},
            {.name = "Button", .index = 0,  .kind = CommandButton, .caption = "OK",
             .left = 4200, .top = 120,  .width = 1080, .height = 360, .tabIndex = 1, .isDefault = true},
            {.name = "Button", .index = 1,  .kind = CommandButton, .caption = "Cancel",
             .left = 4200, .top = 540,  .width = 1080, .height = 360, .tabIndex = 2},
        }};
        // clang-format on
        form_ = std::make_unique<Win32Form>(layout, *this);
        form_->SelectAll("Answer", -1);
    }

    std::optional<std::string> ask() {
        form_->Show(true);
        return answer_;
    }

    void Click(const std::string&, int index) override {
        if (index == 0) {
            answer_ = form_->Text("Answer", -1);
        }
        form_->Close();
    }

    Win32Form& form() { return *form_; }

private:
    std::unique_ptr<Win32Form> form_;
    std::optional<std::string> answer_;
};

class Win32Windowing final : public Windowing {
public:
    Win32Windowing() = default;
    ~Win32Windowing() override {
        // Tasks posted but never run are freed here; the window goes with its owner.
        if (postWindow_ != nullptr) {
            MSG message;
            while (PeekMessageA(&message, postWindow_.get(), PostedTaskMessage, PostedTaskMessage, PM_REMOVE)) {
                delete reinterpret_cast<std::function<void()>*>(message.lParam);
            }
        }
    }

    std::unique_ptr<Form> CreateForm(const FormLayout& layout, FormHandlers& handlers) override {
        return std::make_unique<Win32Form>(layout, handlers);
    }

    void MsgBox(const std::string& prompt, MsgBoxIcon icon, const std::string& title) override {
        MessageBoxA(GetActiveWindow(), prompt.c_str(), title.c_str(), MB_OK | iconStyle(icon) | MB_SETFOREGROUND);
    }

    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& fallback) override {
        InputPrompt input(prompt, title, fallback);
        return input.ask();
    }

    int PopupMenu(const std::vector<std::string>& items) override {
        HMENU menu = CreatePopupMenu();
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == "-") {
                AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            } else {
                AppendMenuA(menu, MF_STRING, i + 1, items[i].c_str());
            }
        }
        POINT at;
        GetCursorPos(&at);
        HWND owner = menuOwner();
        // The owner must be in the foreground or the menu does not close when the user clicks
        // elsewhere; the message after it lets the menu finish (a documented quirk of the shell).
        SetForegroundWindow(owner);
        const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y,
                                          0, owner, nullptr);
        PostMessageA(owner, WM_NULL, 0, 0);
        DestroyMenu(menu);
        return chosen > 0 ? chosen - 1 : -1;
    }

    void DoEvents() override { handlePending(); }

    void Pause(int milliseconds) override {
        const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(std::max(milliseconds, 0));
        for (ULONGLONG now = GetTickCount64(); now < until; now = GetTickCount64()) {
            const auto left = static_cast<DWORD>(until - now);
            // A program that is ending still lets the whole time pass: the caller counts on it.
            if (quit_ || quitPending_) {
                Sleep(left);
                break;
            }
            MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            handlePending();
        }
    }

    void Post(std::function<void()> task) override {
        auto owned = std::make_unique<std::function<void()>>(std::move(task));
        if (PostMessageA(postWindow(), PostedTaskMessage, 0, reinterpret_cast<LPARAM>(owned.get()))) {
            owned.release(); // the window procedure owns it now
        }
    }

    void Run() override {
        MSG message;
        while (!quit_ && GetMessageA(&message, nullptr, 0, 0) > 0) {
            Win32Form::dispatch(message);
        }
    }

    void Quit() override {
        quit_ = true;
        PostQuitMessage(0);
    }

    bool PrevInstance() override {
        if (!instance_) {
            // One lock per program, user and session: the service's copy (session 0) and a desktop's do not
            // meet, nor the elevated quietwire.exe and the tray program its user's log-on started beside it.
            DWORD session = 0;
            ProcessIdToSessionId(GetCurrentProcessId(), &session);
            ResultWith<UniqueHandle> file = openOwnFile(programName() + "-session" + std::to_string(session) + ".lock");
            const Result locked = file ? tryLockFile(file->get()) : Result::Failed(file.reason());
            instance_.emplace(file ? std::move(*file) : UniqueHandle(nullptr));
            if (locked) {
                writeNumber(instance_->get(), GetCurrentProcessId());
            } else if (locked.code() == ERROR_LOCK_VIOLATION) {
                otherInstance_ = true;
                otherId_ = static_cast<uint32_t>(readNumber(instance_->get()));
            } else {
                // Rather than let anyone stop the program, it runs; it cannot tell a second copy then.
                std::fprintf(stderr, "quietwire: no instance lock (%s); a second copy of this user's cannot be told.\n",
                             locked.reason().c_str());
            }
        }
        return otherInstance_;
    }

    uint32_t PrevInstanceId() override { return otherInstance_ ? otherId_ : 0; }

    // The program's windows are hidden and have no caption: no task list shows them.
    void HideFromTaskList() override {}

    int32_t BringToFront(uintptr_t window) override {
        return SetForegroundWindow(reinterpret_cast<HWND>(window)) ? 1 : 0;
    }

    int32_t ShellOpen(const std::string& file, const std::string& directory, uintptr_t window,
                      const std::string& parameters, const std::string& operation) override {
        const auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
        const auto result =
            reinterpret_cast<INT_PTR>(ShellExecuteA(reinterpret_cast<HWND>(window), orNull(operation), file.c_str(),
                                                    orNull(parameters), orNull(directory), SW_SHOWNORMAL));
        return result == SE_ERR_FNF ? 0 : static_cast<int32_t>(result);
    }

private:
    HWND menuOwner() {
        if (menuOwner_ == nullptr) {
            menuOwner_.reset(CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                             GetModuleHandleA(nullptr), nullptr));
        }
        return menuOwner_.get();
    }

    // Handles what is pending; a request to quit is left for the main loop.
    void handlePending() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                quitPending_ = true;
                break;
            }
            Win32Form::dispatch(message);
        }
    }

    HWND postWindow() {
        if (postWindow_ == nullptr) {
            WNDCLASSA windowClass{};
            windowClass.lpfnWndProc = postWindowProc;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = PostWindowClass;
            RegisterClassA(&windowClass); // fails harmlessly when a second windowing registered it
            postWindow_.reset(CreateWindowExA(0, PostWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                              GetModuleHandleA(nullptr), nullptr));
        }
        return postWindow_.get();
    }

    std::optional<UniqueHandle> instance_;
    UniqueWindow postWindow_;
    bool quit_ = false;
    bool otherInstance_ = false;
    uint32_t otherId_ = 0;
    bool quitPending_ = false;
    UniqueWindow menuOwner_;
};

} // namespace

std::unique_ptr<Windowing> makeSystemWindowing(bool headless) {
    auto windowing = std::make_unique<Win32Windowing>();
    if (headless) {
        return std::make_unique<HeadlessWindowing>(std::move(windowing));
    }
    return windowing;
}
