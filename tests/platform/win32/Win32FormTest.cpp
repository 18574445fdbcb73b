#include "platform/win32/Win32Form.h"
#include "fakes/FormRecorder.h"
#include "platform/FormConformance.h"
#include "platform/ProgramIcons.h"
#include "platform/TrayShell.h"
#include "platform/win32/ScopedWin.h"
#include "support/SampleForm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

// The Win32 forms under Wine on an X server (Xvfb, started by the test command), driven with window
// messages as a user's keys and clicks arrive.
namespace {

// Lets the forms handle what was posted to them, as the program's loop would.
void pump() {
    for (int i = 0; i < 5; ++i) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            Win32Form::dispatch(message);
        }
        Sleep(10);
    }
}

HFONT fontOf(HWND control) {
    return reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
}

LOGFONTA logFont(HWND control) {
    LOGFONTA font{};
    GetObjectA(fontOf(control), sizeof font, &font);
    return font;
}

struct Win32Backend {
    static const Win32Form& win32(const Form& form) { return dynamic_cast<const Win32Form&>(form); }
    static HWND window(const Form& form) { return reinterpret_cast<HWND>(form.Handle()); }
    static HWND control(const Form& form, const std::string& name, int index) {
        return win32(form).control(name, index);
    }

    static std::unique_ptr<Windowing> windowing() { return makeSystemWindowing(false); }
    static double dotsPerInch() { return GetDeviceCaps(ScreenDC().get(), LOGPIXELSX); }
    static std::string title(const Form& form) {
        char caption[128] = {};
        GetWindowTextA(window(form), caption, sizeof caption);
        return caption;
    }
    static PixelRect clientArea(const Form& form) {
        RECT client;
        GetClientRect(window(form), &client);
        return {0, 0, client.right, client.bottom};
    }
    static PixelRect onForm(const Form& form, const std::string& name, int index) {
        RECT r;
        GetWindowRect(control(form, name, index), &r);
        MapWindowPoints(nullptr, window(form), reinterpret_cast<POINT*>(&r), 2);
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    static char passwordChar(const Form& form, const std::string& name, int index) {
        return static_cast<char>(SendMessageA(control(form, name, index), EM_GETPASSWORDCHAR, 0, 0));
    }
    static bool bold(const Form& form, const std::string& name, int index) {
        return logFont(control(form, name, index)).lfWeight == FW_BOLD;
    }
    static double fontSize(const Form& form, const std::string& name, int index) {
        return logFont(control(form, name, index)).lfHeight;
    }
    // As the control draws its caption in its own font: a label wraps it into as many lines as it has
    // room for (at least one), the last character's spacing may overrun; a frame's is one line.
    static bool showsWholeCaption(const Form& form, const ControlLayout& c) {
        const HWND shown = control(form, c.name, c.index);
        RECT box;
        GetClientRect(shown, &box);
        const HDC dc = GetDC(shown);
        const HGDIOBJ previous = SelectObject(dc, fontOf(shown));
        TEXTMETRICA metrics{};
        GetTextMetricsA(dc, &metrics);
        RECT text = box;
        const UINT wrap = c.kind == ControlKind::Label ? DT_WORDBREAK : DT_SINGLELINE;
        DrawTextA(dc, c.caption.c_str(), -1, &text, DT_CALCRECT | DT_EXPANDTABS | wrap);
        SelectObject(dc, previous);
        ReleaseDC(shown, dc);
        const LONG linesShown = std::max<LONG>(1, box.bottom / metrics.tmHeight);
        return text.bottom / metrics.tmHeight <= linesShown && text.right <= box.right + 1;
    }
    static void activate(Form& form) {
        form.Show(false);
        SetForegroundWindow(window(form));
        pump();
    }
    static void press(Form&, UserKey key) {
        const UINT vk = key == UserKey::Tab ? VK_TAB : key == UserKey::Enter ? VK_RETURN : VK_ESCAPE;
        PostMessageA(GetFocus(), WM_KEYDOWN, vk, 0);
        pump();
    }
    static void click(Form& form, const std::string& name, int index) {
        SendMessageA(control(form, name, index), BM_CLICK, 0, 0);
    }
    static void closeBox(Form& form) { SendMessageA(window(form), WM_CLOSE, 0, 0); }
    static bool focused(const Form& form, const std::string& name, int index) {
        return GetFocus() == control(form, name, index);
    }
};

int formWindowsOfThisThread() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM found) {
            char name[32] = {};
            GetClassNameA(window, name, sizeof name);
            *reinterpret_cast<int*>(found) += std::string(name) == "QuietwireForm" ? 1 : 0;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

int CALLBACK countFamily(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
    ++*reinterpret_cast<int*>(found);
    return 1;
}

bool hasFamily(const char* family) {
    LOGFONTA wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(wanted.lfFaceName, family, LF_FACESIZE);
    int found = 0;
    EnumFontFamiliesExA(ScreenDC().get(), &wanted, countFamily, reinterpret_cast<LPARAM>(&found), 0);
    return found > 0;
}

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, FormConformance, Win32Backend);

TEST(Win32Form, AFormThatCannotBeBuiltLeavesNoWindowBehind) {
    FormLayout layout = sampleLayout();
    layout.controls.push_back({.name = "Label9", .kind = ControlKind::Label, .container = "Frame9"});
    const int before = formWindowsOfThisThread();
    FormRecorder handlers;
    EXPECT_THROW(Win32Form(layout, handlers), std::logic_error);
    EXPECT_EQ(formWindowsOfThisThread(), before);
}

// Without Wine's own fonts a wider substitute stands in for Tahoma, cutting captions short, and the
// caption buttons (drawn with Marlett) show letters.
TEST(Win32Fonts, FormsDrawInWinesOwnTahomaAndMarlettIsThere) {
    FormHandlers handlers;
    Win32Form form(passwordLayout(), handlers);
    const ScreenDC dc;
    const HGDIOBJ previous = SelectObject(dc.get(), fontOf(form.control("Label1")));
    char face[LF_FACESIZE] = {};
    GetTextFaceA(dc.get(), sizeof face, face);
    SelectObject(dc.get(), previous);
    EXPECT_STREQ(face, "Tahoma");
    EXPECT_TRUE(hasFamily("Tahoma"));
    EXPECT_TRUE(hasFamily("Marlett"));
}

TEST(Win32Form, TheEndOfTheSessionClosesTheFormWithItsOwnReason) {
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    form.Show(false);
    SendMessageA(reinterpret_cast<HWND>(form.Handle()), WM_ENDSESSION, FALSE, 0); // the end was called off
    EXPECT_TRUE(form.Visible());
    SendMessageA(reinterpret_cast<HWND>(form.Handle()), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(handlers.events, (std::vector<std::string>{"QueryUnload shutdown", "Unload"}));
}

TEST(Win32ProgramIcons, AFormShowsThemAsItsIconAndInPictureBoxes) {
    FormHandlers handlers;
    Win32Form form(pictureLayout(), handlers);
    const uintptr_t window = LoadProgramIcon(ProgramIcon::Window);
    const uintptr_t open = LoadProgramIcon(ProgramIcon::Open);
    form.SetWindowIcon(window);
    form.SetPicture("Picture1", open);
    EXPECT_EQ(static_cast<uintptr_t>(SendMessageA(reinterpret_cast<HWND>(form.Handle()), WM_GETICON, ICON_BIG, 0)),
              window);
    EXPECT_EQ(static_cast<uintptr_t>(SendMessageA(form.control("Picture1"), STM_GETICON, 0, 0)), open);
}

namespace {
class CountingSink : public TrayMessageSink {
public:
    int messages = 0;
    void HandleTrayMessage(uint32_t, uint32_t) override { ++messages; }
};
} // namespace

TEST(Win32Form, AFormWindowCanOwnTheTrayIconAndKeepsItsHandlers) {
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    CountingSink sink;
    const uintptr_t window = form.Handle();
    systemTrayShell().HookWindow(window, sink); // the tray keeps its component in the window's user data
    SendMessageA(reinterpret_cast<HWND>(window), TRAY_CALLBACK_MESSAGE, 0, WM_RBUTTONUP);
    SendMessageA(form.control("Command1", 1), BM_CLICK, 0, 0);
    systemTrayShell().UnhookWindow(window);
    SendMessageA(form.control("Command1", 0), BM_CLICK, 0, 0);
    EXPECT_EQ(sink.messages, 1);
    EXPECT_EQ(handlers.events, (std::vector<std::string>{"Click Command1 1", "Click Command1 0"}));
}
