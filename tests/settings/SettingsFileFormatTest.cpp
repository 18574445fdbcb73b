#include "settings/SettingsFixture.h"
#include "support/Done.h"

#include <cstdlib>

// One set of settings, stored once by each build as tests/settings/golden/settings_<build>.ini.
// Every build must load both files to the same settings, and keep writing its own byte for byte.
namespace {

void applyGolden() {
    modGlobals::AdminPassword = "\xE5Pa ss\xE3"; // scrambles to a value that starts with '"' and ends with ' '
    modGlobals::StartTime = "22:00:00";
    modGlobals::EndTime = "06:00:00";
    modGlobals::AlarmRaised = true;
    setPorts({"21, FTP PORT", " 443", "25", "8080, web \xE9", "110", "143", "993", "995", "587", "465", "3389",
              "5900, VNC"});
}

bool writingGoldenFiles() {
    const char* flag = std::getenv("QW_WRITE_GOLDEN");
    return flag != nullptr && std::string(flag) == "1";
}

class SettingsFileFormat : public SettingsTest {};

// A program folder in which no new file can be made.
class NoNewFiles : public RedirectedFileSystem {
public:
    using RedirectedFileSystem::RedirectedFileSystem;
    Result writeReplacement(const std::string&, const std::string&, const std::string&) override {
        return Result::Failed("no new file can be made here");
    }
};

std::string goldenFile() {
    return testDataPath("settings/golden/settings_" QW_BUILD_NAME ".ini");
}

} // namespace

TEST_F(SettingsFileFormat, ThisBuildWritesItsGoldenFileByteForByte) {
    applyGolden();
    EXPECT_TRUE(done(modGlobals::SaveSettings()));
    const std::string written = readBytes(settingsPath());
    const std::string golden = goldenFile();
    if (writingGoldenFiles()) {
        writeBytes(golden, written);
    }
    EXPECT_EQ(written, readBytes(golden));
}

TEST_F(SettingsFileFormat, AFileWrittenInPlaceIsTheGoldenFileByteForByte) {
    writeBytes(settingsPath(), readBytes(goldenFile()) + std::string(5000, ';') + "\r\n"); // longer than the new
    NoNewFiles files(dir_.str());
    platform::ScopedInstall<FileSystem> useFiles(files);
    applyGolden();
    const Result result = modGlobals::SaveSettings();
    EXPECT_TRUE(result) << result.reason();
    EXPECT_EQ(readBytes(settingsPath()), readBytes(goldenFile()));
}

TEST_F(SettingsFileFormat, FilesWrittenByEitherBuildLoadTheSame) {
    for (const char* build : {"linux", "windows"}) {
        SCOPED_TRACE(build);
        const std::string golden = readBytes(testDataPath(std::string("settings/golden/settings_") + build + ".ini"));
        ASSERT_FALSE(golden.empty());
        writeBytes(settingsPath(), golden);
        resetSettings();
        EXPECT_TRUE(done(modGlobals::LoadSettings()));
        EXPECT_EQ(modGlobals::AdminPassword, "\xE5Pa ss\xE3");
        EXPECT_EQ(modGlobals::StartTime, "22:00:00");
        EXPECT_EQ(modGlobals::EndTime, "06:00:00");
        EXPECT_TRUE(modGlobals::AlarmRaised);
        const std::vector<std::string> ports = listedPorts();
        applyGolden();
        EXPECT_EQ(ports, modGlobals::ClosedPorts);
    }
}
