#include "service/ControlMessages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace ControlMessages;

const AdminSettings Typed{.password = "N\xc3\xa9w \"pass\"\n",
                          .start = "22:00:00",
                          .end = "06:00:00",
                          .ports = {"21, FTP PORT", "80"},
                          .alarm = true,
                          .block = false,
                          .week = {"", "", "", "", "22:00:00-02:00:00", "closed", ""},
                          .warn = 5};

template <class Message, class Parse> void expectReadsBack(const std::vector<Message>& sent, Parse parse) {
    for (const Message& message : sent) {
        const std::string line = encode(message);
        SCOPED_TRACE(line);
        EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line, ended";
        const auto read = parse(line);
        ASSERT_TRUE(read) << read.reason();
        EXPECT_TRUE(*read == message);
    }
}

TEST(ControlMessagesTest, EveryRequestReadsBackAsSent) {
    expectReadsBack<Request>({Hello{ClientRole::Companion}, Hello{ClientRole::Tool}, ClockChanged{},
                              CheckPassword{"Secret"}, GetSettings{"Secret"}, ChangeSettings{"Secret", Typed},
                              ChangeSettings{"", {}}, ResetAlarm{"Secret"}, Status{}},
                             parseRequest);
}

TEST(ControlMessagesTest, EveryEnforcerMessageReadsBackAsSent) {
    expectReadsBack<EnforcerMessage>(
        {Answer{true, ""}, Answer{false, "wrong password"}, SettingsAnswer{Typed},
         StateEvent{true, true, true, "", "alarm", "08:00:00", "21:00:00", 3, true, true, 77},
         StateEvent{false, false, false, "no right to close connections"}, ClockWarningEvent{}},
        parseEnforcerMessage);
}

// What a client written apart from this code (a script on the socket) relies on.
TEST(ControlMessagesTest, AMessageIsCompactJsonNamingItsType) {
    EXPECT_EQ(encode(CheckPassword{"Secret"}), "{\"type\":\"check-password\",\"password\":\"Secret\"}\n");
    EXPECT_EQ(encode(ChangeSettings{"Old", Typed}),
              "{\"type\":\"change-settings\",\"password\":\"Old\",\"settings\":{\"password\":\"N\xc3\xa9w "
              "\\\"pass\\\"\\n\",\"start\":\"22:00:00\",\"end\":\"06:00:00\",\"ports\":[\"21, FTP PORT\",\"80\"],"
              "\"alarm\":true,\"block\":false,\"week\":[\"\",\"\",\"\",\"\",\"22:00:00-02:00:00\",\"closed\",\"\"],"
              "\"warn\":5}}\n");
}

TEST(ControlMessagesTest, MembersAReaderDoesNotKnowAreIgnored) {
    const auto read = parseRequest("{\"since\":3,\"type\":\"reset-alarm\",\"password\":\"Secret\",\"x\":[{}]}");
    ASSERT_TRUE(read) << read.reason();
    EXPECT_TRUE(*read == Request(ResetAlarm{"Secret"}));
}

TEST(ControlMessagesTest, TextThatIsNotUtf8IsSentWithReplacementCharacters) {
    const auto read = parseRequest(encode(CheckPassword{"caf\xe9"}));
    ASSERT_TRUE(read) << read.reason();
    EXPECT_TRUE(*read == Request(CheckPassword{"caf\xef\xbf\xbd"}));
}

struct Refusal {
    const char* line;
    std::string reason;
};

TEST(ControlMessagesTest, ARequestThatIsNotOneIsRefusedInWordsToSendBack) {
    const std::vector<Refusal> refusals{
        {"{\"type\":\"status\"", "malformed message"},
        {"", "malformed message"},
        {"[\"status\"]", "malformed message"},
        {"\"status\"", "malformed message"},
        {"{\"type\":\"status\"}\n{\"type\":\"status\"}", "malformed message"},
        {"{\"type\":\n\"status\"}", "malformed message"},
        {"{\"type\":\"check-password\",\"password\":\"caf\xe9\"}", "malformed message"},
        {"{\"password\":\"Secret\"}", "missing or wrong member \"type\""},
        {"{\"type\":7}", "missing or wrong member \"type\""},
        {"{\"type\":\"shutdown\"}", "unknown message type \"shutdown\""},
        {"{\"type\":\"answer\",\"ok\":true,\"error\":\"\"}", "unknown message type \"answer\""},
        {"{\"type\":\"check-password\"}", "missing or wrong member \"password\""},
        {"{\"type\":\"get-settings\",\"password\":null}", "missing or wrong member \"password\""},
        {"{\"type\":\"hello\",\"role\":\"root\"}", "missing or wrong member \"role\""},
        {"{\"type\":\"change-settings\",\"password\":\"Secret\",\"settings\":[]}",
         "missing or wrong member \"settings\""},
        {"{\"type\":\"change-settings\",\"password\":\"Secret\",\"settings\":{\"password\":\"\",\"start\":\"\","
         "\"end\":\"\",\"ports\":[21],\"alarm\":false,\"block\":false}}",
         "missing or wrong member \"settings.ports\""},
        {"{\"type\":\"change-settings\",\"settings\":{}}", "missing or wrong member \"password\""},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.line);
        const auto read = parseRequest(refusal.line);
        EXPECT_FALSE(read);
        EXPECT_EQ(read.reason(), refusal.reason);
    }
}

TEST(ControlMessagesTest, AnEnforcerMessageWithAMemberOfTheWrongTypeIsRefused) {
    const auto read = parseEnforcerMessage("{\"type\":\"state\",\"blocked\":1,\"alarm\":false,\"enforced\":true}");
    EXPECT_FALSE(read);
    EXPECT_EQ(read.reason(), "missing or wrong member \"blocked\"");
}

TEST(ControlMessagesTest, AnUnknownTypeIsQuotedCutShort) {
    const auto read = parseRequest("{\"type\":\"" + std::string(100, 'x') + "\"}");
    EXPECT_EQ(read.reason(), "unknown message type \"" + std::string(64, 'x') + "...\"");
}

// A password of the length that makes the message, its "\n" not counted, exactly as long as allowed.
std::string lineOfLength(size_t length) {
    const size_t frame = encode(CheckPassword{}).size() - 1;
    return encode(CheckPassword{std::string(length - frame, 'p')});
}

TEST(ControlMessagesTest, AMessageUpToTheLimitIsTakenAndOneByteMoreRefusedUnread) {
    EXPECT_TRUE(parseRequest(lineOfLength(MaxMessageBytes)));
    std::string unended = lineOfLength(MaxMessageBytes);
    unended.pop_back();
    EXPECT_TRUE(parseRequest(unended));
    EXPECT_EQ(parseRequest(lineOfLength(MaxMessageBytes + 1)).reason(), "message too long");
    EXPECT_EQ(parseEnforcerMessage(std::string(MaxMessageBytes + 1, '{')).reason(), "message too long");
}

} // namespace
