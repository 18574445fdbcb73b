#include "platform/ProfileFile.h"
#include "platform/ProfileText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

// One sequence of profile writes and reads, run through this build's real profile functions. The
// file it leaves must equal tests/settings/golden/profile_sequence.ini, which the Windows build made
// with GetPrivateProfileStringA and WritePrivateProfileStringA; so the Linux reader and writer are
// held to what Windows does.
namespace {

std::string pattern(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += static_cast<char>('A' + i % 26);
    }
    return s;
}

std::string highBytes() {
    std::string s;
    for (int c = 128; c <= 255; ++c) {
        s += static_cast<char>(c);
    }
    return s;
}

struct Write {
    std::string section, key, value;
};
struct Read {
    std::string section, key, expected;
};

const std::vector<Write> Writes = {
    {"SETUP", "Key", "first"},
    {"setup", "KEY", "second"},
    {"SETUP", "Empty", ""},
    {"SETUP", "Blanks", "   padded value \t "},
    {"SETUP", "Quoted", "\"in quotes\""},
    {"SETUP", "Single", "'single quoted'"},
    {"SETUP", "QuotedBlanks", "\"  blanks inside  \""},
    {"SETUP", "OneQuote", "\"unbalanced"},
    {"PORTS", "Long", pattern(3000)},
    {"PORTS", "High", highBytes()},
    {"PORTS", "Printable", " !\"#$%&'()*+,-./0123456789:;<=>?@[\\]^_`{|}~"},
    {"ports", "late", "x"},
    {"Third", "k", "v"},
    {"SETUP", "after", "appended to the first section"},
    {"Third", "K", "replaced"},
};

const std::vector<Read> Reads = {
    {"SETUP", "key", "second"},
    {"SETUP", "Empty", ""},
    {"SETUP", "Missing", ""},
    {"Nowhere", "Key", ""},
    {"SETUP", "Blanks", "padded value"},
    {"SETUP", "Quoted", "in quotes"},
    {"SETUP", "Single", "single quoted"},
    {"SETUP", "QuotedBlanks", "  blanks inside  "},
    {"SETUP", "OneQuote", "\"unbalanced"},
    {"PORTS", "Long", pattern(2047)},
    {"PORTS", "High", highBytes()},
    {"PORTS", "Printable", "!\"#$%&'()*+,-./0123456789:;<=>?@[\\]^_`{|}~"},
    {"PORTS", "LATE", "x"},
    {"SETUP", "after", "appended to the first section"},
    {"third", "k", "replaced"},
};

const char* GoldenFile = "settings/golden/profile_sequence.ini";

} // namespace

TEST(ProfileBackend, WritesAndReadsAsWindowsDoes) {
    TempDir dir;
    const std::string ini = dir.file("sequence.ini");
    ProfileFile& profile = systemProfileFile();
    for (const Write& w : Writes) {
        ASSERT_TRUE(profile.writePrivateProfileString(w.section, w.key, w.value, ini)) << w.key;
    }
    for (const Read& r : Reads) {
        std::string buffer(2048, '\0');
        const uint32_t n = profile.getPrivateProfileString(r.section, r.key, "", buffer.data(), 2048, ini);
        EXPECT_EQ(buffer.substr(0, n), r.expected) << "[" << r.section << "] " << r.key;
    }

    const std::string written = readBytes(ini);
    const char* flag = std::getenv("QW_WRITE_GOLDEN");
    if (std::string(QW_BUILD_NAME) == "windows" && flag != nullptr && std::string(flag) == "1") {
        writeBytes(testDataPath(GoldenFile), written);
    }
    EXPECT_EQ(written, readBytes(testDataPath(GoldenFile)));

    // The portable reader and writer that the Linux build is made of, on the same sequence.
    std::string text;
    for (const Write& w : Writes) {
        text = ProfileText::write(text, w.section, w.key, w.value).value();
    }
    EXPECT_EQ(text, written);
    for (const Read& r : Reads) {
        EXPECT_EQ(ProfileText::read(text, r.section, r.key).value_or("").substr(0, 2047), r.expected) << r.key;
    }
}

// A line without '=' inside a section, as a person editing the file might leave one: Windows takes it
// for a key that has no value, so it reads as the caller's default, hides a later line of the same name,
// and a write to that name gives it its value in place.
TEST(ProfileBackend, ALineWithoutEqualsIsAKeyWithNoValue) {
    TempDir dir;
    const std::string ini = dir.file("bare.ini");
    const std::string before = "[S]\r\nbare\r\nshadow\r\nshadow=later\r\n  spaced bare  \r\n[T]\r\nk=v\r\n";
    writeBytes(ini, before);
    ProfileFile& profile = systemProfileFile();
    const auto read = [&](const std::string& section, const std::string& key) {
        std::string buffer(256, '\0');
        const uint32_t n = profile.getPrivateProfileString(section, key, "<default>", buffer.data(), 256, ini);
        return buffer.substr(0, n);
    };
    for (const char* key : {"bare", "shadow", "spaced bare"}) {
        EXPECT_EQ(read("S", key), "<default>") << key;
        EXPECT_FALSE(ProfileText::read(before, "S", key)) << key;
    }
    EXPECT_EQ(read("T", "k"), "v");

    ASSERT_TRUE(profile.writePrivateProfileString("S", "shadow", "new", ini));
    EXPECT_EQ(read("S", "shadow"), "new");
    EXPECT_EQ(ProfileText::read(readBytes(ini), "S", "shadow"), "new");
    EXPECT_EQ(ProfileText::write(before, "S", "shadow", "new").value(),
              "[S]\r\nbare\r\nshadow=new\r\nshadow=later\r\n  spaced bare  \r\n[T]\r\nk=v\r\n");
}
