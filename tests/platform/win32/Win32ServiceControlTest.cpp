#include "platform/ServiceControl.h"
#include "platform/win32/ServiceHandle.h"
#include "platform/win32/ServiceManager.h"
#include "platform/win32/Win32ControlChannel.h"
#include "support/Done.h"
#include "support/TempDir.h"

#include <windows.h>
#undef StartService

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The service control against Wine's service control manager (services.exe), in a Wine prefix of the
// tests' own. service_host.exe, beside this program, is the program the manager runs as the service.
namespace {

using namespace servicemanager;

std::string besideThisProgram(const std::string& name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string self(path);
    return self.substr(0, self.find_last_of('\\') + 1) + name;
}

const std::string hostPath = besideThisProgram("service_host.exe");
const std::string heardPath = besideThisProgram("service-host-heard.txt");

int runHost(const std::string& arguments) {
    std::string command = "\"" + hostPath + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

class Win32Service : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manager()) << "no service control manager";
        removeLeftover();
        DeleteFileA(heardPath.c_str());
    }
    void TearDown() override { removeLeftover(); }

    // Registers service_host.exe, has the manager start it as it would at boot, and waits for it to run.
    static void startHostAsService() {
        ASSERT_EQ(runHost("install"), 0);
        const ServiceHandle service = openQuietwire();
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
        ASSERT_EQ(waitFor(service, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING))
            << "the program did not answer the start request";
    }

    ServiceControl& control = systemServiceControl();
};

struct Registration {
    const char* arguments;
    DWORD type;
    DWORD start;
};

TEST_F(Win32Service, InstallRegistersTheProgramUnderItsOwnQuotedPathWithTheSettingsGiven) {
    const std::vector<Registration> cases = {
        {"1 2", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START},
        {"0 3", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START},
    };
    for (const Registration& registration : cases) {
        SCOPED_TRACE(registration.arguments);
        ASSERT_EQ(runHost(std::string("install ") + registration.arguments), 0);
        {
            const ServiceHandle service = openQuietwire();
            ASSERT_TRUE(service);
            const ServiceConfig config = configOf(service);
            EXPECT_EQ(config.type, registration.type);
            EXPECT_EQ(config.start, registration.start);
            EXPECT_EQ(config.command, "\"" + hostPath + "\"");
            EXPECT_EQ(config.displayName, "QWADMIN");
            EXPECT_EQ(currentState(service), static_cast<DWORD>(SERVICE_STOPPED));
        }
        EXPECT_FALSE(control.Running());
        removeLeftover();
    }
}

TEST_F(Win32Service, InstallOverARegisteredServiceFailsAndSaysWhy) {
    ASSERT_EQ(runHost("install"), 0);
    const Result installed = control.Install();
    EXPECT_FALSE(installed);
    EXPECT_NE(installed.reason().find("Could not register the service Quietwire: "), std::string::npos)
        << installed.reason();
}

TEST_F(Win32Service, TheManagerRunsTheProgramAndItsStopRequestEndsIt) {
    ASSERT_NO_FATAL_FAILURE(startHostAsService());
    EXPECT_TRUE(control.Running());

    const ServiceHandle service = openQuietwire();
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(waitFor(service, SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(readBytes(heardPath), "Start on the UI thread\nStop on the UI thread\n");
    EXPECT_FALSE(control.Running());
    SERVICE_STATUS_PROCESS ended{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&ended),
                                     sizeof ended, &needed));
    EXPECT_EQ(ended.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR)) << "the manager saw the program fail";
}

TEST_F(Win32Service, UninstallStopsTheRunningServiceAndRemovesIt) {
    ASSERT_NO_FATAL_FAILURE(startHostAsService());

    EXPECT_TRUE(done(control.Uninstall()));
    EXPECT_FALSE(openQuietwire(SERVICE_QUERY_STATUS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(readBytes(heardPath), "Start on the UI thread\nStop on the UI thread\n");
}

// While the service runs, a client gives lines to the service's channel only: another process's server of
// the program's channel, even an administrator's, gets nothing.
TEST_F(Win32Service, AClientTalksToTheRunningServiceAndRefusesAnyOtherServer) {
    ASSERT_NO_FATAL_FAILURE(startHostAsService());
    Win32ControlClient toService(L"\\\\.\\pipe\\QuietwireTest.ServiceHost"); // as service_host serves it
    const Result connected = toService.Connect({});
    ASSERT_TRUE(connected) << connected.reason();
    ASSERT_TRUE(toService.Send("{}"));
    const auto answer = toService.Receive(10000);
    ASSERT_TRUE(answer) << answer.reason();
    EXPECT_EQ(*answer, std::vector<std::string>{"{}"});

    const std::wstring name = L"\\\\.\\pipe\\QuietwireTest.NotTheService";
    Win32ControlServer impostor(name);
    ASSERT_TRUE(impostor.Listen({}));
    Win32ControlClient client(name);
    const Result refused = client.Connect({});
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.code(), ERROR_ACCESS_DENIED) << refused.reason();
    EXPECT_FALSE(client.Connected());
}

TEST_F(Win32Service, UninstallWithNothingRegisteredFailsAndSaysWhy) {
    const Result removed = control.Uninstall();
    EXPECT_FALSE(removed);
    EXPECT_NE(removed.reason().find("Could not open the service Quietwire: "), std::string::npos) << removed.reason();
}

TEST(Win32ServiceSettings, ASavedSettingReadsBackAndAMissingOneGivesTheFallback) {
    ServiceControl& control = systemServiceControl();
    control.SaveSetting("QuietwireTests", "Installed", "True");
    EXPECT_EQ(control.GetSetting("QuietwireTests", "Installed", "False"), "True");
    char stored[16] = {};
    DWORD size = sizeof stored;
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quietwire\\QuietwireTests", "Installed", RRF_RT_REG_SZ,
                           nullptr, stored, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(stored, "True");
    control.SaveSetting("QuietwireTests", "Installed", "False");
    EXPECT_EQ(control.GetSetting("QuietwireTests", "Installed", "True"), "False");
    EXPECT_EQ(control.GetSetting("QuietwireTests", "Absent", "fallback"), "fallback");
    EXPECT_EQ(control.GetSetting("NoSuchSection", "Installed", "False"), "False");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quietwire\\QuietwireTests");
}

} // namespace
