#include "core/ConnectionScan.h"
#include "fakes/FakeTcpTable.h"
#include "fakes/FakeTrayShell.h"
#include "fakes/FakeWindowing.h"
#include "platform/Platform.h"
#include "settings/AppError.h"
#include "settings/modGlobals.h"
#include "support/Settings.h"
#include "tray/VeskTray.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool sameRow(const TcpRow& a, const TcpRow& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TcpRow asDeletion(TcpRow row) {
    row.dwState = TcpState::DeleteTcb;
    return row;
}

class ConnectionScanTest : public ::testing::Test {
protected:
    ConnectionScanTest() { setPorts({}); }
    ~ConnectionScanTest() override { setPorts({}); }

    int scanError() {
        try {
            scan_.CheckPorts();
        } catch (const AppError& e) {
            return e.number();
        }
        return 0;
    }

    FakeTcpTable table_;
    FakeWindowing windowing_;
    platform::ScopedInstall<TcpTable> useTable_{table_};
    platform::ScopedInstall<Windowing> useWindowing_{windowing_};
    ConnectionScan scan_;
};

} // namespace

TEST(GetPortNumber, ReadsTheFieldsFirstTwoBytesInNetworkOrder) {
    EXPECT_EQ(ConnectionScan::GetPortNumber(portField(21)), 21) << "bytes 00 15 are port 21, not 5376";
    EXPECT_EQ(ConnectionScan::GetPortNumber(portField(443)), 443);
    EXPECT_EQ(ConnectionScan::GetPortNumber(portField(32768)), 32768);
    EXPECT_EQ(ConnectionScan::GetPortNumber(portField(65535)), 65535);
    EXPECT_EQ(ConnectionScan::GetPortNumber(0), 0);
    try {
        ConnectionScan::GetPortNumber(0x10000);
        FAIL() << "a field above 65535 was read";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), ErrorNumber::Overflow);
    }
}

TEST(ClosedPortNumber, TakesTheNumberBeforeTheFirstComma) {
    EXPECT_EQ(ClosedPortNumber("21, FTP PORT"), 21);
    EXPECT_EQ(ClosedPortNumber(" 443"), 443);
    EXPECT_EQ(ClosedPortNumber("\t25 , SMTP, again"), 25);
    EXPECT_EQ(ClosedPortNumber("+25"), 25);
    EXPECT_EQ(ClosedPortNumber("-25"), -25);
    EXPECT_EQ(ClosedPortNumber("021"), 21);
    EXPECT_EQ(ClosedPortNumber("2147483647"), 2147483647);
    for (const char* notANumber :
         {"", " ", ", name", "abc", "2 5", "25x", "25.0", "0x19", "2147483648", "-", "99999999999999999999"}) {
        EXPECT_EQ(ClosedPortNumber(notANumber), std::nullopt) << "'" << notANumber << "'";
    }
}

TEST_F(ConnectionScanTest, ConnectionsOnAClosedPortAreDeletedExceptListenAndTimeWait) {
    const TcpRow outgoing = makeRow(TcpState::Estab, 50000, 25);
    const TcpRow incoming = makeRow(TcpState::Estab, 25, 50001);
    const TcpRow listening = makeRow(TcpState::Listen, 25, 0);
    const TcpRow timeWait = makeRow(TcpState::TimeWait, 50002, 25);
    const TcpRow other = makeRow(TcpState::Estab, 50003, 26);
    const TcpRow synSent = makeRow(TcpState::SynSent, 50004, 25);
    const TcpRow closing = makeRow(TcpState::LastAck, 25, 50005);
    table_.rows = {outgoing, incoming, listening, timeWait, other, synSent, closing};
    setPorts({"25"});

    scan_.CheckPorts();

    ASSERT_EQ(table_.deleted.size(), 4u);
    EXPECT_TRUE(sameRow(table_.deleted[0], asDeletion(outgoing)));
    EXPECT_TRUE(sameRow(table_.deleted[1], asDeletion(incoming)));
    EXPECT_TRUE(sameRow(table_.deleted[2], asDeletion(synSent)));
    EXPECT_TRUE(sameRow(table_.deleted[3], asDeletion(closing)));
    EXPECT_TRUE(windowing_.boxes.empty());
}

TEST_F(ConnectionScanTest, EachMatchingEntryAsksOnceInListOrder) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25), makeRow(TcpState::Estab, 443, 50001)};
    setPorts({"25", "443, HTTPS", " 25, again"});
    scan_.CheckPorts();
    ASSERT_EQ(table_.deleted.size(), 3u);
    EXPECT_EQ(ConnectionScan::GetPortNumber(table_.deleted[0].dwRemotePort), 25);
    EXPECT_EQ(ConnectionScan::GetPortNumber(table_.deleted[1].dwRemotePort), 25);
    EXPECT_EQ(ConnectionScan::GetPortNumber(table_.deleted[2].dwLocalPort), 443);
}

TEST_F(ConnectionScanTest, AnEntryThatIsNotANumberDoesNotStopTheEntriesAfterIt) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25), makeRow(TcpState::Estab, 50001, 110)};
    setPorts({"abc", "", ", no number", "70000", "-25", "25", "110"});
    scan_.CheckPorts();
    ASSERT_EQ(table_.deleted.size(), 2u);
    EXPECT_EQ(ConnectionScan::GetPortNumber(table_.deleted[0].dwRemotePort), 25);
    EXPECT_EQ(ConnectionScan::GetPortNumber(table_.deleted[1].dwRemotePort), 110);
}

TEST_F(ConnectionScanTest, AnEmptyListDeletesAndShowsNothing) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    scan_.CheckPorts();
    EXPECT_TRUE(table_.deleted.empty());
    EXPECT_TRUE(windowing_.boxes.empty());
}

TEST_F(ConnectionScanTest, AFailedSecondReadScansTheRowsOfTheLastGoodRead) {
    const TcpRow row = makeRow(TcpState::Estab, 50000, 25);
    table_.rows = {row};
    setPorts({"25"});
    scan_.CheckPorts();
    table_.rows = {row, makeRow(TcpState::Estab, 50001, 25)}; // grew; this read fails
    table_.fillResult = TcpResult::InsufficientBuffer;
    scan_.CheckPorts();
    ASSERT_EQ(table_.deleted.size(), 2u);
    EXPECT_TRUE(sameRow(table_.deleted[1], asDeletion(row)));
    EXPECT_EQ(scan_.TcpRows().size(), 1u);
}

TEST_F(ConnectionScanTest, WithNoGoodReadYetAFailedReadEndsTheScanWithAnError) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    setPorts({"25"});
    table_.fillResult = TcpResult::GenFailure;
    EXPECT_EQ(scanError(), ErrorNumber::SubscriptOutOfRange);
    EXPECT_TRUE(table_.deleted.empty());
}

TEST_F(ConnectionScanTest, AnUnsupportedTableShowsItsMessageOnEveryScan) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    setPorts({"25"});
    table_.sizeQueryResult = TcpResult::NotSupported;
    EXPECT_EQ(scanError(), 0);
    EXPECT_EQ(scanError(), 0);
    ASSERT_EQ(windowing_.boxes.size(), 2u);
    EXPECT_EQ(windowing_.boxes[0].prompt, "IP Helper is not supported by this system.");
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::None);
    EXPECT_EQ(windowing_.boxes[0].title, "QWADMIN");
    EXPECT_TRUE(table_.deleted.empty());
}

TEST_F(ConnectionScanTest, ASizeOfZeroNoRowsOrRowsBeyondTheBufferEndTheScanWithAnError) {
    const TcpRow good = makeRow(TcpState::Estab, 50000, 25);
    setPorts({"25"});
    table_.rows = {good};
    scan_.CheckPorts();
    ASSERT_EQ(table_.deleted.size(), 1u);

    table_.reportedSize = 0;
    EXPECT_EQ(scanError(), ErrorNumber::SubscriptOutOfRange);
    table_.reportedSize.reset();

    table_.writtenCount = 0;
    EXPECT_EQ(scanError(), ErrorNumber::SubscriptOutOfRange);

    table_.rows = {makeRow(TcpState::Estab, 50001, 25)};
    table_.writtenCount = 2;
    EXPECT_EQ(scanError(), ErrorNumber::SubscriptOutOfRange);
    EXPECT_EQ(table_.deleted.size(), 1u);
    ASSERT_EQ(scan_.TcpRows().size(), 1u);
    EXPECT_TRUE(sameRow(scan_.TcpRows()[0], good)) << "a bad read never replaces the last good one";
}

TEST_F(ConnectionScanTest, APortFieldAbove65535EndsTheScanAtItsRow) {
    TcpRow bad = makeRow(TcpState::Estab, 50001, 25);
    bad.dwRemotePort = 0x00010000;
    table_.rows = {makeRow(TcpState::Estab, 50000, 25), bad, makeRow(TcpState::Estab, 50002, 25)};
    setPorts({"25"});
    EXPECT_EQ(scanError(), ErrorNumber::Overflow);
    EXPECT_EQ(table_.deleted.size(), 1u);
}

TEST_F(ConnectionScanTest, EventsRunOncePerCopiedRowAndAScanAskedForMeanwhileIsSkipped) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25), makeRow(TcpState::Estab, 50001, 25),
                   makeRow(TcpState::Estab, 50002, 26)};
    setPorts({"25"});
    int nestedScans = 0;
    windowing_.onDoEvents = [&] {
        ++nestedScans;
        scan_.CheckPorts(); // a timer tick arriving mid-scan
    };
    scan_.CheckPorts();
    EXPECT_EQ(windowing_.doEventsCalls, 3);
    EXPECT_EQ(nestedScans, 3);
    EXPECT_EQ(table_.getCalls, 2) << "the nested scans read no table";
    EXPECT_EQ(table_.deleted.size(), 2u);
    windowing_.onDoEvents = nullptr;
    scan_.CheckPorts();
    EXPECT_EQ(table_.deleted.size(), 4u) << "the next scan runs as usual";
}

namespace {

// A tray host whose right click opens the pop-up menu, as the main window's does.
class MenuOnRightClick : public VeskTrayHost {
public:
    bool UserMode() const override { return true; }
    void MouseUp(int16_t Button, int32_t) override {
        if (Button == 2) {
            platform::get<Windowing>().PopupMenu({"Administration...", "-", "Exit"});
        }
    }
};

} // namespace

TEST_F(ConnectionScanTest, AMenuOpenedByAClickDuringTheCopyCannotHoldLaterScansOff) {
    FakeTrayShell shell;
    platform::ScopedInstall<TrayShell> useShell(shell);
    MenuOnRightClick host;
    VeskTray tray(0x1234, host, nullptr);
    tray.InTray(true);
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    setPorts({"25"});

    int scansWhileMenuOpen = 0;
    windowing_.onDoEvents = [&] {
        windowing_.onDoEvents = nullptr;
        shell.send(MouseMessage::RightUp);
        EXPECT_TRUE(windowing_.menus.empty()) << "the menu opened inside the scan";
    };
    scan_.CheckPorts();
    ASSERT_EQ(table_.deleted.size(), 1u);

    // The menu opens from the event loop and is left open; the enforcement timer keeps ticking in
    // its loop, and every tick scans and deletes.
    ASSERT_EQ(windowing_.posted.size(), 1u);
    windowing_.onPopupMenu = [&] {
        for (int tick = 0; tick < 3; ++tick) {
            scan_.CheckPorts();
            ++scansWhileMenuOpen;
        }
    };
    windowing_.runPosted();
    EXPECT_EQ(windowing_.menus.size(), 1u);
    EXPECT_EQ(scansWhileMenuOpen, 3);
    EXPECT_EQ(table_.deleted.size(), 4u);
}

TEST_F(ConnectionScanTest, ATableTooShortForItsCountOrARowOutsideItEndsTheScan) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    setPorts({"25"});
    table_.fillResult = TcpResult::NoError;
    for (const uint32_t size : {1u, 2u, 3u}) {
        table_.reportedSize = size;
        EXPECT_EQ(scanError(), ErrorNumber::SubscriptOutOfRange) << size << " bytes";
    }
    table_.reportedSize.reset();
    table_.fillResult.reset();
    scan_.CheckPorts();
    for (const int32_t index : {0, 2}) {
        try {
            scan_.KillConn(index);
            ADD_FAILURE() << "row " << index << " was deleted";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), ErrorNumber::SubscriptOutOfRange);
        }
    }
}

TEST_F(ConnectionScanTest, IPv6ConnectionsAreScannedAfterTheIPv4Rows) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    table_.rows6 = {makeRow6(TcpState::Estab, 50001, 25), makeRow6(TcpState::Listen, 25, 0),
                    makeRow6(TcpState::TimeWait, 25, 50002), makeRow6(TcpState::Estab, 25, 50003),
                    makeRow6(TcpState::Estab, 50004, 80)};
    setPorts({"abc", "25"});
    scan_.CheckPorts();
    EXPECT_EQ(table_.deleted.size(), 1u);
    ASSERT_EQ(table_.deleted6.size(), 2u);
    EXPECT_EQ(table_.deleted6[0].State, TcpState::DeleteTcb);
    EXPECT_EQ(ConnectionScan::GetPortNumber(table_.deleted6[0].dwRemotePort), 25);
    EXPECT_EQ(ConnectionScan::GetPortNumber(table_.deleted6[1].dwLocalPort), 25);
}

TEST_F(ConnectionScanTest, AnIPv4TableWithNoRowsStillHasItsErrorAndTheIPv6ConnectionsAreClosed) {
    table_.rows6 = {makeRow6(TcpState::Estab, 50001, 25)};
    setPorts({"25"});
    EXPECT_EQ(scanError(), ErrorNumber::SubscriptOutOfRange);
    EXPECT_EQ(table_.deleted6.size(), 1u);
}

TEST_F(ConnectionScanTest, AnIPv6TableThatCannotBeReadIsPassedOverQuietly) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    table_.rows6 = {makeRow6(TcpState::Estab, 50001, 25)};
    table_.fill6Result = TcpResult::NotSupported;
    setPorts({"25"});
    EXPECT_EQ(scanError(), 0);
    EXPECT_EQ(table_.deleted.size(), 1u);
    EXPECT_TRUE(table_.deleted6.empty());
    EXPECT_TRUE(windowing_.boxes.empty());
}

TEST_F(ConnectionScanTest, TheTableIsAskedOnlyForTheClosedPortsThatCanMatch) {
    table_.rows = {makeRow(TcpState::Estab, 50000, 25)};
    setPorts({"25, SMTP", "abc", "70000", "-1", " 443", "25"});
    scan_.CheckPorts();
    EXPECT_EQ(table_.filteredPorts, (std::vector<uint16_t>{25, 443, 25}));
    EXPECT_EQ(table_.deleted.size(), 2u);
}

TEST_F(ConnectionScanTest, AFilteredTableWithNoRowsIsNoFaultButAWholeEmptyTableIs) {
    setPorts({"25"});
    table_.filters = true;
    EXPECT_EQ(scanError(), 0);
    EXPECT_TRUE(scan_.TcpRows().empty());
    table_.filters = false;
    EXPECT_EQ(scanError(), ErrorNumber::SubscriptOutOfRange);
}

TEST_F(ConnectionScanTest, AnEmptyFilteredReadStillCountsAsTheLastGoodOne) {
    setPorts({"25"});
    table_.filters = true;
    scan_.CheckPorts();
    table_.fillResult = TcpResult::GenFailure;
    EXPECT_EQ(scanError(), 0) << "the failed read falls back on the empty one";
    EXPECT_TRUE(table_.deleted.empty());
}
