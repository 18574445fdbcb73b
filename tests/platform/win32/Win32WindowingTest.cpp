#include "fakes/FormRecorder.h"
#include "platform/ProgramIcons.h"
#include "platform/TrayShell.h"
#include "platform/Windowing.h"
#include "platform/win32/ScopedWin.h"
#include "platform/win32/Win32Form.h"
#include "support/SampleForm.h"
#include "support/TempDir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

// The Win32 windowing under Wine on an X server (Xvfb, started by the test command): forms built from
// layout tables and driven with window messages as a user's keys and clicks arrive.
namespace {

int dpi() {
    return GetDeviceCaps(ScreenDC().get(), LOGPIXELSX);
}

RECT placeOnForm(HWND control, HWND form) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The face of a font, and the width text in it takes up to the ink of its last character.
struct TextInFont {
    std::string face;
    int inkWidth;
};
TextInFont measure(HFONT font, const std::string& text) {
    const ScreenDC dc;
    HDC screen = dc.get();
    HGDIOBJ previous = SelectObject(screen, font);
    char face[LF_FACESIZE] = {};
    GetTextFaceA(screen, sizeof face, face);
    SIZE extent{};
    GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &extent);
    ABC last{};
    if (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.back());
        GetCharABCWidthsA(screen, c, c, &last);
    }
    SelectObject(screen, previous);
    return {face, static_cast<int>(extent.cx - std::max(last.abcC, 0))};
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

void pump(Windowing& windowing) {
    for (int i = 0; i < 5; ++i) {
        windowing.DoEvents();
        Sleep(10);
    }
}

} // namespace

TEST(Win32Form, ControlsCarryTheLayoutsCaptionsAndPositions) {
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    const HWND window = reinterpret_cast<HWND>(form.Handle());
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Sample");
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, MulDiv(3885, dpi(), 1440));
    EXPECT_EQ(form.Text("Label1", -1), "Password:");
    EXPECT_EQ(form.Text("Command1", 1), "Cancel");
    EXPECT_EQ(form.Text("Text1", 1), "second");
    const RECT label = placeOnForm(form.control("Label1"), window);
    EXPECT_EQ(label.left, MulDiv(90, dpi(), 1440) + MulDiv(120, dpi(), 1440)) << "placed at its frame's offset";
    EXPECT_EQ(label.top, MulDiv(90, dpi(), 1440) + MulDiv(240, dpi(), 1440));
    EXPECT_EQ(SendMessageA(form.control("Text1", 0), EM_GETPASSWORDCHAR, 0, 0), '*');
}

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
TEST(Win32Fonts, TahomaAndMarlettAreWinesOwn) {
    const UniqueFont tahoma(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                        "Tahoma"));
    EXPECT_EQ(measure(tahoma.get(), "").face, "Tahoma");
    EXPECT_TRUE(hasFamily("Tahoma"));
    EXPECT_TRUE(hasFamily("Marlett"));
}

TEST(Win32Form, ThePasswordLabelShowsItsWholeCaptionInTheFormsFont) {
    FormHandlers handlers;
    Win32Form form(passwordLayout(), handlers);
    const HWND label = form.control("Label1");
    const auto font = reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0));
    const TextInFont caption = measure(font, "Password:");
    RECT box;
    GetClientRect(label, &box);
    EXPECT_EQ(caption.face, "Tahoma");
    EXPECT_LE(caption.inkWidth, box.right) << "\"Password:\" is cut short";
}

TEST(Win32Form, TabGoesThroughTheControlsInTabIndexOrder) {
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    const HWND window = reinterpret_cast<HWND>(form.Handle());
    std::vector<HWND> order{form.control("Text1", 1)};
    for (int i = 0; i < 4; ++i) {
        order.push_back(GetNextDlgTabItem(window, order.back(), FALSE));
    }
    EXPECT_EQ(order, (std::vector<HWND>{form.control("Text1", 1), form.control("Text1", 0), form.control("Command1", 0),
                                        form.control("Command1", 1), form.control("List1")}));
}

TEST(Win32Form, EnterPressesTheDefaultButtonEscDoesNothingAndArraysShareAHandler) {
    auto windowing = makeSystemWindowing(false);
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    form.Show(false);
    form.SetFocus("Text1", 0);
    PostMessageA(form.control("Text1", 0), WM_KEYDOWN, VK_RETURN, 0);
    PostMessageA(form.control("Text1", 0), WM_KEYDOWN, VK_ESCAPE, 0);
    pump(*windowing);
    SendMessageA(form.control("Command1", 1), BM_CLICK, 0, 0);
    EXPECT_EQ(handlers.events, (std::vector<std::string>{"Click Command1 0", "Click Command1 1"}));
    EXPECT_TRUE(form.Visible());
}

TEST(Win32Form, ACloseRequestCanBeCancelledAndTellsWhyItCame) {
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    form.Show(false);
    handlers.cancelClose = true;
    SendMessageA(reinterpret_cast<HWND>(form.Handle()), WM_CLOSE, 0, 0); // the close box
    EXPECT_TRUE(form.Visible());
    handlers.cancelClose = false;
    form.Close();
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(handlers.events, (std::vector<std::string>{"QueryUnload user", "QueryUnload code", "Unload"}));
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

TEST(Win32Form, AModalShowingRunsTimersAndReturnsWhenTheFormCloses) {
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    int ticks = 0;
    handlers.onTick = [&](const std::string&) {
        if (++ticks == 3) {
            form.Close();
        }
    };
    form.SetTimer("Timer1", true);
    EXPECT_TRUE(form.TimerEnabled("Timer1"));
    form.Show(true);
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(ticks, 3);
    form.SetTimer("Timer1", false);
}

TEST(Win32Form, ListBoxesAddRemoveReplaceAndSelect) {
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    form.AddItem("List1", "21, FTP PORT");
    form.AddItem("List1", "25");
    form.AddItem("List1", "110");
    EXPECT_EQ(form.ListIndex("List1"), -1);
    form.RemoveItem("List1", 0);
    form.SetList("List1", 1, "995");
    form.SetListIndex("List1", 1);
    EXPECT_EQ(form.ListCount("List1"), 2);
    EXPECT_EQ(form.List("List1", 0), "25");
    EXPECT_EQ(form.List("List1", 1), "995");
    EXPECT_EQ(form.ListIndex("List1"), 1);
}

namespace {
std::string typedAnswer;
bool cancelPrompt = false;

// Answers the input prompt once it is up, as a user would.
void CALLBACK AnswerPrompt(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND prompt = FindWindowA("QuietwireForm", "Enter port to exclude:");
    if (prompt == nullptr) {
        return;
    }
    KillTimer(nullptr, timer);
    HWND edit = FindWindowExA(prompt, nullptr, "EDIT", nullptr);
    SetWindowTextA(edit, typedAnswer.c_str());
    HWND button = FindWindowExA(prompt, nullptr, "BUTTON", cancelPrompt ? "Cancel" : "OK");
    PostMessageA(button, BM_CLICK, 0, 0);
}

std::string boxTitle;
void CALLBACK CloseMessageBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = FindWindowA("#32770", nullptr);
    if (box == nullptr) {
        return;
    }
    KillTimer(nullptr, timer);
    char title[64] = {};
    GetWindowTextA(box, title, sizeof title);
    boxTitle = title;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}
} // namespace

TEST(Win32Windowing, AnInputPromptTellsAnEmptyAnswerFromCancel) {
    auto windowing = makeSystemWindowing(false);
    typedAnswer = "";
    cancelPrompt = false;
    SetTimer(nullptr, 0, 30, AnswerPrompt);
    EXPECT_EQ(windowing->InputBox("Port:", "Enter port to exclude:", "x"), std::optional<std::string>(""));
    typedAnswer = "443";
    SetTimer(nullptr, 0, 30, AnswerPrompt);
    EXPECT_EQ(windowing->InputBox("Port:", "Enter port to exclude:", ""), std::optional<std::string>("443"));
    cancelPrompt = true;
    SetTimer(nullptr, 0, 30, AnswerPrompt);
    EXPECT_EQ(windowing->InputBox("Port:", "Enter port to exclude:", ""), std::nullopt);
}

TEST(Win32Windowing, AMessageBoxIsClosedWithItsOkButton) {
    auto windowing = makeSystemWindowing(false);
    boxTitle.clear();
    SetTimer(nullptr, 0, 30, CloseMessageBox);
    windowing->MsgBox("Alarm has been reset!", MsgBoxIcon::Exclamation, "QWADMIN");
    EXPECT_EQ(boxTitle, "QWADMIN");
}

TEST(Win32Windowing, ASecondInstanceOfTheSameUserIsDetected) {
    auto first = makeSystemWindowing(true);
    auto second = makeSystemWindowing(true);
    EXPECT_FALSE(first->PrevInstance());
    EXPECT_TRUE(second->PrevInstance());
    EXPECT_EQ(second->PrevInstanceId(), GetCurrentProcessId()) << "the copy that holds the lock";
    EXPECT_EQ(first->PrevInstanceId(), 0u);
}

TEST(Win32Windowing, ShellOpenGivesZeroForAMissingFile) {
    auto windowing = makeSystemWindowing(true);
    TempDir dir;
    EXPECT_EQ(windowing->ShellOpen(dir.file("readme.txt"), "", 0, "", ""), 0);
}

TEST(Win32Windowing, HeadlessNothingIsShownAndDialogsAnswerAtOnce) {
    auto windowing = makeSystemWindowing(true);
    windowing->MsgBox("nobody sees this", MsgBoxIcon::Stop, "QWADMIN");
    EXPECT_EQ(windowing->InputBox("Port:", "t", "d"), std::nullopt);
    EXPECT_EQ(windowing->PopupMenu({"Exit"}), -1);
    FormRecorder handlers;
    const auto form = windowing->CreateForm(sampleLayout(), handlers);
    form->Show(true);
    EXPECT_FALSE(form->Visible());
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
int menuKeysSent = 0;
// Picks the third entry of the pop-up menu once it is up: Down three times (over the separator), Enter.
void CALLBACK ChooseFromMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (menu == nullptr || !IsWindowVisible(menu)) {
        return;
    }
    KillTimer(nullptr, timer);
    const UINT keys[] = {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN};
    for (const UINT key : keys) {
        PostMessageA(menu, WM_KEYDOWN, key, 0);
        ++menuKeysSent;
    }
}
void CALLBACK DismissMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (menu == nullptr || !IsWindowVisible(menu)) {
        return;
    }
    KillTimer(nullptr, timer);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
}
} // namespace

TEST(Win32Windowing, APopupMenuGivesTheChosenItemOrNothing) {
    auto windowing = makeSystemWindowing(false);
    const std::vector<std::string> items = {"Administration...", "-", "Readme.txt", "About...", "-", "Exit"};
    SetTimer(nullptr, 0, 30, ChooseFromMenu);
    EXPECT_EQ(windowing->PopupMenu(items), 3) << "Down, Down (over the separator), Down: About...";
    EXPECT_EQ(menuKeysSent, 4);
    SetTimer(nullptr, 0, 30, DismissMenu);
    EXPECT_EQ(windowing->PopupMenu(items), -1);
}

TEST(Win32Windowing, BringToFrontRaisesAFormOfTheProgram) {
    auto windowing = makeSystemWindowing(false);
    FormRecorder handlers;
    Win32Form form(sampleLayout(), handlers);
    form.Show(false);
    EXPECT_NE(windowing->BringToFront(form.Handle()), 0);
    pump(*windowing);
    EXPECT_EQ(GetForegroundWindow(), reinterpret_cast<HWND>(form.Handle()));
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
