#include "fakes/FaultyFiles.h"
#include "settings/SettingsFixture.h"
#include "support/Done.h"

namespace {

struct Settings {
    std::string password, start, end;
    bool alarm;
    std::vector<std::string> ports;
};

const Settings Old{"old password", "08:00:00", "17:00:00", false, {"21, FTP PORT", "25", "110", "143", "443"}};
const Settings New{"new password", "22:00:00", "06:00:00", true, {"25", "587"}};

void apply(const Settings& s) {
    modGlobals::AdminPassword = s.password;
    modGlobals::StartTime = s.start;
    modGlobals::EndTime = s.end;
    modGlobals::AlarmRaised = s.alarm;
    setPorts(s.ports);
}

bool loadedIs(const Settings& s) {
    return modGlobals::AdminPassword == s.password && modGlobals::StartTime == s.start &&
           modGlobals::EndTime == s.end && modGlobals::AlarmRaised == s.alarm && listedPorts() == s.ports;
}

struct Situation {
    bool oldFile;
    bool staleNewFile; // a half-written file left by an earlier save that was cut short
};

struct FaultySave {
    int changes; // tried
    Result result;
};

// Saves New over the given situation with the given fault.
FaultySave saveWithFault(const TempDir& dir, const std::string& oldBytes, Situation situation, FaultyFiles::Fault fault,
                         int at) {
    if (situation.oldFile) {
        writeBytes(dir.file("settings.ini"), oldBytes);
    }
    if (situation.staleNewFile) {
        writeBytes(dir.file("settings.ini.new"), "[SETUP]\r\nhalf");
    }
    FaultyFiles files(dir.str(), fault, at);
    platform::ScopedInstall<FileSystem> useFiles(files);
    platform::ScopedInstall<ProfileFile> useProfile(files);
    resetSettings();
    apply(New);
    const Result result = modGlobals::SaveSettings();
    return {files.changesAttempted(), result};
}

std::string savedBytes(const Settings& s) {
    TempDir dir;
    FaultyFiles files(dir.str());
    platform::ScopedInstall<FileSystem> useFiles(files);
    platform::ScopedInstall<ProfileFile> useProfile(files);
    resetSettings();
    apply(s);
    EXPECT_TRUE(done(modGlobals::SaveSettings()));
    return readBytes(dir.file("settings.ini"));
}

} // namespace

TEST(SettingsAtomic, AFaultAtAnyStepOfASaveLeavesTheOldFileOrTheNewOneWholeAndTheSaveSaysWhich) {
    const std::string oldBytes = savedBytes(Old);
    const std::string newBytes = savedBytes(New);
    ASSERT_FALSE(oldBytes.empty());
    ASSERT_NE(oldBytes, newBytes);

    for (const Situation situation : {Situation{true, false}, Situation{true, true}, Situation{false, false}}) {
        int changes = 0;
        {
            TempDir dir;
            changes = saveWithFault(dir, oldBytes, situation, FaultyFiles::Fault::None, 0).changes;
            ASSERT_EQ(readBytes(dir.file("settings.ini")), newBytes);
        }
        ASSERT_GE(changes, 3);
        for (const auto fault : {FaultyFiles::Fault::Crash, FaultyFiles::Fault::FailOnce}) {
            int keptOld = 0;
            int tookNew = 0;
            for (int at = 1; at <= changes + 1; ++at) { // changes + 1: the save runs to its end
                TempDir dir;
                const Result result = saveWithFault(dir, oldBytes, situation, fault, at).result;
                const std::string path = dir.file("settings.ini");
                const std::string after = readBytes(path);
                const bool exists = std::filesystem::exists(path);
                SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at change " + std::to_string(at) +
                             (situation.oldFile ? " over an old file" : " with no file") +
                             (situation.staleNewFile ? " and a stale new file" : ""));
                if (situation.oldFile) {
                    ASSERT_TRUE(after == oldBytes || after == newBytes) << "partial file:\n" << after;
                    keptOld += after == oldBytes;
                } else {
                    ASSERT_TRUE(!exists || after == newBytes) << "partial file:\n" << after;
                }
                tookNew += after == newBytes;
                EXPECT_EQ(static_cast<bool>(result), after == newBytes) << "the save says it saved exactly when it did";
                EXPECT_EQ(result.reason().empty(), static_cast<bool>(result)) << result.reason();

                // What is on the disk also loads as one whole set of settings.
                RedirectedFileSystem files(dir.str());
                platform::ScopedInstall<FileSystem> useFiles(files);
                platform::ScopedInstall<ProfileFile> useProfile(systemProfileFile());
                resetSettings();
                EXPECT_TRUE(done(modGlobals::LoadSettings()));
                EXPECT_TRUE(loadedIs(New) || (situation.oldFile ? loadedIs(Old) : modGlobals::AdminPassword.empty()));
            }
            EXPECT_GT(tookNew, 0);
            if (situation.oldFile && fault == FaultyFiles::Fault::Crash) {
                EXPECT_GT(keptOld, 0);
            }
        }
    }
    resetSettings();
}
