#pragma once

#include "platform/ControlMap.h"
#include "platform/Forms.h"
#include "platform/win32/ScopedWin.h"

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// A form of the program as a Win32 window: child controls made from the layout table at the
// screen's resolution, with dialog keyboard handling (Tab, Enter on the default button).
class Win32Form final : public Form {
public:
    Win32Form(const FormLayout& layout, FormHandlers& handlers);
    ~Win32Form() override;
    Win32Form(const Win32Form&) = delete;
    Win32Form& operator=(const Win32Form&) = delete;

    void Show(bool modal) override;
    void Hide() override;
    void Close() override;
    bool Visible() const override;
    uintptr_t Handle() const override;
    void SetCaption(const std::string& caption) override;
    void SetWindowIcon(uintptr_t icon) override;
    void SetPicture(const std::string& pictureBox, uintptr_t icon) override;

    std::string Text(const std::string& control, int index) const override;
    void SetText(const std::string& control, int index, const std::string& text) override;
    void SelectAll(const std::string& control, int index) override;
    void SetFocus(const std::string& control, int index) override;
    void SetEnabled(const std::string& control, int index, bool enabled) override;
    bool Enabled(const std::string& control, int index) const override;
    bool Value(const std::string& checkBox) const override;
    void SetValue(const std::string& checkBox, bool ticked) override;

    int ListCount(const std::string& list) const override;
    std::string List(const std::string& list, int entry) const override;
    void AddItem(const std::string& list, const std::string& text) override;
    void RemoveItem(const std::string& list, int entry) override;
    void SetList(const std::string& list, int entry, const std::string& text) override;
    int ListIndex(const std::string& list) const override;
    void SetListIndex(const std::string& list, int entry) override;

    void SetTimer(const std::string& timer, bool enabled) override;
    bool TimerEnabled(const std::string& timer) const override;

    HWND control(const std::string& name, int index = -1) const;
    // The form whose window this is, or null.
    static Win32Form* of(HWND window);

    // Hands one message of the thread's queue to the form it belongs to (dialog keys first).
    static void dispatch(MSG& message);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool requestClose(CloseReason reason);
    void takeOwner();
    void hide();

    struct Timer {
        UINT_PTR id;
        UINT interval;
        bool enabled;
    };

    FormHandlers& handlers_;
    // The fonts outlive the window whose controls draw with them.
    UniqueFont font_;
    UniqueFont boldFont_;
    UniqueWindow window_;
    ControlMap<HWND> controls_;
    std::map<int, std::pair<std::string, int>> buttons_; // control id -> name and index
    std::map<std::string, Timer> timers_;
    std::map<UINT_PTR, std::string> timerNames_;
    int defaultButton_ = 0;
    HWND focus_ = nullptr; // the control that gets the focus back when the form is activated
    bool byCode_ = false;
    HWND owner_ = nullptr; // the window a modal showing disabled, until the form closes
};
