#include "settings/SettingsFixture.h"
#include "support/Done.h"

#include <cstdio>
#include <memory>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

struct LocalMemoryFree {
    void operator()(void* memory) const { LocalFree(memory); }
};

std::string sidText(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) {
        return "?";
    }
    const std::unique_ptr<void, LocalMemoryFree> owned(text);
    return text;
}

class Win32Settings : public SettingsTest {};

struct RemovedAtEnd {
    std::string path;
    ~RemovedAtEnd() { DeleteFileA(path.c_str()); }
};

} // namespace

TEST(AppPath, OfAProgramInARootDirectoryIsTheRootWithOneSeparator) {
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 3u);
    const std::string root(windows, 3); // C:\ .
    const RemovedAtEnd probe{root + "qw-app-path-probe-" + std::to_string(GetCurrentProcessId()) + ".exe"};
    ASSERT_TRUE(CopyFileA(QW_APP_PATH_PROBE, probe.path.c_str(), FALSE));

    FILE* output = _popen(probe.path.c_str(), "rb");
    ASSERT_NE(output, nullptr);
    std::string printed;
    char chunk[256];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, output)) > 0;) {
        printed.append(chunk, n);
    }
    EXPECT_EQ(_pclose(output), 0);
    EXPECT_EQ(printed, root);
}

TEST_F(Win32Settings, TheSavedFileLetsNoOneInButAdministratorsAndTheSystem) {
    writeBytes(settingsPath(), "[SETUP]\r\n"); // as open as its folder makes it
    modGlobals::AdminPassword = "secret";
    EXPECT_TRUE(done(modGlobals::SaveSettings()));

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(settingsPath().c_str(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &dacl,
                                    nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const std::unique_ptr<void, LocalMemoryFree> owned(descriptor);
    ASSERT_NE(dacl, nullptr) << "no DACL lets everyone in";

    BYTE administrators[SECURITY_MAX_SID_SIZE];
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    size = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        if (static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            continue;
        }
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
        // Wine reports a DACL made from the file's Unix mode, which names the owner.
        EXPECT_TRUE(EqualSid(sid, administrators) || EqualSid(sid, system) || EqualSid(sid, owner))
            << "the file lets " << sidText(sid) << " in";
    }
}

TEST_F(Win32Settings, AReadOnlyHiddenSystemFileIsReplacedAllTheSame) {
    modGlobals::AdminPassword = "before";
    EXPECT_TRUE(done(modGlobals::SaveSettings()));
    ASSERT_TRUE(SetFileAttributesA(settingsPath().c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    modGlobals::AdminPassword = "after";
    setPorts({"25"});
    EXPECT_TRUE(done(modGlobals::SaveSettings()));

    resetSettings();
    EXPECT_TRUE(done(modGlobals::LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, "after");
    EXPECT_EQ(listedPorts(), std::vector<std::string>{"25"});
    const DWORD attributes = GetFileAttributesA(settingsPath().c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u);
}

TEST_F(Win32Settings, ASaveWhileAnotherProgramHoldsTheFileSaysWhy) {
    modGlobals::AdminPassword = "before";
    EXPECT_TRUE(done(modGlobals::SaveSettings()));
    const std::string before = readBytes(settingsPath());
    {
        const HANDLE held = CreateFileA(settingsPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        modGlobals::AdminPassword = "after";
        const Result result = modGlobals::SaveSettings();
        CloseHandle(held);

        EXPECT_FALSE(result);
        const std::string prefix = settingsPath() + ": ";
        EXPECT_EQ(result.reason().substr(0, prefix.size()), prefix);
        EXPECT_GT(result.reason().size(), prefix.size()) << "the system's reason is missing";
    }
    EXPECT_EQ(readBytes(settingsPath()), before);
    EXPECT_FALSE(VtkModule::FileExists(settingsPath() + ".new"));
}

namespace {

// Gives path exactly the access the SDDL text names, nothing inherited.
bool setAccess(const std::string& path, const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const std::unique_ptr<void, LocalMemoryFree> owned(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    return GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
           SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 dacl, nullptr) == ERROR_SUCCESS;
}

} // namespace

TEST_F(Win32Settings, AFolderOthersMayWriteIsNotSafeAndSaysSo) {
    EXPECT_TRUE(done(modGlobals::SaveSettings()));
    // Everyone may read and enter: as Program Files lets its users.
    ASSERT_TRUE(setAccess(dir_.str(), "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;WD)"));
    EXPECT_EQ(modGlobals::UnsafeSettingsWarning(), "");

    ASSERT_TRUE(setAccess(dir_.str(), "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;OW)(A;;0x1201bf;;;WD)"));
    const std::string warning = modGlobals::UnsafeSettingsWarning();
    EXPECT_EQ(warning.rfind("The settings are not safe here", 0), 0u);
    EXPECT_NE(warning.find(VtkModule::AppPath()), std::string::npos) << warning;
}

TEST_F(Win32Settings, AReadOnlyHiddenLeftoverNewFileIsRemovedAndTheSaveGoesThrough) {
    const std::string fresh = settingsPath() + ".new";
    writeBytes(fresh, "[SETUP]\r\nhalf");
    ASSERT_TRUE(SetFileAttributesA(fresh.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    modGlobals::AdminPassword = "after";
    const Result result = modGlobals::SaveSettings();
    EXPECT_TRUE(result) << result.reason();
    EXPECT_EQ(GetFileAttributesA(fresh.c_str()), INVALID_FILE_ATTRIBUTES);
    resetSettings();
    EXPECT_TRUE(done(modGlobals::LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, "after");
}
