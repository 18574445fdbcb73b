#include "platform/win32/Win32Form.h"
#include "platform/FormGeometry.h"
#include "platform/LabelFitting.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace {

constexpr const char* FormClass = "QuietwireForm";
// The form behind a window is a window property: the window's user data belongs to the tray
// component, which keeps its own instance there while its icon is in the tray.
constexpr const char* FormProperty = "QuietwireForm";
constexpr int FirstControlId = 100;

void registerClass() {
    static bool registered = false;
    if (registered) {
        return;
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA; // replaced per window once its form is attached
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = FormClass;
    windowClass.cbWndExtra = 0;
    RegisterClassA(&windowClass);
    registered = true;
}

bool isForm(HWND window) {
    char name[32] = {};
    return window != nullptr && GetClassNameA(window, name, sizeof name) > 0 && std::string(name) == FormClass;
}

// height: in pixels, as the characters' height without the line's leading.
UniqueFont formFont(const FormLayout& layout, int height, int weight) {
    return UniqueFont(CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, layout.fontName.c_str()));
}

// The form's font at a height in pixels, measured as a static control draws the caption: the pixel of
// spacing after the last character may overrun, and a label lower than one line still shows that line.
bool captionFits(HDC screen, const FormLayout& layout, int height, const std::string& caption, int width,
                 int boxHeight) {
    if (screen == nullptr) {
        return true; // nothing to measure with: the design size
    }
    const UniqueFont font = formFont(layout, height, FW_NORMAL);
    const HGDIOBJ previous = SelectObject(screen, font.get());
    TEXTMETRICA metrics{};
    GetTextMetricsA(screen, &metrics);
    RECT text{0, 0, width, 0};
    DrawTextA(screen, caption.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(screen, previous);
    return text.right <= width + 1 && text.bottom <= std::max<LONG>(boxHeight, metrics.tmHeight);
}

} // namespace

Win32Form::Win32Form(const FormLayout& layout, FormHandlers& handlers) : handlers_(handlers) {
    registerClass();
    int dpiX = 96;
    int dpiY = 96;
    int fontHeight = 0;
    {
        const ScreenDC screen;
        if (screen.get() != nullptr) {
            dpiX = GetDeviceCaps(screen.get(), LOGPIXELSX);
            dpiY = GetDeviceCaps(screen.get(), LOGPIXELSY);
        }
        const int design = static_cast<int>(layout.fontSize * dpiY / 72.0 + 0.5);
        fontHeight =
            static_cast<int>(fitLabelFont(layout, dpiX, dpiY, {double(design), 1, double(design * 3 / 4)},
                                          [&](double height, const std::string& caption, int width, int boxHeight) {
                                              return captionFits(screen.get(), layout, static_cast<int>(height),
                                                                 caption, width, boxHeight);
                                          }));
    }
    font_ = formFont(layout, fontHeight, FW_NORMAL);
    boldFont_ = formFont(layout, fontHeight, FW_BOLD);

    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    const FormGeometry geometry(layout, dpiX, dpiY);
    RECT frame{0, 0, geometry.clientWidth(), geometry.clientHeight()};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    if (layout.centred) {
        x = (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2;
        y = (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2;
    }
    window_.reset(CreateWindowExA(exStyle, FormClass, layout.caption.c_str(), style, x, y, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
    if (window_ == nullptr) {
        throw std::runtime_error("cannot create the window of form " + layout.name);
    }
    SendMessageA(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);

    int id = FirstControlId;
    for (const ControlLayout& c : layout.controls) {
        if (c.kind == ControlKind::Timer) {
            const UINT_PTR timerId = static_cast<UINT_PTR>(id++);
            timers_[c.name] = Timer{timerId, static_cast<UINT>(c.interval), false};
            timerNames_[timerId] = c.name;
            continue;
        }
        // Win32 group boxes hold no controls: a frame's controls sit on the form over it.
        const PixelRect at = geometry.place(c).onForm();
        const char* windowClass = "STATIC";
        DWORD controlStyle = WS_CHILD | WS_VISIBLE;
        DWORD controlExStyle = 0;
        switch (c.kind) {
        case ControlKind::Label:
            controlStyle |= SS_LEFT;
            break;
        case ControlKind::TextBox:
            windowClass = "EDIT";
            controlStyle |= WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (c.passwordChar != '\0' ? ES_PASSWORD : 0);
            controlExStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::CommandButton:
            windowClass = "BUTTON";
            controlStyle |= WS_TABSTOP | (c.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
            break;
        case ControlKind::CheckBox:
            windowClass = "BUTTON";
            controlStyle |= WS_TABSTOP | BS_AUTOCHECKBOX;
            break;
        case ControlKind::ListBox:
            windowClass = "LISTBOX";
            controlStyle |= WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
            controlExStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Frame:
            windowClass = "BUTTON";
            controlStyle |= BS_GROUPBOX;
            // A group box draws its edge and caption only; the form, which clips its children, must
            // still paint the inside, and does so under a transparent child.
            controlExStyle = WS_EX_TRANSPARENT;
            break;
        case ControlKind::Line:
            controlStyle |= at.height > at.width ? SS_ETCHEDVERT : SS_ETCHEDHORZ;
            break;
        case ControlKind::PictureBox:
            controlStyle |= SS_ICON;
            break;
        case ControlKind::Timer:
            break;
        }
        const int controlId = id++;
        HWND control = CreateWindowExA(
            controlExStyle, windowClass, c.kind == ControlKind::ListBox ? "" : c.caption.c_str(), controlStyle, at.left,
            at.top, at.width, at.height, window_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
            GetModuleHandleA(nullptr), nullptr);
        if (control == nullptr) {
            throw std::runtime_error("cannot create control " + c.name);
        }
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(c.bold ? boldFont_.get() : font_.get()), FALSE);
        if (c.passwordChar != '\0') {
            SendMessageA(control, EM_SETPASSWORDCHAR, static_cast<WPARAM>(static_cast<unsigned char>(c.passwordChar)),
                         0);
        }
        if (c.kind == ControlKind::CommandButton) {
            buttons_[controlId] = {c.name, c.index};
            if (c.isDefault) {
                defaultButton_ = controlId;
            }
        }
        controls_.add(c.name, c.index, control);
    }
    // The dialog manager tabs through controls in their z-order.
    HWND after = HWND_TOP;
    for (const ControlLayout* c : tabOrder(layout)) {
        HWND next = control(c->name, c->index);
        SetWindowPos(next, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = next;
    }
    // Attached last: until nothing can throw, the window knows no form that could vanish under it.
    SetPropA(window_.get(), FormProperty, this);
    SetWindowLongPtrA(window_.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    if (defaultButton_ != 0) {
        SendMessageA(window_.get(), DM_SETDEFID, static_cast<WPARAM>(defaultButton_), 0);
    }
}

Win32Form::~Win32Form() {
    if (owner_ != nullptr) {
        EnableWindow(owner_, TRUE);
    }
    for (const auto& [name, timer] : timers_) {
        KillTimer(window_.get(), timer.id);
    }
    RemovePropA(window_.get(), FormProperty);
}

HWND Win32Form::control(const std::string& name, int index) const {
    return controls_.at(name, index);
}

Win32Form* Win32Form::of(HWND window) {
    return isForm(window) ? static_cast<Win32Form*>(GetPropA(window, FormProperty)) : nullptr;
}

void Win32Form::dispatch(MSG& message) {
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    if (isForm(root) && IsDialogMessageA(root, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

LRESULT CALLBACK Win32Form::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = static_cast<Win32Form*>(GetPropA(window, FormProperty));
    if (form == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return form->handle(message, wParam, lParam);
}

bool Win32Form::requestClose(CloseReason reason) {
    if (handlers_.QueryUnload(reason)) {
        return false;
    }
    handlers_.Unload();
    hide();
    return true;
}

// As a dialog box does it: the window the user was in owns the modal form, which stays above it and has
// no taskbar button of its own, and takes no input until the form has closed. Only a shown window
// qualifies: the hidden main window must go on hearing the tray icon.
void Win32Form::takeOwner() {
    HWND active = GetActiveWindow();
    if (active == nullptr || active == window_.get() || !IsWindowVisible(active) || !IsWindowEnabled(active)) {
        return;
    }
    SetWindowLongPtrA(window_.get(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(active));
    EnableWindow(active, FALSE);
    owner_ = active;
}

void Win32Form::hide() {
    HWND owner = std::exchange(owner_, nullptr);
    const bool active = GetActiveWindow() == window_.get();
    // Enabled before the form goes, or the system passes the activation to some other window.
    if (owner != nullptr) {
        EnableWindow(owner, TRUE);
    }
    ShowWindow(window_.get(), SW_HIDE);
    if (owner != nullptr && active && IsWindowVisible(owner)) {
        SetActiveWindow(owner);
    }
}

LRESULT Win32Form::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == IDOK) {
            id = defaultButton_; // Enter, from the dialog manager
        }
        if (HIWORD(wParam) == BN_CLICKED || LOWORD(wParam) == IDOK) {
            if (const auto it = buttons_.find(id); it != buttons_.end()) {
                handlers_.Click(it->second.first, it->second.second);
            }
        }
        return 0; // IDCANCEL (Esc) is bound to nothing
    }
    case WM_ACTIVATE: {
        // As the dialog manager does: the first control in tab order has the focus when the form opens,
        // and a message box or another window taking the activation away must not leave the focus on
        // the bare form, where no key reaches a control. (Focus given while the form is still hidden
        // would activate it unseen, and the system then draws it inactive once shown.)
        HWND window = window_.get();
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focus = GetFocus(); focus != nullptr && IsChild(window, focus)) {
                focus_ = focus;
            }
            return 0;
        }
        HWND focus = focus_ != nullptr && IsWindow(focus_) ? focus_ : GetNextDlgTabItem(window, nullptr, FALSE);
        if (focus == nullptr) {
            return DefWindowProcA(window, message, wParam, lParam);
        }
        ::SetFocus(focus);
        return 0;
    }
    case DM_GETDEFID: {
        // Enter presses the button that holds the focus, as in any dialog; elsewhere the default button.
        HWND focus = GetFocus();
        const int focused = focus != nullptr && IsChild(window_.get(), focus) ? GetDlgCtrlID(focus) : 0;
        const int id = buttons_.contains(focused) ? focused : defaultButton_;
        return id != 0 ? MAKELRESULT(id, DC_HASDEFID) : 0;
    }
    case WM_TIMER:
        if (const auto it = timerNames_.find(wParam); it != timerNames_.end()) {
            handlers_.TimerTick(it->second);
        }
        return 0;
    case WM_CLOSE:
        requestClose(byCode_ ? CloseReason::Code : CloseReason::User);
        return 0;
    case WM_ENDSESSION:
        if (wParam != FALSE) {
            requestClose(CloseReason::SystemShutdown);
        }
        return 0;
    default:
        return DefWindowProcA(window_.get(), message, wParam, lParam);
    }
}

void Win32Form::Show(bool modal) {
    if (modal) {
        takeOwner();
    }
    ShowWindow(window_.get(), SW_SHOW);
    if (!modal) {
        return;
    }
    // A nested loop until the form is closed or hidden; the thread's timers and windows keep running.
    MSG message;
    while (IsWindowVisible(window_.get()) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        dispatch(message);
    }
    if (owner_ != nullptr) { // the loop was ended by the program's end, the form still up
        EnableWindow(std::exchange(owner_, nullptr), TRUE);
    }
    SetWindowLongPtrA(window_.get(), GWLP_HWNDPARENT, 0);
}

void Win32Form::Hide() {
    hide();
}

void Win32Form::Close() {
    byCode_ = true;
    SendMessageA(window_.get(), WM_CLOSE, 0, 0);
    byCode_ = false;
}

bool Win32Form::Visible() const {
    return IsWindowVisible(window_.get()) != FALSE;
}
uintptr_t Win32Form::Handle() const {
    return reinterpret_cast<uintptr_t>(window_.get());
}
void Win32Form::SetCaption(const std::string& caption) {
    SetWindowTextA(window_.get(), caption.c_str());
}

void Win32Form::SetWindowIcon(uintptr_t icon) {
    SendMessageA(window_.get(), WM_SETICON, ICON_BIG, static_cast<LPARAM>(icon));
    SendMessageA(window_.get(), WM_SETICON, ICON_SMALL, static_cast<LPARAM>(icon));
}

void Win32Form::SetPicture(const std::string& pictureBox, uintptr_t icon) {
    SendMessageA(control(pictureBox), STM_SETICON, static_cast<WPARAM>(icon), 0);
}

std::string Win32Form::Text(const std::string& control, int index) const {
    HWND w = this->control(control, index);
    std::string text(static_cast<size_t>(GetWindowTextLengthA(w)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

void Win32Form::SetText(const std::string& control, int index, const std::string& text) {
    SetWindowTextA(this->control(control, index), text.c_str());
}

void Win32Form::SelectAll(const std::string& control, int index) {
    SendMessageA(this->control(control, index), EM_SETSEL, 0, -1);
}

void Win32Form::SetFocus(const std::string& control, int index) {
    focus_ = this->control(control, index);
    ::SetFocus(focus_);
}

void Win32Form::SetEnabled(const std::string& control, int index, bool enabled) {
    EnableWindow(this->control(control, index), enabled ? TRUE : FALSE);
}

bool Win32Form::Enabled(const std::string& control, int index) const {
    return IsWindowEnabled(this->control(control, index)) != FALSE;
}

bool Win32Form::Value(const std::string& checkBox) const {
    return SendMessageA(this->control(checkBox, -1), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Form::SetValue(const std::string& checkBox, bool ticked) {
    SendMessageA(this->control(checkBox, -1), BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int Win32Form::ListCount(const std::string& list) const {
    return static_cast<int>(SendMessageA(control(list), LB_GETCOUNT, 0, 0));
}

std::string Win32Form::List(const std::string& list, int entry) const {
    HWND w = control(list);
    const LRESULT length = SendMessageA(w, LB_GETTEXTLEN, static_cast<WPARAM>(entry), 0);
    if (length == LB_ERR) {
        return {};
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(w, LB_GETTEXT, static_cast<WPARAM>(entry), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

void Win32Form::AddItem(const std::string& list, const std::string& text) {
    SendMessageA(control(list), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32Form::RemoveItem(const std::string& list, int entry) {
    SendMessageA(control(list), LB_DELETESTRING, static_cast<WPARAM>(entry), 0);
}

void Win32Form::SetList(const std::string& list, int entry, const std::string& text) {
    HWND w = control(list);
    const LRESULT selected = SendMessageA(w, LB_GETCURSEL, 0, 0);
    SendMessageA(w, LB_DELETESTRING, static_cast<WPARAM>(entry), 0);
    SendMessageA(w, LB_INSERTSTRING, static_cast<WPARAM>(entry), reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(w, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int Win32Form::ListIndex(const std::string& list) const {
    const LRESULT selected = SendMessageA(control(list), LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void Win32Form::SetListIndex(const std::string& list, int entry) {
    SendMessageA(control(list), LB_SETCURSEL, static_cast<WPARAM>(entry), 0);
}

void Win32Form::SetTimer(const std::string& timer, bool enabled) {
    Timer& t = timers_.at(timer);
    if (enabled) {
        ::SetTimer(window_.get(), t.id, t.interval, nullptr);
    } else {
        KillTimer(window_.get(), t.id);
    }
    t.enabled = enabled;
}

bool Win32Form::TimerEnabled(const std::string& timer) const {
    return timers_.at(timer).enabled;
}
