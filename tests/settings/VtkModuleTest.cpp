#include "settings/SettingsFixture.h"

#include <filesystem>

using VtkModule::AppPath;
using VtkModule::DirExists;
using VtkModule::FileExists;
using VtkModule::ReadIni;
using VtkModule::WriteIni;

TEST(AppPath, IsTheDirectoryOfTheRunningProgram) {
    platform::ScopedInstall<FileSystem> use(systemFileSystem());
    const std::string dir = AppPath();
    const char separator = systemFileSystem().pathSeparator();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), separator);
    EXPECT_NE(dir.substr(0, dir.size() - 1).back(), separator);
    const bool found =
        std::filesystem::exists(dir + "settings_tests") || std::filesystem::exists(dir + "settings_tests.exe");
    EXPECT_TRUE(found) << dir << " does not hold this test program";
}

class IniRoutines : public SettingsTest {};

TEST_F(IniRoutines, AbsentKeysSectionsAndFilesAndEmptyValuesAllReadAsEmpty) {
    const std::string ini = dir_.file("t.ini");
    EXPECT_EQ(ReadIni(ini, "S", "k"), "");
    ASSERT_NE(WriteIni(ini, "S", "present", ""), 0);
    ASSERT_NE(WriteIni(ini, "S", "k", "v"), 0);
    EXPECT_EQ(ReadIni(ini, "S", "present"), "");
    EXPECT_EQ(ReadIni(ini, "S", "absent"), "");
    EXPECT_EQ(ReadIni(ini, "T", "k"), "");
    EXPECT_EQ(ReadIni(ini, "s", "K"), "v");
}

TEST_F(IniRoutines, ValuesAreCutTo2047Bytes) {
    const std::string ini = dir_.file("t.ini");
    std::string longValue;
    for (int i = 0; i < 3000; ++i) {
        longValue += static_cast<char>('a' + i % 26);
    }
    ASSERT_NE(WriteIni(ini, "S", "long", longValue), 0);
    EXPECT_EQ(ReadIni(ini, "S", "long"), longValue.substr(0, 2047));
    ASSERT_NE(WriteIni(ini, "S", "exact", longValue.substr(0, 2047)), 0);
    EXPECT_EQ(ReadIni(ini, "S", "exact"), longValue.substr(0, 2047));
}

TEST_F(IniRoutines, AWriteThatCannotBeMadeReturnsZero) {
    EXPECT_EQ(WriteIni(dir_.file("missing-directory") + "/t.ini", "S", "k", "v"), 0);
}

TEST_F(IniRoutines, FileExistsTellsFilesFromDirectoriesAndEntersDirectories) {
    const std::string file = dir_.file("f.txt");
    writeBytes(file, "x");
    std::filesystem::create_directory(dir_.path() / "sub");
    const auto before = std::filesystem::current_path();

    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir_.file("nothing.txt")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(dir_.file("sub")));
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir_.path() / "sub"))
        << "testing a directory enters it";
    EXPECT_TRUE(DirExists(dir_.str()));
    EXPECT_FALSE(DirExists(dir_.file("nothing")));
    std::filesystem::current_path(before);
}
