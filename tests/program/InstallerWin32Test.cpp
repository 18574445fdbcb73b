// The Windows installer that cpack made, under Wine in a prefix made anew for each run
// (installer-check.sh): installed silently into Program Files, the installed program run on the
// virtual desktop and as the service, and removed silently again.
#include "platform/ProgramIcons.h"
#include "platform/ServiceControl.h"
#include "platform/win32/ServiceManager.h"
#include "platform/win32/UniqueHandle.h"
#include "program/ProgramWin32Desktop.h"
#include "settings/modGlobals.h"
#include "support/Done.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <shlobj.h>
#include <windows.h>
// after windows.h, which they need
#include <objidl.h>
#include <shobjidl.h>
#undef StartService

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace servicemanager;

constexpr char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quietwire";
constexpr char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char EventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quietwire";

std::string knownFolder(int folder) {
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// A text value under HKEY_LOCAL_MACHINE; empty when there is none.
std::string machineText(const std::string& key, const std::string& value) {
    char text[1024] = {};
    DWORD size = sizeof text;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return "";
    }
    return text;
}

// A number (REG_DWORD) under HKEY_LOCAL_MACHINE; nothing when there is none or it is stored otherwise.
std::optional<DWORD> machineNumber(const std::string& key, const std::string& value) {
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), value.c_str(), RRF_RT_REG_DWORD, nullptr, &number, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return number;
}

// The program a shortcut starts; empty when it cannot be read.
std::string shortcutTarget(const std::string& link) {
    CoInitialize(nullptr);
    IShellLinkA* shortcut = nullptr;
    IPersistFile* file = nullptr;
    char target[MAX_PATH] = {};
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&shortcut)))) {
        const std::wstring path(link.begin(), link.end());
        if (SUCCEEDED(shortcut->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            shortcut->GetPath(target, MAX_PATH, nullptr, 0);
        }
        if (file != nullptr) {
            file->Release();
        }
        shortcut->Release();
    }
    CoUninitialize();
    return target;
}

// What Event Viewer shows of one of the program's entries: the text for the event id in the message file
// the event source names, filled with the entry's line and fields. Empty when there is no such text.
std::string eventText(DWORD id, const char* line, const char* fields) {
    const std::string file = machineText(EventSourceKey, "EventMessageFile");
    const HMODULE messages = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (messages == nullptr) {
        return "";
    }
    DWORD_PTR strings[] = {reinterpret_cast<DWORD_PTR>(line), reinterpret_cast<DWORD_PTR>(fields)};
    char text[1024] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages, id, 0, text, sizeof text,
                   reinterpret_cast<va_list*>(strings));
    FreeLibrary(messages);
    return text;
}

bool machineKeyExists(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// Runs the command and waits for it and for every process it started (an uninstaller runs on from a
// copy of itself, so that it can delete its own file); the command's exit code.
DWORD runToTheEnd(std::string command) {
    const UniqueHandle job(CreateJobObjectA(nullptr, nullptr));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!job.valid() || !CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                        nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot run " << command << ": " << GetLastError();
        return static_cast<DWORD>(-1);
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    DWORD code = static_cast<DWORD>(-1);
    WaitForSingleObject(process.get(), 120000);
    GetExitCodeProcess(process.get(), &code);
    const bool ended = waitUntil(
        [&] {
            JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
            return QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &accounting,
                                             sizeof accounting, nullptr) &&
                   accounting.ActiveProcesses == 0;
        },
        120000);
    EXPECT_TRUE(ended) << command << " runs on";
    return code;
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manager()) << "no service control manager";
        ASSERT_NO_FATAL_FAILURE(install());
        ASSERT_TRUE(exists(program_)) << "nothing installed at " << program_;
        ASSERT_NO_FATAL_FAILURE(writeOpenAllDaySettings(folder_));
    }

    void uninstall(const std::string& switches) {
        const std::string uninstaller = machineText(UninstallKey, "UninstallString");
        ASSERT_EQ(uninstaller, "\"" + folder_ + "\\Uninstall.exe\"");
        ASSERT_EQ(runToTheEnd(uninstaller + " /S" + switches), 0u) << "the uninstaller failed";
    }

    void install() { ASSERT_EQ(runToTheEnd("\"" QW_INSTALLER_PATH "\" /S"), 0u) << "the installer failed"; }

    // Starts the registered service; the id of the process that runs it.
    DWORD startService() {
        const ServiceHandle service = openQuietwire();
        EXPECT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
        EXPECT_EQ(waitFor(service, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING))
            << "the installed program did not start as the service";
        return statusOf(service).dwProcessId;
    }

    // The installed quietwirectl registers the installed program as the service, as an administrator
    // does it.
    void registerService() {
        std::ofstream(scratch_.file("password")) << "secret\n";
        const ToolRun run = runTool(folder_ + "\\quietwirectl.exe",
                                    "register-service --password-file \"" + scratch_.file("password") + "\"",
                                    scratch_.file("quietwirectl.txt"));
        ASSERT_EQ(run.status, 0u) << run.output;
    }

    // What the installer puts in the folder: the programs and the readme.
    std::vector<std::string> installedFiles() const {
        return {program_, tray_, folder_ + "\\quietwirectl.exe", folder_ + "\\readme.txt"};
    }

    const std::string folder_ = knownFolder(CSIDL_PROGRAM_FILES) + "\\Quietwire";
    const std::string program_ = folder_ + "\\quietwire.exe";
    const std::string tray_ = folder_ + "\\quietwiretray.exe";
    const std::string menu_ = knownFolder(CSIDL_COMMON_PROGRAMS) + "\\Quietwire";
    ServiceControl& control_ = systemServiceControl();
    TempDir scratch_;
};

TEST_F(Installer, InstallsTheProgramThatRunsOnTheDesktopAndTheUninstallerEndsItAndRemovesAllButTheSettings) {
    EXPECT_EQ(machineText(UninstallKey, "DisplayVersion"), QW_VERSION);
    EXPECT_EQ(machineText(UninstallKey, "Publisher"), "The Quietwire developers");
    EXPECT_EQ(machineText(UninstallKey, "DisplayIcon"), program_);
    EXPECT_EQ(machineNumber(UninstallKey, "NoModify"), std::optional<DWORD>(1));
    EXPECT_EQ(machineNumber(UninstallKey, "NoRepair"), std::optional<DWORD>(1));
    EXPECT_EQ(machineNumber(EventSourceKey, "TypesSupported"), std::optional<DWORD>(7));
    for (DWORD kind = 1; kind <= 11; ++kind) {
        EXPECT_EQ(eventText(kind, "Closed 1 connection.", "QW_COUNT=1\r\n"),
                  "Closed 1 connection.\r\n\r\nQW_COUNT=1\r\n\r\n")
            << "event " << kind << " has no text of its own in " << machineText(EventSourceKey, "EventMessageFile");
    }
    EXPECT_EQ(eventText(12, "a line", ""), "") << "an event the program never writes";
    for (const std::string& file : installedFiles()) {
        EXPECT_TRUE(exists(file)) << file << " is not installed";
    }
    for (const char* link : {"Quietwire.lnk", "Readme.lnk", "Uninstall.lnk"}) {
        EXPECT_TRUE(exists(menu_ + "\\" + link)) << "no " << link << " in the Start menu";
    }

    const TrayPicture open(program_, ProgramIcon::Open);
    ASSERT_TRUE(open.loaded()) << "no tray icon in " << program_;
    RunningProgram desktop(program_);
    ASSERT_TRUE(desktop.started()) << "cannot start " << program_;
    ASSERT_TRUE(waitUntil([&] { return open.timesInTaskbar() == 1; })) << "the icon never showed in the tray";
    photograph("installer-program-tray");
    ASSERT_NO_FATAL_FAILURE(registerService());

    const std::string settings = folder_ + "\\settings.ini";
    const FILETIME longAgo = backdate(settings);
    ASSERT_FALSE(longAgo == FILETIME{}) << "cannot set the time of " << settings;

    ASSERT_NO_FATAL_FAILURE(uninstall(""));
    EXPECT_TRUE(desktop.endsWithin(0)) << "the copy on the desktop runs on";
    EXPECT_FALSE(lastWritten(settings) == longAgo) << "the copy on the desktop was killed, not ended: nothing saved";
    EXPECT_EQ(open.timesInTaskbar(), 0) << "the icon stayed in the tray";
    EXPECT_FALSE(openQuietwire(SERVICE_QUERY_STATUS)) << "the service is still registered";
    EXPECT_EQ(control_.GetSetting("General", "Installed", ""), "False");
    for (const std::string& file : installedFiles()) {
        EXPECT_FALSE(exists(file)) << file << " is left";
    }
    EXPECT_FALSE(exists(folder_ + "\\Uninstall.exe"));
    EXPECT_FALSE(exists(menu_)) << "the Start menu entries are left";
    EXPECT_FALSE(machineKeyExists(UninstallKey)) << "still listed among the installed programs";
    EXPECT_FALSE(machineKeyExists(EventSourceKey)) << "the event source is left";

    useSettingsFolder(folder_, [] {
        resetSettings();
        EXPECT_TRUE(done(modGlobals::LoadSettings()));
    });
    EXPECT_EQ(modGlobals::AdminPassword, "secret") << "the settings were not kept";
    EXPECT_EQ(modGlobals::StartTime, "00:00:00");
}

TEST_F(Installer, EveryLogOnAndTheStartMenuStartTheTrayCopyWhichTheUninstallerEndsWithTheLogOnEntry) {
    EXPECT_EQ(machineText(RunKey, "Quietwire"), "\"" + tray_ + "\"");
    EXPECT_EQ(shortcutTarget(menu_ + "\\Quietwire.lnk"), tray_);
    const TrayPicture open(tray_, ProgramIcon::Open);
    RunningProgram companion(tray_);
    ASSERT_TRUE(companion.started()) << "cannot start " << tray_;
    ASSERT_TRUE(waitUntil([&] { return open.timesInTaskbar() == 1; })) << "the icon never showed in the tray";

    ASSERT_NO_FATAL_FAILURE(uninstall(""));
    EXPECT_TRUE(companion.endsWithin(0)) << "the tray copy runs on";
    EXPECT_EQ(machineText(RunKey, "Quietwire"), "") << "the log-on entry is left";
    EXPECT_FALSE(exists(tray_));
}

// Under Wine the service and a desktop copy run in one session, where the second to start is a
// duplicate: the service runs alone here.
TEST_F(Installer, TheUninstallerStopsTheRunningServiceAndRemovesIt) {
    ASSERT_NO_FATAL_FAILURE(registerService());
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, startService()));
    ASSERT_TRUE(process.valid()) << "no process runs the service";

    ASSERT_NO_FATAL_FAILURE(uninstall(""));
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "the service runs on";
    EXPECT_FALSE(openQuietwire(SERVICE_QUERY_STATUS)) << "the service is still registered";
    EXPECT_EQ(control_.GetSetting("General", "Installed", ""), "False");
    EXPECT_FALSE(exists(program_));
}

TEST_F(Installer, InstallingAgainStopsTheRunningServiceForTheNewFilesAndStartsItAgain) {
    ASSERT_NO_FATAL_FAILURE(registerService());
    const DWORD before = startService();
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, before));
    ASSERT_TRUE(process.valid()) << "no process runs the service";

    ASSERT_NO_FATAL_FAILURE(install());
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the service was not stopped";
    const ServiceHandle service = openQuietwire();
    EXPECT_EQ(waitFor(service, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING))
        << "the service did not start again";
    EXPECT_NE(statusOf(service).dwProcessId, before);
    ASSERT_NO_FATAL_FAILURE(uninstall(""));
}

TEST_F(Installer, TheUninstallersRemovalSwitchTakesTheSettingsAndTheFolderToo) {
    control_.SaveSetting("General", "Installed", "False"); // as the program leaves it after Unregister
    ASSERT_NO_FATAL_FAILURE(uninstall(" /REMOVESETTINGS"));
    EXPECT_FALSE(exists(folder_ + "\\settings.ini"));
    EXPECT_FALSE(exists(folder_)) << "the folder is left";
    EXPECT_FALSE(machineKeyExists("SOFTWARE\\Quietwire")) << "the service flag is left";
}

} // namespace
