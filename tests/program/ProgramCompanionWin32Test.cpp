// The program as the enforcer on Wine's virtual desktop and its tray program beside it as its face, from
// a folder of the test's own: the tray copy's administration and quietwirectl reach the enforcer over
// the channel, and the tray copy outlives the enforcer. program-check.sh runs these tests.
#include "admin/Administration.h"
#include "platform/ProgramIcons.h"
#include "program/ProgramWin32Desktop.h"
#include "settings/modGlobals.h"
#include "support/Done.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

int hourNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now.wHour;
}

// A whole hour, as settings.ini keeps a time.
std::string hourOfDay(int hour) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%02d:00:00", hour % 24);
    return text;
}

class CompanionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_.file("tool"));
        for (const auto& [from, to] : {std::pair{QW_PROGRAM_PATH, program_}, std::pair{QW_TRAY_PATH, tray_},
                                       std::pair{QW_QUIETWIRECTL_PATH, tool_}}) {
            std::error_code error;
            std::filesystem::copy_file(from, to, error);
            ASSERT_FALSE(error) << "cannot copy " << from << ": " << error.message();
        }
        ASSERT_TRUE(open_.loaded() && blocked_.loaded()) << "no tray icons in " << QW_PROGRAM_PATH;
        useSettingsFolder(dir_.str(), [this] {
            resetSettings();
            modGlobals::AdminPassword = "Secret";
            modGlobals::StartTime = start_;
            modGlobals::EndTime = end_;
            setPorts({"2525, TEST"});
            ASSERT_TRUE(modGlobals::SaveSettings());
        });
        ASSERT_EQ(open_.timesInTaskbar() + blocked_.timesInTaskbar(), 0) << "the tray already shows the icon";
    }

    // The pointer leaves the tray: a tip it called up there would cover the next test's icon.
    void TearDown() override { SetCursorPos(0, 0); }

    // The window settings.ini holds, as the program's settings code reads it.
    std::string storedWindow() {
        useSettingsFolder(dir_.str(), [] {
            resetSettings();
            EXPECT_TRUE(done(modGlobals::LoadSettings()));
        });
        return modGlobals::StartTime + "-" + modGlobals::EndTime;
    }

    ToolRun quietwirectl(const std::string& arguments, const std::string& password) {
        std::ofstream(dir_.file("password")) << password << "\n";
        return runTool(tool_, arguments + " --password-file \"" + dir_.file("password") + "\"",
                       dir_.file("quietwirectl-" + std::to_string(++toolRuns_) + ".txt"));
    }

    TempDir dir_;
    const std::string program_ = dir_.file("quietwire.exe");
    const std::string tray_ = dir_.file("quietwiretray.exe");
    // In a folder of its own, without settings: what it changes reaches settings.ini only through the enforcer.
    const std::string tool_ = dir_.file("tool\\quietwirectl.exe");
    // The ports open from three hours on: they are closed now, and stay closed when the window ends later.
    const int hour_ = hourNow();
    const std::string start_ = hourOfDay(hour_ + 3);
    const std::string end_ = hourOfDay(hour_ + 4);
    const std::string laterEnd_ = hourOfDay(hour_ + 5);
    int toolRuns_ = 0;
    const TrayPicture open_{QW_PROGRAM_PATH, ProgramIcon::Open};
    const TrayPicture blocked_{QW_PROGRAM_PATH, ProgramIcon::Blocked};
};

// The pop-up menu of the copy whose icon is right-clicked, among the places the icon shows; any other
// copy's menu that pops up is dismissed.
HWND menuOf(const RunningProgram& program, const TrayPicture& icon) {
    for (const POINT place : icon.placesInTaskbar()) {
        rightClick(place);
        const DWORD owner = waitUntil([&]() -> DWORD {
            const HWND menu = FindWindowA("#32768", nullptr);
            DWORD process = 0;
            return menu != nullptr && IsWindowVisible(menu) ? GetWindowThreadProcessId(menu, &process), process : 0;
        });
        if (owner == program.processId()) {
            return program.shown("#32768", "");
        }
        pressKey(VK_ESCAPE);
        waitUntil([] { return FindWindowA("#32768", nullptr) == nullptr; });
    }
    return nullptr;
}

// Types into the password prompt and presses OK.
void enter(HWND prompt, const std::string& password) {
    SendMessageA(FindWindowExA(prompt, nullptr, "Edit", nullptr), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(password.c_str()));
    PostMessageA(FindWindowExA(prompt, nullptr, "Button", "OK"), BM_CLICK, 0, 0);
}

// The edit box of the dialog that shows the text.
HWND editShowing(HWND dialog, const std::string& text) {
    for (HWND edit = FindWindowExA(dialog, nullptr, "Edit", nullptr); edit != nullptr;
         edit = FindWindowExA(dialog, edit, "Edit", nullptr)) {
        char shown[64] = {};
        SendMessageA(edit, WM_GETTEXT, sizeof shown, reinterpret_cast<LPARAM>(shown)); // the box's, not its caption
        if (text == shown) {
            return edit;
        }
    }
    return nullptr;
}

TEST_F(CompanionTest, TheTrayProgramIsTheFaceOfTheEnforcerBesideItAndSaysWhenNoneEnforces) {
    auto enforcer = std::make_unique<RunningProgram>(program_);
    ASSERT_TRUE(enforcer->started()) << "cannot start " << program_;
    ASSERT_TRUE(waitUntil([&] { return blocked_.timesInTaskbar() == 1; })) << "the enforcer shows no blocked icon";
    RunningProgram companion(tray_, RunningProgram::Rights::Limited);
    ASSERT_TRUE(companion.started()) << "cannot start " << tray_;
    EXPECT_TRUE(waitUntil([&] { return blocked_.timesInTaskbar() == 2; })) << "the tray copy shows no blocked icon";
    ASSERT_TRUE(companion.running()) << "the tray copy ended beside the enforcer";
    photograph("wine-companion-tray");

    // Its administration: the enforcer checks the password and saves what the dialog changed.
    const HWND menu = menuOf(companion, blocked_);
    ASSERT_NE(menu, nullptr) << "no icon of the tray copy's pops up its menu";
    pressKey(VK_DOWN); // onto "Administration..."
    pressKey(VK_RETURN);
    const HWND prompt = waitUntil([&] { return companion.shown("QuietwireForm", "Vesk Quietwire"); });
    ASSERT_NE(prompt, nullptr) << "no password prompt after Administration...";
    enter(prompt, "secret");
    const HWND refusal = waitUntil([&] { return companion.messageBox(); });
    ASSERT_NE(refusal, nullptr) << "a wrong password was taken";
    EXPECT_EQ(messageText(refusal), Administration::InvalidPassword);
    PostMessageA(GetDlgItem(refusal, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(refusal); }));
    enter(prompt, "Secret");
    const HWND dialog = waitUntil([&] { return companion.shown("QuietwireForm", "Vesk Quietwire - Administration"); });
    ASSERT_NE(dialog, nullptr) << "the password did not open the administration dialog";
    const HWND end = editShowing(dialog, end_);
    ASSERT_NE(end, nullptr) << "the dialog does not show the end of the window";
    SendMessageA(end, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(laterEnd_.c_str()));
    photograph("wine-companion-administration");
    PostMessageA(FindWindowExA(dialog, nullptr, "Button", "OK"), BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(dialog); })) << "OK did not close the dialog";
    EXPECT_EQ(storedWindow(), start_ + "-" + laterEnd_);

    // quietwirectl: the enforcer refuses a wrong password and opens the ports all day on the right one.
    const ToolRun refused = quietwirectl("set-window 00:00 00:00", "secret");
    EXPECT_NE(refused.status, 0u);
    EXPECT_NE(refused.output.find(Administration::InvalidPassword), std::string::npos) << refused.output;
    EXPECT_EQ(storedWindow(), start_ + "-" + laterEnd_);
    const ToolRun changed = quietwirectl("set-window 00:00 00:00", "Secret");
    EXPECT_EQ(changed.status, 0u) << changed.output;
    EXPECT_TRUE(waitUntil([&] { return open_.timesInTaskbar() == 2; })) << "the icons stayed blocked";
    EXPECT_EQ(storedWindow(), "00:00:00-00:00:00");

    // Without its enforcer the tray copy runs on and says so.
    enforcer.reset();
    const HWND told = waitUntil([&] { return companion.messageBox(); });
    ASSERT_NE(told, nullptr) << "the tray copy did not say the curfew is not enforced";
    EXPECT_EQ(messageText(told).rfind("The curfew is not enforced", 0), 0u) << messageText(told);
    EXPECT_TRUE(companion.running());
    EXPECT_EQ(open_.timesInTaskbar(), 1) << "the tray copy's icon left the tray";
    photograph("wine-companion-not-enforced");
    PostMessageA(GetDlgItem(told, IDOK), BM_CLICK, 0, 0);
}

} // namespace
