#include "platform/ProgramIcons.h"

#include <windows.h>

#include <gtest/gtest.h>

TEST(Win32ProgramIcons, TheThreeIconsAreResourcesOfTheProgram) {
    for (const ProgramIcon icon : {ProgramIcon::Window, ProgramIcon::Open, ProgramIcon::Blocked}) {
        const auto handle = reinterpret_cast<HICON>(LoadProgramIcon(icon));
        ASSERT_NE(handle, nullptr) << static_cast<int>(icon);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(handle, &info));
        BITMAP colour{};
        GetObjectA(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, GetSystemMetrics(SM_CXICON));
        EXPECT_EQ(colour.bmBitsPixel, 32);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    EXPECT_NE(LoadProgramIcon(ProgramIcon::Open), LoadProgramIcon(ProgramIcon::Blocked));
}
