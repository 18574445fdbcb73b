// The built Windows program under Wine, run as a user and as the service manager run it: on Wine's
// virtual desktop (which has a taskbar), each copy from a folder of the test's own with its own
// settings.ini. program-check.sh runs these tests in a Wine prefix of their own and takes the
// photographs they ask for.
#include "platform/ProgramIcons.h"
#include "platform/ServiceControl.h"
#include "platform/win32/ServiceManager.h"
#include "platform/win32/UniqueHandle.h"
#include "program/ProgramWin32Desktop.h"
#include "service/ServiceHost.h"
#include "settings/modGlobals.h"
#include "support/Done.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>
#undef StartService

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace servicemanager;

constexpr char ClockWarning[] =
    "WARNING\r\nThe system clock has changed, network has been disabled, please contact the "
    "Administrator to re-enable it.";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A folder with a copy of the program and its own settings.ini, written and read with the program's
// own settings code.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code error;
        std::filesystem::copy_file(QW_PROGRAM_PATH, program_, error);
        ASSERT_FALSE(error) << "cannot copy " << QW_PROGRAM_PATH << ": " << error.message();
        std::filesystem::copy_file(QW_QUIETWIRECTL_PATH, tool_, error);
        ASSERT_FALSE(error) << "cannot copy " << QW_QUIETWIRECTL_PATH << ": " << error.message();
        ASSERT_TRUE(open_.loaded() && blocked_.loaded()) << "no tray icons in " << QW_PROGRAM_PATH;
        ASSERT_NO_FATAL_FAILURE(writeOpenAllDaySettings(dir_.str()));
        ASSERT_EQ(open_.timesInTaskbar(), 0) << "the tray already shows the program's icon";
    }

    bool alarmStored() {
        useSettingsFolder(dir_.str(), [] {
            resetSettings();
            EXPECT_TRUE(done(modGlobals::LoadSettings()));
        });
        return modGlobals::AlarmRaised;
    }

    std::string settingsBytes() const { return readBytes(settings_); }

    // quietwirectl beside the program; the administrator's password from a file.
    ToolRun quietwirectl(const std::string& arguments, bool administrator = true) {
        if (administrator) {
            std::ofstream(dir_.file("password")) << "secret\n"; // a text file: CR LF on Windows
        }
        // A file for each run: Wine may close an ended process's handles a moment after it ended.
        return runTool(tool_, arguments + (administrator ? " --password-file \"" + dir_.file("password") + "\"" : ""),
                       dir_.file("quietwirectl-" + std::to_string(++toolRuns_) + ".txt"));
    }

    // A copy of the program with its icon in the tray.
    std::unique_ptr<RunningProgram> startWithIcon() {
        auto program = std::make_unique<RunningProgram>(program_);
        EXPECT_TRUE(program->started()) << "cannot start " << program_;
        EXPECT_TRUE(waitUntil([&] { return open_.timesInTaskbar() == 1; })) << "the icon never showed in the tray";
        return program;
    }

    TempDir dir_;
    const std::string program_ = dir_.file("quietwire.exe");
    const std::string tool_ = dir_.file("quietwirectl.exe");
    int toolRuns_ = 0;
    const std::string settings_ = dir_.file("settings.ini");
    const TrayPicture open_{QW_PROGRAM_PATH, ProgramIcon::Open};
    const TrayPicture blocked_{QW_PROGRAM_PATH, ProgramIcon::Blocked};
};

TEST_F(ProgramTest, StartedOnTheDesktopItShowsItsOpenIconInTheTrayUntilItEnds) {
    {
        auto program = startWithIcon();
        EXPECT_EQ(blocked_.timesInTaskbar(), 0);
        photograph("wine-program-tray");
    }
    EXPECT_EQ(open_.timesInTaskbar(), 0) << "the icon stayed in the tray after the program ended";
}

TEST_F(ProgramTest, AClockChangeStoresTheAlarmWhileTheWarningIsOpenAndTheProgramRunsOnBlocked) {
    auto program = startWithIcon();
    const HWND main = program->mainWindow();
    ASSERT_NE(main, nullptr) << "no main window";

    // The system sends WM_TIMECHANGE to every top-level window; the handler shows a modal box, so the
    // send is given up on while the box stays open.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(main, WM_TIMECHANGE, 0, 0, SMTO_NORMAL, 1000, &ignored);
    const HWND box = waitUntil([&] { return program->messageBox(); });
    ASSERT_NE(box, nullptr) << "no warning box";
    EXPECT_EQ(messageText(box), ClockWarning);
    EXPECT_TRUE(waitUntil([&] { return alarmStored(); })) << "ALARM not stored while the warning is open";
    EXPECT_TRUE(IsWindow(box)) << "the warning closed by itself";
    photograph("wine-program-clock-warning");

    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(box); })) << "OK did not close the warning";
    EXPECT_TRUE(waitUntil([&] { return blocked_.timesInTaskbar() == 1; })) << "no blocked icon after the alarm";
    EXPECT_TRUE(program->running());
    EXPECT_TRUE(alarmStored());
}

TEST_F(ProgramTest, ARightClickOnTheIconPopsUpTheMenuWhoseAdministrationAsksForThePasswordFirst) {
    auto program = startWithIcon();
    const std::vector<POINT> icon = open_.placesInTaskbar();
    ASSERT_EQ(icon.size(), 1u);
    rightClick(icon[0]);
    ASSERT_TRUE(waitUntil([&] { return program->shown("#32768", ""); })) << "no pop-up menu after a right click";
    photograph("wine-program-tray-menu");

    pressKey(VK_DOWN); // onto "Administration..."
    pressKey(VK_RETURN);
    const HWND prompt = waitUntil([&] { return program->shown("QuietwireForm", "Vesk Quietwire"); });
    ASSERT_NE(prompt, nullptr) << "no password prompt after Administration...";
    EXPECT_EQ(GetForegroundWindow(), prompt) << "the prompt opened behind other windows";
    for (const char key : std::string("SECRET")) { // the keys of "secret", into the box that has the focus
        pressKey(static_cast<WORD>(key));
    }
    const HWND entry = FindWindowExA(prompt, nullptr, "Edit", nullptr);
    EXPECT_TRUE(waitUntil([&] { return SendMessageA(entry, WM_GETTEXTLENGTH, 0, 0) == 6; }))
        << "the typing did not reach the password box";
    photograph("wine-program-password");

    pressKey(VK_RETURN);
    const HWND dialog = waitUntil([&] { return program->shown("QuietwireForm", "Vesk Quietwire - Administration"); });
    ASSERT_NE(dialog, nullptr) << "the password did not open the administration dialog";
    EXPECT_EQ(GetForegroundWindow(), dialog) << "the dialog opened behind other windows";
    photograph("wine-program-administration");

    const FILETIME saved = lastWritten(settings_);
    pressKey(VK_RETURN); // on Cancel, which holds the focus
    EXPECT_TRUE(waitUntil([&] { return !IsWindowVisible(dialog); })) << "Enter on Cancel did not close the dialog";
    EXPECT_TRUE(lastWritten(settings_) == saved) << "OK was pressed, not Cancel";
    EXPECT_TRUE(program->running());
    EXPECT_EQ(open_.timesInTaskbar(), 1);
}

TEST_F(ProgramTest, ASecondCopyEndsByItselfAndLeavesTheFirstAndTheSettingsAlone) {
    auto first = startWithIcon();
    const std::string settings = settingsBytes();

    RunningProgram second(program_);
    ASSERT_TRUE(second.started());
    EXPECT_TRUE(second.endsWithin(10000)) << "the second copy did not end by itself";
    EXPECT_TRUE(first->running());
    EXPECT_EQ(open_.timesInTaskbar(), 1);
    EXPECT_EQ(settingsBytes(), settings);
}

// Explorer, the taskbar and the installed-programs list show the executable's first icon, as the shell
// extracts it.
TEST(ProgramFile, ItsFirstIconIsTheKeyThatItsTitleBarsAndTheTrayShow) {
    const HICON first = ExtractIconA(GetModuleHandleA(nullptr), QW_PROGRAM_PATH, 0);
    ASSERT_TRUE(first != nullptr && first != reinterpret_cast<HICON>(1)) << "no icon in " << QW_PROGRAM_PATH;
    const HMODULE program =
        LoadLibraryExA(QW_PROGRAM_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program, nullptr);
    const int size = GetSystemMetrics(SM_CXICON);
    const auto loaded = [&](ProgramIcon icon) {
        const auto handle = static_cast<HICON>(
            LoadImageA(program, MAKEINTRESOURCEA(static_cast<int>(icon)), IMAGE_ICON, size, size, 0));
        std::vector<uint32_t> pixels = drawnPixels(handle, size);
        DestroyIcon(handle);
        return pixels;
    };
    const std::vector<uint32_t> shown = drawnPixels(first, size);
    EXPECT_EQ(shown, loaded(ProgramIcon::Window)) << "not the icon of the program's title bars";
    EXPECT_EQ(shown, loaded(ProgramIcon::Open)) << "not the key";
    EXPECT_NE(shown, loaded(ProgramIcon::Blocked)) << "the pictures cannot be told apart";
    DestroyIcon(first);
    FreeLibrary(program);
}

// The execution level the program's embedded manifest asks Windows for.
std::string requestedLevel(const char* program) {
    const HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    const HRSRC found = module != nullptr ? FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) : nullptr;
    const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const std::string manifest =
        loaded != nullptr ? std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found))
                          : "";
    if (module != nullptr) {
        FreeLibrary(module);
    }
    const std::string key = "requestedExecutionLevel level=\"";
    const std::size_t at = manifest.find(key);
    return at == std::string::npos
               ? ""
               : manifest.substr(at + key.size(), manifest.find('"', at + key.size()) - at - key.size());
}

TEST(ProgramFile, TheProgramAsksForAnAdministratorItsTrayCopyForNoMoreThanItsUsersRights) {
    EXPECT_EQ(requestedLevel(QW_PROGRAM_PATH), "requireAdministrator");
    EXPECT_EQ(requestedLevel(QW_TRAY_PATH), "asInvoker");
}

class ProgramService : public ProgramTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        ASSERT_TRUE(manager()) << "no service control manager";
        cleanUp();
    }
    void TearDown() override { cleanUp(); }

    void cleanUp() {
        removeLeftover();
        control_.SaveSetting("General", "Installed", "False");
    }

    // As the Register button does it, in a process set up as the program sets itself up at start.
    // Install registers the process that calls it: the registration is then pointed at the copy under
    // test, its other properties kept.
    void registerTheProgram() {
        struct NoRequests final : ServiceRequests {
            void Start(bool&) override {}
            void Continue(bool&) override {}
            void Stop() override {}
        };
        static NoRequests none;
        ServiceHost::ServiceStartup(control_, none);
        control_.SetInteractive(true);
        ASSERT_TRUE(done(control_.Install()));
        const ServiceHandle service = openQuietwire();
        const std::string command = "\"" + program_ + "\"";
        ASSERT_TRUE(ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            << GetLastError();
        control_.SaveSetting("General", "Installed", "True");
    }

    ServiceControl& control_ = systemServiceControl();
};

TEST_F(ProgramService, RegisteredItRunsAsTheServiceAndTheStopRequestEndsItWithItsSettingsSaved) {
    ASSERT_NO_FATAL_FAILURE(registerTheProgram());
    const std::string settings = settingsBytes();
    const FILETIME longAgo = backdate(settings_);
    ASSERT_FALSE(longAgo == FILETIME{}) << "cannot set the time of " << settings_;
    {
        const ServiceHandle service = openQuietwire();
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
        ASSERT_EQ(waitFor(service, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING))
            << "the program did not answer the start request";
        const UniqueHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, statusOf(service).dwProcessId));
        char image[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        ASSERT_TRUE(QueryFullProcessImageNameA(process.get(), 0, image, &length)) << GetLastError();
        EXPECT_EQ(lstrcmpiA(image, program_.c_str()), 0) << image << " runs as the service";
        EXPECT_TRUE(lastWritten(settings_) == longAgo) << "settings written while starting";

        SERVICE_STATUS stopping{};
        ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &stopping)) << GetLastError();
        EXPECT_EQ(waitFor(service, SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(WaitForSingleObject(process.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0)) << "it runs on";
        EXPECT_EQ(statusOf(service).dwWin32ExitCode, static_cast<DWORD>(NO_ERROR)) << "the manager saw it fail";
        EXPECT_FALSE(lastWritten(settings_) == longAgo) << "the settings were not saved at the end";
        EXPECT_EQ(settingsBytes(), settings);
    }

    EXPECT_TRUE(done(control_.Uninstall()));
    control_.SaveSetting("General", "Installed", "False");
    EXPECT_FALSE(openQuietwire(SERVICE_QUERY_STATUS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ProgramService, QuietwirectlRegistersTheProgramBesideItAndUnregistersIt) {
    const ToolRun registered = quietwirectl("register-service");
    ToolRun status;
    ASSERT_EQ(registered.status, 0u) << registered.output;
    {
        const ServiceHandle service = openQuietwire();
        ASSERT_TRUE(service);
        const ServiceConfig config = configOf(service);
        EXPECT_EQ(lstrcmpiA(config.command.c_str(), ("\"" + program_ + "\"").c_str()), 0) << config.command;
        EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(config.displayName, "QWADMIN");
    }
    EXPECT_TRUE(ServiceHost::Installed(control_, "false"));
    status = quietwirectl("status", false);
    EXPECT_TRUE(contains(status.output, "Service: registered, not running")) << status.output;

    const ToolRun removed = quietwirectl("unregister-service");
    EXPECT_EQ(removed.status, 0u) << removed.output;
    EXPECT_FALSE(openQuietwire(SERVICE_QUERY_STATUS));
    EXPECT_FALSE(ServiceHost::Installed(control_, "false"));
}

TEST_F(ProgramTest, QuietwirectlChangesWhatTheRunningProgramUsesAndReadsBackWhatTheProgramWrote) {
    auto program = startWithIcon();
    ToolRun status = quietwirectl("status", false);
    EXPECT_EQ(status.status, 0u) << status.output;
    EXPECT_TRUE(contains(status.output, "Program: running\r\n")) << status.output;
    EXPECT_TRUE(contains(status.output, "open: inside the window")) << status.output;
    // Whether a copy is suspended is not told on Windows.
    const std::string id = std::to_string(program->processId());
    EXPECT_TRUE(contains(status.output, "  process " + id + " (")) << status.output;
    EXPECT_FALSE(contains(status.output, "(user unknown)")) << status.output;
    EXPECT_TRUE(contains(status.output, "): can close connections, cannot tell whether it is running or stopped\r\n"))
        << status.output;
    EXPECT_TRUE(contains(status.output, "Closing connections: yes, by process " + id +
                                            " (unless it is stopped, which cannot be told here)\r\n"))
        << status.output;
    EXPECT_EQ(quietwirectl("add-port \"21, FTP PORT\"").status, 0u);

    // The program raises the alarm and writes the file itself; the tool reads what it wrote.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(program->mainWindow(), WM_TIMECHANGE, 0, 0, SMTO_NORMAL, 1000, &ignored);
    const HWND box = waitUntil([&] { return program->messageBox(); });
    ASSERT_NE(box, nullptr) << "no warning box";
    ASSERT_TRUE(waitUntil([&] { return alarmStored(); }));
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return blocked_.timesInTaskbar() == 1; })) << "no blocked icon after the alarm";
    const ToolRun shown = quietwirectl("show --json");
    EXPECT_EQ(shown.output, "{\"start\":\"00:00:00\",\"end\":\"00:00:00\",\"closedPorts\":[\"2525, TEST\",\"21, FTP "
                            "PORT\"],\"alarm\":true,\"serviceRegistered\":false,\"block\":false,"
                            "\"blockRulesInForce\":null}\r\n")
        << "Wine keeps no filters and cannot be asked for them";

    const ToolRun reset = quietwirectl("reset-alarm");
    EXPECT_EQ(reset.output, "Alarm has been reset!\r\n");
    EXPECT_TRUE(waitUntil([&] { return open_.timesInTaskbar() == 1; })) << "the running copy kept the alarm";
    EXPECT_TRUE(contains(quietwirectl("status", false).output, "open: inside the window"));
}

} // namespace
