#include "platform/ProfileText.h"
#include "settings/SettingsFixture.h"
#include "support/Done.h"

#include <cctype>
#include <set>

using modGlobals::LoadSettings;
using modGlobals::RotationCount;
using modGlobals::SaveSettings;
using VtkModule::Encrypt;

namespace {

std::string lowered(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::vector<std::string> everyKeyWritten() {
    std::vector<std::string> keys = {"PASSWORD", "START", "END", "ALARM"};
    for (int i = 0; i <= 999; ++i) {
        keys.push_back(modGlobals::PortKey(i));
    }
    return keys;
}

} // namespace

TEST(SettingsKeys, PortKeysHaveAtLeastTwoDigits) {
    EXPECT_EQ(modGlobals::PortKey(0), "OP_00");
    EXPECT_EQ(modGlobals::PortKey(7), "OP_07");
    EXPECT_EQ(modGlobals::PortKey(99), "OP_99");
    EXPECT_EQ(modGlobals::PortKey(100), "OP_100");
}

TEST(SettingsKeys, ScrambledKeysAreSafeInEveryProfileReader) {
    std::set<std::string> seen;
    for (const std::string& key : everyKeyWritten()) {
        const std::string stored = Encrypt(key, RotationCount);
        for (unsigned char c : stored) {
            EXPECT_TRUE(c > 32 && c < 127) << key << " scrambles to a byte outside printable ASCII: " << int(c);
            EXPECT_EQ(std::string("=[];\"'\\").find(static_cast<char>(c)), std::string::npos)
                << key << " scrambles to " << stored;
        }
        EXPECT_TRUE(seen.insert(lowered(stored)).second) << key << " collides with another key ignoring case";
    }
}

TEST(SettingsKeys, ScrambledPrintableTextNeverBeginsOrEndsWithABlankOrAQuote) {
    for (int c = 32; c < 127; ++c) {
        const char s = Encrypt(std::string(1, static_cast<char>(c)), RotationCount)[0];
        EXPECT_FALSE(ProfileText::isBlank(s) || s == '"' || s == '\'') << "character " << c;
    }
}

class SettingsStore : public SettingsTest {};

TEST_F(SettingsStore, WithoutAFileEverythingIsEmptyAndTheAlarmOff) {
    modGlobals::AlarmRaised = true;
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, "");
    EXPECT_EQ(modGlobals::StartTime, "");
    EXPECT_EQ(modGlobals::EndTime, "");
    EXPECT_FALSE(modGlobals::AlarmRaised);
    EXPECT_EQ(modGlobals::LastPortIndex, -1);
}

TEST_F(SettingsStore, WhatIsSavedLoadsBack) {
    modGlobals::AdminPassword = "S3cret pass, with = and [x]";
    modGlobals::StartTime = "22:00:00";
    modGlobals::EndTime = "06:00:00";
    modGlobals::AlarmRaised = true;
    setPorts({"21, FTP PORT", " 443", "25", "abc"});
    EXPECT_TRUE(done(SaveSettings()));

    resetSettings();
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, "S3cret pass, with = and [x]");
    EXPECT_EQ(modGlobals::StartTime, "22:00:00");
    EXPECT_EQ(modGlobals::EndTime, "06:00:00");
    EXPECT_TRUE(modGlobals::AlarmRaised);
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"21, FTP PORT", " 443", "25", "abc"}));
}

// The stored lines below were worked out by hand: each character 29 places on along the codes 32 to 255.
TEST_F(SettingsStore, KeysAndValuesAreStoredScrambledUnderTheirSections) {
    modGlobals::AdminPassword = "pw";
    modGlobals::AlarmRaised = false;
    std::vector<std::string> ports;
    for (int i = 0; i <= 100; ++i) {
        ports.push_back(std::to_string(1000 + i));
    }
    setPorts(ports);
    EXPECT_TRUE(done(SaveSettings()));

    const std::string raw = readBytes(settingsPath());
    for (const char* line : {"[SETUP]\r\nm^pptloa=\x8D\x94\r\n", // PASSWORD=pw
                             "\r\n^i^oj=c~\x89\x90\x82\r\n",     // ALARM=False
                             "\r\nlm|MT=NMMT\r\n",               // OP_07=1007
                             "\r\nlm|NMM=NNMM\r\n"}) {           // OP_100=1100
        EXPECT_NE(raw.find(line), std::string::npos) << ::testing::PrintToString(std::string(line));
    }
    EXPECT_EQ(raw.find("\r\nlm|T="), std::string::npos) << "OP_7";
    EXPECT_EQ(raw.find("PASSWORD"), std::string::npos) << "keys are never stored plain";
    EXPECT_LT(raw.find("[SETUP]"), raw.find("[PORTS]"));
}

TEST_F(SettingsStore, AnEmptyListWritesNoPortsSection) {
    modGlobals::AdminPassword = "pw";
    EXPECT_TRUE(done(SaveSettings()));
    const std::string raw = readBytes(settingsPath());
    EXPECT_NE(raw.find("[SETUP]"), std::string::npos);
    EXPECT_EQ(raw.find("[PORTS]"), std::string::npos);
}

TEST_F(SettingsStore, EachSaveRewritesTheFileSoDroppedEntriesVanish) {
    setPorts({"1", "2", "3", "4", "5"});
    EXPECT_TRUE(done(SaveSettings()));
    setPorts({"1", "2"});
    EXPECT_TRUE(done(SaveSettings()));
    EXPECT_EQ(readRaw("PORTS", "OP_01"), "O"); // "2" scrambled
    EXPECT_EQ(readRaw("PORTS", "OP_02"), "");
    EXPECT_EQ(readRaw("PORTS", "OP_04"), "");
    resetSettings();
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"1", "2"}));
}

TEST_F(SettingsStore, TheAlarmIsOnlyTheWordTrueInAnyCase) {
    for (const char* on : {"true", "True", "TRUE", "tRuE"}) {
        writeRaw("SETUP", "ALARM", on);
        modGlobals::AlarmRaised = false;
        EXPECT_TRUE(done(LoadSettings()));
        EXPECT_TRUE(modGlobals::AlarmRaised) << on;
    }
    for (const char* off : {"False", "yes", "1", "", " true", "true!"}) {
        writeRaw("SETUP", "ALARM", off);
        modGlobals::AlarmRaised = true;
        EXPECT_TRUE(done(LoadSettings()));
        EXPECT_FALSE(modGlobals::AlarmRaised) << off;
    }
}

TEST_F(SettingsStore, TheFirstMissingOrEmptyEntryEndsTheList) {
    writeRaw("PORTS", "OP_00", "21");
    writeRaw("PORTS", "OP_01", "22");
    writeRaw("PORTS", "OP_03", "24");
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"21", "22"}));
    EXPECT_TRUE(done(SaveSettings()));
    EXPECT_EQ(readRaw("PORTS", "OP_03"), "") << "the unreachable entry is dropped at the next save";

    setPorts({"80", "", "443"});
    EXPECT_TRUE(done(SaveSettings()));
    resetSettings();
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"80"}));
}

TEST_F(SettingsStore, LoadingNoEntriesLeavesTheListInMemoryAlone) {
    writeRaw("SETUP", "PASSWORD", "x");
    setPorts({"21", "22"});
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"21", "22"}));

    setPorts({"1", "2", "3"});
    writeRaw("PORTS", "OP_00", "9");
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(modGlobals::LastPortIndex, 0);
    EXPECT_EQ(modGlobals::ClosedPorts, (std::vector<std::string>{"9"}));
}

TEST_F(SettingsStore, ValuesBeyond2047BytesAreCut) {
    std::string longTime;
    for (int i = 0; i < 2500; ++i) {
        longTime += static_cast<char>('0' + i % 10);
    }
    modGlobals::StartTime = longTime;
    EXPECT_TRUE(done(SaveSettings()));
    resetSettings();
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(modGlobals::StartTime, longTime.substr(0, 2047));
}

TEST_F(SettingsStore, ValuesWhoseScrambledEndsAreBlanksOrQuotesComeBackWhole) {
    // 0xE5 scrambles to '"', 0xE3 to a space and 0xEA to '\''.
    const std::string password = "\xE5Pa ss\xE3";
    modGlobals::AdminPassword = password;
    modGlobals::StartTime = "\xEA";
    modGlobals::EndTime = "x\xE3";
    setPorts({"\xE3\xE3", "25"});
    EXPECT_TRUE(done(SaveSettings()));

    const std::string raw = readBytes(settingsPath());
    EXPECT_NE(raw.find("=\"\"m~=\x90\x90 \"\r\n"), std::string::npos) << "quoted, so that both ends stay";
    resetSettings();
    EXPECT_TRUE(done(LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, password);
    EXPECT_EQ(modGlobals::StartTime, "\xEA");
    EXPECT_EQ(modGlobals::EndTime, "x\xE3");
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"\xE3\xE3", "25"}));
}

TEST_F(SettingsStore, BadFilesLoadWhatIsReadable) {
    // Upper case scrambles to ASCII, which a UTF-8 file (one with a byte-order mark) holds unchanged.
    const std::string pw = Encrypt("PASSWORD", RotationCount) + "=" + Encrypt("SECRET", RotationCount);
    const std::string op0 = Encrypt("OP_00", RotationCount) + "=" + Encrypt("21", RotationCount);
    const std::string op1 = Encrypt("OP_01", RotationCount) + "=" + Encrypt("22", RotationCount);
    const std::string cases[] = {
        "\xEF\xBB\xBF[SETUP]\r\n" + pw + "\r\n[PORTS]\r\n" + op0 + "\r\n" + op1 + "\r\n",
        "[SETUP]\r" + pw + "\r[PORTS]\r" + op0 + "\r" + op1,
        "[SETUP]\n" + pw + "\n[PORTS]\n" + op0 + "\n" + op1 + "\n",
        "garbage\x01\x02\xFF line\r\nno sections here\r\n[SETUP]\r\n" + std::string(100000, 'x') + "\r\n" + pw +
            "\r\n[PORTS]\r\nline without equals\r\n" + op0 + "\r\n" + Encrypt("OP_00", RotationCount) + "=dup\r\n" +
            op1 + "\r\n[SETUP]\r\nsecond=section\r\n",
        std::string("\0\0\0\r\n[SETUP]\r\n", 14) + pw + "\r\n[PORTS]\r\n" + op0 + "\r\n" + op1 + "\r\n\x1a",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(::testing::PrintToString(text.substr(0, 40)));
        writeBytes(settingsPath(), text);
        resetSettings();
        EXPECT_TRUE(done(LoadSettings()));
        EXPECT_EQ(modGlobals::AdminPassword, "SECRET");
        EXPECT_EQ(listedPorts(), (std::vector<std::string>{"21", "22"}));
    }
}

class SettingsFollow : public SettingsTest {
protected:
    // Settings saved and loaded, as a running copy holds them.
    void running() {
        modGlobals::AdminPassword = "pw";
        modGlobals::StartTime = "22:00:00";
        setPorts({"21", "23"});
        ASSERT_TRUE(SaveSettings());
        resetSettings();
        EXPECT_TRUE(done(LoadSettings()));
    }
    bool kept() const {
        return modGlobals::AdminPassword == "pw" && modGlobals::StartTime == "22:00:00" &&
               listedPorts() == std::vector<std::string>{"21", "23"};
    }
};

TEST_F(SettingsFollow, AFileRemovedOrGarbledIsNotFollowedIsToldOnceAndGetsTheSettingsBackAtTheNextSave) {
    running();
    std::filesystem::remove(settingsPath());
    EXPECT_FALSE(modGlobals::FollowSettingsFile());
    EXPECT_TRUE(kept());
    const std::string warning = modGlobals::TakeSettingsWarning();
    EXPECT_EQ(warning.rfind("The settings file has been removed.\r\n\r\n" + settingsPath(), 0), 0u) << warning;
    EXPECT_NE(warning.find("keeps the settings it has"), std::string::npos) << warning;

    for (const std::string& garbled :
         {std::string("garbage\x01\xFF\r\n[SETUP]\r\nPASSWORD=plain"), std::string(), std::string("[SET")}) {
        writeBytes(settingsPath(), garbled);
        EXPECT_FALSE(modGlobals::FollowSettingsFile());
        EXPECT_FALSE(modGlobals::FollowSettingsFile());
        EXPECT_TRUE(kept());
        EXPECT_EQ(modGlobals::TakeSettingsWarning(), "") << "told once while the file stays unfollowed";
    }

    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(readRaw("SETUP", "PASSWORD"), "\x8D\x94"); // "pw" scrambled
    EXPECT_EQ(readRaw("PORTS", "OP_01"), "OP");          // "23" scrambled

    writeBytes(settingsPath(), "");
    EXPECT_FALSE(modGlobals::FollowSettingsFile());
    EXPECT_TRUE(kept());
    EXPECT_EQ(modGlobals::TakeSettingsWarning().rfind("The settings file holds none of Quietwire's settings.", 0), 0u)
        << "told again after a save had mended it";
}

TEST_F(SettingsFollow, AFileThatComesBackWithTheKeysIsFollowedEvenWithAnEmptyPassword) {
    running();
    std::filesystem::remove(settingsPath());
    modGlobals::FollowSettingsFile();
    writeRaw("SETUP", "PASSWORD", "");
    writeRaw("SETUP", "END", "06:00:00");
    EXPECT_TRUE(modGlobals::FollowSettingsFile());
    EXPECT_EQ(modGlobals::AdminPassword, "");
    EXPECT_EQ(modGlobals::StartTime, "");
    EXPECT_EQ(modGlobals::EndTime, "06:00:00");
    EXPECT_EQ(modGlobals::LastPortIndex, -1);

    writeBytes(settingsPath(), "[PORTS]\r\n" + Encrypt("OP_00", RotationCount) + "=" + Encrypt("25", RotationCount));
    EXPECT_TRUE(modGlobals::FollowSettingsFile()) << "one key is enough";
    EXPECT_EQ(listedPorts(), std::vector<std::string>{"25"});
}

TEST_F(SettingsStore, AFolderInTheNewFilesPlaceFailsTheSaveAndTheOldFileStays) {
    modGlobals::AdminPassword = "old";
    ASSERT_TRUE(SaveSettings());
    const std::string before = readBytes(settingsPath());
    const std::string fresh = settingsPath() + ".new";
    std::filesystem::create_directory(fresh);

    modGlobals::AdminPassword = "new";
    const Result result = SaveSettings();
    EXPECT_FALSE(result);
    EXPECT_EQ(result.reason(), fresh + ": is a folder; remove it so that the settings can be saved");
    EXPECT_EQ(readBytes(settingsPath()), before);
    EXPECT_TRUE(std::filesystem::is_empty(fresh));
}
