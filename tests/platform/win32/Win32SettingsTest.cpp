#include "settings/SettingsFixture.h"

#include <windows.h>

class Win32Settings : public SettingsTest {};

TEST_F(Win32Settings, AReadOnlyHiddenSystemFileIsReplacedAllTheSame) {
    modGlobals::AdminPassword = "before";
    modGlobals::SaveSettings();
    ASSERT_TRUE(SetFileAttributesA(settingsPath().c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    modGlobals::AdminPassword = "after";
    setPorts({"25"});
    modGlobals::SaveSettings();

    resetSettings();
    modGlobals::LoadSettings();
    EXPECT_EQ(modGlobals::AdminPassword, "after");
    EXPECT_EQ(listedPorts(), std::vector<std::string>{"25"});
    const DWORD attributes = GetFileAttributesA(settingsPath().c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u);
}
