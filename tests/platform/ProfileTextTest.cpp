#include "platform/ProfileText.h"

#include <gtest/gtest.h>

#include <string>

using ProfileText::read;
using ProfileText::write;
using namespace std::string_literals;

namespace {

std::string value(std::string_view text, std::string_view section, std::string_view key) {
    return read(text, section, key).value_or("<absent>");
}

} // namespace

TEST(ProfileTextRead, SectionsAndKeysMatchWithoutRegardToCaseAndTheFirstWins) {
    const std::string text = "[Setup]\r\nKey=first\r\nkey=second\r\n[SETUP]\r\nOther=hidden\r\n";
    EXPECT_EQ(value(text, "setup", "KEY"), "first");
    EXPECT_EQ(value(text, "SETUP", "other"), "<absent>") << "a repeated section is never looked at";
    EXPECT_EQ(value(text, "Nope", "key"), "<absent>");
    EXPECT_EQ(value(text, "Setup", "nokey"), "<absent>");
}

TEST(ProfileTextRead, BlanksAroundAndOnePairOfQuotesAreStripped) {
    const std::string text = "[A]\r\n"
                             "  k1 = v1 \r\n"
                             "k2=\t\"q2\"\t\r\n"
                             "k3='single'\r\n"
                             "k4=\"unbalanced\r\n"
                             "k5=\"\r\n"
                             "k6=\"\"\r\n"
                             "k7=\" inner blanks \"\r\n"
                             "k8=\"mixed'\r\n"
                             "k9=a=b\r\n"
                             "k10=\x1az\x0b\f\r\n";
    EXPECT_EQ(value(text, "A", "k1"), "v1");
    EXPECT_EQ(value(text, "A", "k2"), "q2");
    EXPECT_EQ(value(text, "A", "k3"), "single");
    EXPECT_EQ(value(text, "A", "k4"), "\"unbalanced");
    EXPECT_EQ(value(text, "A", "k5"), "\"");
    EXPECT_EQ(value(text, "A", "k6"), "");
    EXPECT_EQ(value(text, "A", "k7"), " inner blanks ");
    EXPECT_EQ(value(text, "A", "k8"), "\"mixed'");
    EXPECT_EQ(value(text, "A", "k9"), "a=b");
    EXPECT_EQ(value(text, "A", "k10"), "z");
    EXPECT_EQ(value(text, " A ", " k1 "), "v1") << "names asked for are trimmed too";
}

TEST(ProfileTextRead, LinesOfEveryShapeAreReadAsWindowsReadsThem) {
    const std::string text = "orphan=before any section\r\n"
                             "; comment=no\r\n"
                             "[ S ] trailing words\r\n"
                             "noequals\r\n"
                             "#hash=yes\r\n"
                             "=emptykey\r\n"
                             "[broken\r\n"
                             "after=still in S\r\n";
    EXPECT_EQ(value(text, "S", "noequals"), "<absent>") << "a line without '=' is a key with no value";
    EXPECT_EQ(value(text, "S", "#hash"), "yes") << "only ';' starts a comment";
    EXPECT_EQ(value(text, "S", "; comment"), "<absent>");
    EXPECT_EQ(value(text, "S", ""), "emptykey");
    EXPECT_EQ(value(text, "S", "after"), "still in S") << "a '[' line without ']' opens no section";
    EXPECT_EQ(value(text, "S", "orphan"), "<absent>");
    EXPECT_EQ(value(text, "", "orphan"), "<absent>");
}

TEST(ProfileTextRead, AnyLineEndAndAByteOrderMarkAreAccepted) {
    EXPECT_EQ(value("[cr]\ra=1\rb=2", "cr", "b"), "2");
    EXPECT_EQ(value("[lf]\na=3\nb=4\n", "lf", "b"), "4");
    EXPECT_EQ(value("[mixed]\r\na=5\nb=6\rc=7", "mixed", "c"), "7");
    EXPECT_EQ(value("\xEF\xBB\xBF[s]\r\na=\xC3\xA9\r\n", "s", "a"), "\xC3\xA9");
    EXPECT_EQ(value("[s]\r\n\r\n\r\na=after blank lines", "s", "a"), "after blank lines");
}

TEST(ProfileTextRead, BinaryBytesAndNulsAreOrdinaryCharacters) {
    const std::string text = "[s]\r\nbin=\x01\x02\0\xFF\x80\r\nnext=ok\r\n"s;
    EXPECT_EQ(value(text, "s", "bin"), "\x01\x02\0\xFF\x80"s);
    EXPECT_EQ(value(text, "s", "next"), "ok");
}

TEST(ProfileTextWrite, ANewFileGetsTheSectionAndTheKeyWithCrLf) {
    EXPECT_EQ(write("", "SETUP", "Key", "v").value(), "[SETUP]\r\nKey=v\r\n");
}

TEST(ProfileTextWrite, AnExistingKeyKeepsItsSpellingAndPlace) {
    const std::string once = write("", "SETUP", "Key", "v1").value();
    const std::string twice = write(once, "setup", "KEY", "v2").value();
    EXPECT_EQ(twice, "[SETUP]\r\nKey=v2\r\n");
}

TEST(ProfileTextWrite, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEnd) {
    std::string t = write("", "A", "k1", "1").value();
    t = write(t, "B", "k1", "2").value();
    t = write(t, "a", "k2", "3").value();
    EXPECT_EQ(t, "[A]\r\nk1=1\r\nk2=3\r\n[B]\r\nk1=2\r\n");
}

TEST(ProfileTextWrite, ANewKeyGoesBeforeTheBlankLinesThatEndItsSection) {
    const std::string t = write("[A]\r\nk1=1\r\n\r\n[B]\r\nk=2\r\n", "A", "k2", "x").value();
    EXPECT_EQ(t, "[A]\r\nk1=1\r\nk2=x\r\n\r\n[B]\r\nk=2\r\n");
}

TEST(ProfileTextWrite, BlanksAroundNamesAndValuesAreDroppedAndQuotesKept) {
    const std::string t = write("", "  T  ", "  spaced key  ", "  \" x \"  ").value();
    EXPECT_EQ(t, "[T]\r\nspaced key=\" x \"\r\n");
    EXPECT_EQ(value(t, "T", "spaced key"), " x ");
}

TEST(ProfileTextWrite, OtherLinesStayAsTheyWereAndEndInCrLf) {
    const std::string before = "\xEF\xBB\xBF; note\n[A]\nk = v \nnoequals\r[B]\r\nx=1";
    const std::string after = write(before, "B", "y", "2").value();
    EXPECT_EQ(after, "\xEF\xBB\xBF; note\r\n[A]\r\nk = v \r\nnoequals\r\n[B]\r\nx=1\r\ny=2\r\n");
}

TEST(ProfileTextWrite, NamesAndValuesThatWouldBreakTheFileAreRefused) {
    EXPECT_FALSE(write("", "", "k", "v"));
    EXPECT_FALSE(write("", "S", "  ", "v"));
    EXPECT_FALSE(write("", "S", "k", "line\r\nbreak"));
    EXPECT_FALSE(write("", "S\nT", "k", "v"));
    EXPECT_TRUE(write("", "S\n", "k", "v")) << "blanks around a name are dropped";
    EXPECT_FALSE(write("", "S]", "k", "v"));
    EXPECT_FALSE(write("", "S", "a=b", "v"));
    EXPECT_FALSE(write("", "S", ";k", "v"));
    EXPECT_FALSE(write("", "S", "[k", "v"));
    EXPECT_FALSE(write("", "S", "k", "nul\0inside"s));
    EXPECT_TRUE(write("", "S", "k", "value=with;[special]chars"));
}
