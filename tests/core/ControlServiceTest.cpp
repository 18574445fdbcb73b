#include "core/ControlService.h"
#include "admin/Administration.h"
#include "admin/EnforcerLink.h"
#include "fakes/FakeControlChannel.h"
#include "fakes/FakeRecord.h"
#include "fakes/FakeServiceControl.h"
#include "settings/SettingsFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace ControlMessages;

namespace {

// The enforcer's side of the channel on settings.ini in a folder of the test's own, its peers clients of an
// in-process channel whose time the test lets pass.
class ControlServiceTest : public SettingsTest {
protected:
    ControlServiceTest() {
        modGlobals::AdminPassword = "Secret";
        modGlobals::StartTime = "08:00:00";
        modGlobals::EndTime = "21:00:00";
        setPorts({"2525, TEST"});
        EXPECT_TRUE(modGlobals::SaveSettings());
        EXPECT_TRUE(service_.Start());
    }

    std::unique_ptr<FakeControlChannel::Client> peer(const std::string& user) {
        auto client = std::make_unique<FakeControlChannel::Client>(channel_, user);
        EXPECT_TRUE(client->Connect({}));
        return client;
    }
    // The messages a client has been sent, parsed, in order.
    static std::vector<EnforcerMessage> heard(FakeControlChannel::Client& client) {
        std::vector<EnforcerMessage> messages;
        for (const std::string& line : std::exchange(client.inbox, {})) {
            messages.push_back(*parseEnforcerMessage(line));
        }
        return messages;
    }
    // Sends one encoded message, as a client does.
    static void tell(FakeControlChannel::Client& client, const std::string& encoded) {
        EXPECT_TRUE(client.Send(encoded.substr(0, encoded.size() - 1)));
    }
    // What settings.ini holds, read afresh.
    static std::vector<std::string> storedPorts() {
        resetSettings();
        EXPECT_TRUE(modGlobals::LoadSettings());
        return listedPorts();
    }

    FakeServiceControl serviceManager_;
    platform::ScopedInstall<ServiceControl> useServiceManager_{serviceManager_};
    FakeControlChannel channel_;
    int clockChanges_ = 0;
    std::string clockReporter_; // the user of the companion whose report raised the alarm
    ControlService service_{channel_,
                            {[] {
                                 StateEvent state;
                                 state.alarm = modGlobals::AlarmRaised;
                                 state.start = modGlobals::StartTime;
                                 state.entries = Administration::ClosedPortList().size();
                                 return state;
                             },
                             [this](const std::string& user, const std::string&) {
                                 ++clockChanges_;
                                 clockReporter_ = user;
                                 modGlobals::AlarmRaised = true;
                                 EXPECT_TRUE(modGlobals::SaveSettings());
                             }}};
};

TEST_F(ControlServiceTest, ACompanionAdministersThroughItAsTheDialogDoesAndEveryCompanionSeesTheChange) {
    FakeControlChannel::Client companion(channel_, "ann");
    std::vector<StateEvent> shown;
    EnforcerLink link(companion, [this](int milliseconds) { channel_.run(milliseconds); },
                      {[&shown](const StateEvent& state) { shown.push_back(state); }, {}});
    ASSERT_TRUE(link.Connect(ClientRole::Companion));
    ASSERT_TRUE(link.State());
    EXPECT_EQ(link.State()->start, "08:00:00");
    const std::unique_ptr<FakeControlChannel::Client> other = peer("bob");
    tell(*other, encode(Hello{ClientRole::Companion}));
    channel_.run();
    heard(*other);

    const auto check = [&](const std::string& typed) {
        const ResultWith<bool> right =
            link.CheckPassword(typed, [this](int milliseconds) { channel_.run(milliseconds); });
        EXPECT_TRUE(right) << right.reason();
        return right && *right;
    };
    EXPECT_FALSE(check("secret"));
    EXPECT_GE(channel_.now(), Administration::WrongPasswordPenaltyMs) << "answered before the penalty";
    ASSERT_TRUE(check("Secret"));
    ASSERT_TRUE(link.Fetch());
    modGlobals::StartTime = "7:30"; // as typed: the enforcer stores the long form
    Administration::SetClosedPortList({"2525, TEST", "2626"});
    ASSERT_TRUE(link.Store());
    EXPECT_EQ(storedPorts(), (std::vector<std::string>{"2525, TEST", "2626"}));
    EXPECT_EQ(modGlobals::StartTime, "07:30:00");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().entries, 2u);
    service_.Publish();
    const std::vector<EnforcerMessage> pushed = heard(*other);
    ASSERT_EQ(pushed.size(), 1u) << "the other companion is told once";
    EXPECT_EQ(std::get<StateEvent>(pushed[0]).start, "07:30:00");

    // A change the dialog would refuse is refused here too, and nothing of it is kept.
    ASSERT_TRUE(link.Fetch());
    modGlobals::EndTime = "25:00";
    Administration::SetClosedPortList({});
    const Result refused = link.Store();
    EXPECT_EQ(refused.reason(), Administration::InvalidEndTime);
    EXPECT_EQ(storedPorts(), (std::vector<std::string>{"2525, TEST", "2626"}));

    // The service buttons act where the rights are, and the dialog learns the outcome.
    const Administration::ServiceOutcome registered = link.ChangeService(true);
    EXPECT_TRUE(registered.done) << registered.message;
    EXPECT_NE(registered.message.find("Service successfully Registered!"), std::string::npos);
    EXPECT_TRUE(serviceManager_.registered.has_value());
}

TEST_F(ControlServiceTest, AWrongPasswordHoldsEveryRequestOfItsUserForASecondAndNobodyElses) {
    const auto annGuessing = peer("ann");
    const auto annAgain = peer("ann");
    const auto bob = peer("bob");
    tell(*annGuessing, encode(CheckPassword{"wrong"}));
    tell(*annAgain, encode(CheckPassword{"Secret"}));
    tell(*bob, encode(CheckPassword{"Secret"}));
    channel_.run();
    EXPECT_EQ(heard(*bob), (std::vector<EnforcerMessage>{Answer{true, ""}}));
    channel_.run(Administration::WrongPasswordPenaltyMs - 1);
    EXPECT_TRUE(annGuessing->inbox.empty());
    EXPECT_TRUE(annAgain->inbox.empty()) << "the same user's other process was not held";
    channel_.run(1);
    EXPECT_EQ(heard(*annGuessing), (std::vector<EnforcerMessage>{Answer{false, Administration::InvalidPassword}}));
    EXPECT_EQ(heard(*annAgain), (std::vector<EnforcerMessage>{Answer{true, ""}}));
}

TEST_F(ControlServiceTest, BrokenRequestsAndPeersThatGoAwayChangeNothingAndOnlyCompanionsReportTheClock) {
    const auto tool = peer("ann");
    EXPECT_TRUE(tool->Send("{\"type\":\"change-settings\""));
    tell(*tool, encode(Hello{ClientRole::Tool}));
    EXPECT_TRUE(tool->Send("{\"type\":\"shutdown\"}"));
    tell(*tool, encode(ClockChanged{}));
    channel_.run();
    const std::vector<EnforcerMessage> answers = heard(*tool);
    ASSERT_EQ(answers.size(), 5u); // the greeting is answered with the state besides
    EXPECT_EQ(std::get<Answer>(answers[0]).error, "malformed message");
    EXPECT_EQ(std::get<Answer>(answers[3]).error, "unknown message type \"shutdown\"");
    EXPECT_FALSE(std::get<Answer>(answers[4]).ok) << "a tool raised the alarm";
    EXPECT_EQ(clockChanges_, 0);

    // A change that waits behind its user's penalty is dropped with its peer.
    tell(*tool, encode(CheckPassword{"wrong"}));
    tell(*tool, encode(ChangeSettings{"Secret", {"Secret", "08:00:00", "21:00:00", {}, false, false}}));
    tool->Disconnect();
    channel_.run(2 * Administration::WrongPasswordPenaltyMs);
    EXPECT_EQ(storedPorts(), (std::vector<std::string>{"2525, TEST"}));

    const auto first = peer("ann");
    const auto second = peer("bob");
    for (FakeControlChannel::Client* companion : {first.get(), second.get()}) {
        tell(*companion, encode(Hello{ClientRole::Companion}));
    }
    tell(*first, encode(ClockChanged{})); // claimed with no change behind it
    channel_.run();
    EXPECT_EQ(clockChanges_, 0) << "a claim raised the alarm";
    service_.ClockChangeSeen();
    tell(*first, encode(ClockChanged{}));
    tell(*second, encode(ClockChanged{})); // the same change, seen in another session
    channel_.run();
    EXPECT_EQ(clockChanges_, 1);
    EXPECT_EQ(clockReporter_, "ann") << "the record names whose report raised the alarm";
    resetSettings();
    ASSERT_TRUE(modGlobals::LoadSettings());
    EXPECT_TRUE(modGlobals::AlarmRaised) << "the alarm was not stored";
    for (FakeControlChannel::Client* companion : {first.get(), second.get()}) {
        const std::vector<EnforcerMessage> messages = heard(*companion);
        EXPECT_EQ(std::count(messages.begin(), messages.end(), EnforcerMessage{ClockWarningEvent{}}), 1);
        if (companion == first.get()) {
            // The reporter's tick goes on once it is answered: by then it must know of the alarm, or it
            // would warn of a curfew the changed clock seems to bring.
            const auto alarm = std::find_if(messages.begin(), messages.end(), [](const EnforcerMessage& m) {
                return std::holds_alternative<StateEvent>(m) && std::get<StateEvent>(m).alarm;
            });
            const auto answered = std::find_if(messages.rbegin(), messages.rend(), [](const EnforcerMessage& m) {
                return std::holds_alternative<Answer>(m);
            });
            EXPECT_LT(alarm - messages.begin(), messages.rend() - answered - 1);
        }
    }
}

TEST_F(ControlServiceTest, TheRecordKeepsWhoChangedWhichSettingAndWhoGuessedWrongButNoPassword) {
    RecordKept record;
    const auto tool = peer("ann");
    const auto companion = peer("bob");
    const auto unnamed = peer("cyd");
    tell(*tool, encode(Hello{ClientRole::Tool}));
    tell(*companion, encode(Hello{ClientRole::Companion}));
    tell(*tool, encode(CheckPassword{"Guess1"}));
    tell(*companion, encode(CheckPassword{"Guess2"}));
    tell(*unnamed, encode(CheckPassword{"Guess3"}));
    tell(*tool, encode(ChangeSettings{"Secret", {"Hidden2", "7:30", "21:00:00", {"2525, TEST", "2626"}, false, true}}));
    channel_.run(2 * Administration::WrongPasswordPenaltyMs);

    std::map<std::string, std::string> wrongBy; // user: source
    for (const RecordEntry& entry : record.of(RecordKind::WrongPassword)) {
        wrongBy[FakeRecord::field(entry, "QW_USER")] = FakeRecord::field(entry, "QW_SOURCE");
    }
    EXPECT_EQ(wrongBy, (std::map<std::string, std::string>{
                           {"ann", Journal::Quietwirectl}, {"bob", Journal::Dialog}, {"cyd", Journal::Channel}}));
    std::vector<std::string> settings;
    for (const RecordEntry& entry : record.of(RecordKind::SettingChanged)) {
        settings.push_back(FakeRecord::field(entry, "QW_SETTING"));
        EXPECT_EQ(FakeRecord::field(entry, "QW_USER"), "ann");
        EXPECT_EQ(FakeRecord::field(entry, "QW_SOURCE"), Journal::Quietwirectl);
    }
    EXPECT_EQ(settings, (std::vector<std::string>{"password", "start", "closed ports", "block"}));
    EXPECT_EQ(FakeRecord::field(record.of(RecordKind::SettingChanged)[1], "QW_VALUE"), "07:30:00");
    modGlobals::AlarmRaised = true; // raised and recorded since
    Journal::SettingsKnown();
    tell(*tool, encode(ResetAlarm{"Hidden2"}));
    channel_.run();
    ASSERT_EQ(record.of(RecordKind::AlarmCleared).size(), 1u);
    EXPECT_EQ(FakeRecord::field(record.of(RecordKind::AlarmCleared)[0], "QW_USER"), "ann");
    for (const RecordEntry& entry : record.entries) {
        std::string text = entry.message;
        for (const auto& [name, value] : entry.fields) {
            text += " " + value;
        }
        for (const char* password : {"Guess1", "Secret", "Hidden2"}) {
            EXPECT_EQ(text.find(password), std::string::npos) << text;
        }
    }
}

} // namespace
