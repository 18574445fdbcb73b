#include "fakes/FormRecorder.h"
#include "platform/AdminFormsConformance.h"
#include "platform/FormConformance.h"
#include "platform/ProgramIcons.h"
#include "platform/TrayShell.h"
#include "platform/WindowingConformance.h"
#include "platform/win32/Win32Driver.h"
#include "support/SampleForm.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

// The Win32 forms and dialogs under Wine on an X server (Xvfb, started by the test command), and the
// program's password prompt and administration dialog on them.
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, FormConformance, Win32Driver);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, WindowingConformance, Win32Driver);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, AdminFormsConformance, Win32Driver);

namespace {

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
    const HGDIOBJ previous = SelectObject(dc.get(), Win32Driver::font(form.control("Label1")));
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
