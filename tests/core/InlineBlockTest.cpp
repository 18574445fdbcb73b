// The in-line block beside the sweep, as the main window's ticks drive it.
#include "support/MainWindowFixture.h"

#include <gtest/gtest.h>

namespace {

using Ports = std::vector<uint16_t>;

class InlineBlockTest : public MainWindowTest {
protected:
    InlineBlockTest() { noonWithAMailConnection(clock_, table_); }

    // A window from 08:00 to 17:00 with the block chosen and a list that holds a typo and a repeat.
    void storeBlockedSettings() {
        storeSettings("08:00:00", "17:00:00");
        writeRaw("PORTS", "OP_01", "8081, WEB");
        writeRaw("PORTS", "OP_02", "not a port");
        writeRaw("PORTS", "OP_03", "25");
        writeRaw("SETUP", "BLOCK", "True");
    }

    Installed<Clock, FakeClock> clock_;
    Installed<TcpTable, FakeTcpTable> table_;
    Installed<PacketFilter, FakePacketFilter> filter_;
};

} // namespace

TEST_F(InlineBlockTest, TheRulesFollowTheCurfewTheAlarmTheListAndTheChoiceAndGoAtACleanEnd) {
    storeBlockedSettings();
    load();
    clock_.set(12, 0, 0);
    tick("Timer1");
    EXPECT_TRUE(filter_.inForce.empty()) << "inside the window";
    EXPECT_TRUE(filter_.changes.empty()) << "nothing to change where nothing was";

    clock_.set(17, 0, 1);
    tick("Timer1");
    EXPECT_EQ(filter_.inForce, (Ports{25, 8081})) << "the typo passed over, the repeat refused once";
    EXPECT_FALSE(table_.deleted.empty()) << "the sweep goes on beside the block";

    writeRaw("PORTS", "OP_04", "443");
    tick("Timer1");
    EXPECT_EQ(filter_.inForce, (Ports{25, 443, 8081})) << "a changed list within a tick";
    const size_t changes = filter_.changes.size();
    tick("Timer1");
    EXPECT_EQ(filter_.changes.size(), changes) << "rules in force are not written again";

    filter_.inForce.clear(); // a firewall reload, or another copy's clean end
    tick("Timer1");
    EXPECT_EQ(filter_.inForce, (Ports{25, 443, 8081})) << "rules taken away come back within a tick";

    clock_.set(12, 0, 0);
    writeRaw("SETUP", "ALARM", "True");
    tick("Timer1");
    EXPECT_EQ(filter_.inForce, (Ports{25, 443, 8081})) << "the alarm blocks inside the window";
    modGlobals::AlarmRaised = false; // cleared by the administration dialog
    tick("Timer1");
    EXPECT_TRUE(filter_.inForce.empty());

    clock_.set(17, 0, 1);
    tick("Timer1");
    modGlobals::BlockChosen = false;
    tick("Timer1");
    EXPECT_TRUE(filter_.inForce.empty()) << "the block switched off";
    modGlobals::BlockChosen = true;
    tick("Timer1");
    main_->Stop();
    EXPECT_TRUE(filter_.inForce.empty()) << "a clean end lifts the rules";
    for (const Ports& change : filter_.changes) {
        EXPECT_TRUE(change.empty() || change.front() == 25) << "only whole rule sets, never a part";
    }
}

TEST_F(InlineBlockTest, AStartTakesOverTheRulesAKilledCopyLeft) {
    filter_.inForce = {25, 99};
    storeBlockedSettings();
    clock_.set(20, 0, 0);
    load();
    tick("Timer1");
    EXPECT_EQ(filter_.inForce, (Ports{25, 8081}));

    filter_.inForce = {25};
    modGlobals::BlockChosen = false;
    writeRaw("SETUP", "BLOCK", "False");
    load();
    tick("Timer1");
    EXPECT_TRUE(filter_.inForce.empty()) << "rules left behind by a copy whose block is now off";
}

TEST_F(InlineBlockTest, WhereTheSystemCannotRefuseThePortsTheProgramSaysSoOnceAndSweeps) {
    storeBlockedSettings();
    filter_.refusal = "nftables refused the rules (Operation not permitted)";
    clock_.set(20, 0, 0);
    load();
    tick("Timer1");
    const size_t swept = table_.deleted.size();
    windowing_.onMsgBox = [this] { tick("Timer1"); }; // the ticks go on while the box is open
    windowing_.runPosted();
    windowing_.runPosted();
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_NE(windowing_.boxes[0].prompt.find("cannot refuse new connections on closed ports"), std::string::npos);
    EXPECT_NE(windowing_.boxes[0].prompt.find("Operation not permitted"), std::string::npos);
    EXPECT_GT(swept, 0u);
    EXPECT_EQ(table_.deleted.size(), 2 * swept) << "the sweep on every tick";
    for (int i = 0; i < 12; ++i) {
        tick("Timer1");
    }
    EXPECT_LE(filter_.changes.size(), 4u) << "a system that refuses is asked again only after a while";
    EXPECT_GE(filter_.changes.size(), 3u) << "and asked again all the same";
}

TEST_F(InlineBlockTest, WithTheBlockNotChosenNothingIsChangedOrSaid) {
    storeSettings("08:00:00", "17:00:00");
    filter_.askable = false; // a copy without the rights to ask
    filter_.refusal = "not permitted";
    clock_.set(20, 0, 0);
    load();
    tick("Timer1");
    tick("Timer1");
    main_->Stop();
    EXPECT_TRUE(filter_.changes.empty());
    EXPECT_TRUE(windowing_.boxes.empty());
    EXPECT_EQ(readRaw("SETUP", "BLOCK"), "") << "the file stays as it always was";
}
