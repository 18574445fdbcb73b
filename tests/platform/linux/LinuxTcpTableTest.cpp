#include "platform/linux/LinuxTcpTable.h"
#include "core/ConnectionScan.h"
#include "fakes/FakeWindowing.h"
#include "platform/Platform.h"
#include "platform/linux/Loopback.h"
#include "settings/modGlobals.h"
#include "support/Done.h"
#include "support/Settings.h"
#include "support/TcpTableRows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <linux/capability.h>
#include <netinet/in.h>
#include <set>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// CheckPorts through the netlink backend, on real connections in a network namespace of the test's
// own. Each test starts in a fresh namespace, so it sees only its own sockets.
namespace {

using namespace loopback;

// The real table, with every deletion request and its answer kept. Made afresh in each test's
// namespace: a netlink socket stays with the namespace it was opened in.
class RecordingTcpTable : public TcpTable {
public:
    struct Request {
        int localPort;
        int remotePort;
        uint32_t result;
    };
    std::vector<Request> requests;

    explicit RecordingTcpTable(LinuxTcpTable::FilterBuilder filterFor = InetDiagFilter::anyPortOf) : real_(filterFor) {}

    uint32_t GetTcpTable(uint8_t* buffer, uint32_t* size, bool order) override {
        return real_.GetTcpTable(buffer, size, order);
    }
    uint32_t SetTcpEntry(const TcpRow& row) override { return record(row, real_.SetTcpEntry(row)); }
    bool FilterPorts(const std::vector<uint16_t>& ports) override { return real_.FilterPorts(ports); }
    uint32_t GetTcp6Table(uint8_t* buffer, uint32_t* size, bool order) override {
        return real_.GetTcp6Table(buffer, size, order);
    }
    uint32_t SetTcp6Entry(const Tcp6Row& row) override { return record(row, real_.SetTcp6Entry(row)); }
    Result DeletionPossible() override { return real_.DeletionPossible(); }

    template <class Row> uint32_t record(const Row& row, uint32_t result) {
        requests.push_back(
            {ConnectionScan::GetPortNumber(row.dwLocalPort), ConnectionScan::GetPortNumber(row.dwRemotePort), result});
        return result;
    }

    // Destroying one end resets the other, whose own request may then find it gone.
    bool allDoneOrGone() const {
        for (const Request& r : requests) {
            if (r.result != TcpResult::NoError && r.result != TcpResult::NotFound) {
                return false;
            }
        }
        return succeeded() > 0;
    }

    int succeeded() const {
        int n = 0;
        for (const Request& r : requests) {
            n += r.result == TcpResult::NoError;
        }
        return n;
    }

    LinuxTcpTable real_;
};

// A filter program the kernel refuses, as one that is older or stricter than ours might: an op it
// does not know.
std::vector<uint8_t> refusedFilter(std::vector<uint16_t> ports) {
    return ports.empty() ? std::vector<uint8_t>() : std::vector<uint8_t>{0xff, 4, 8, 0};
}

bool hasRow(TcpTable& table, uint32_t state, int localPort, int remotePort) {
    for (const TcpRow& r : readTcpRows(table)) {
        if (r.dwState == state && ConnectionScan::GetPortNumber(r.dwLocalPort) == localPort &&
            ConnectionScan::GetPortNumber(r.dwRemotePort) == remotePort) {
            return true;
        }
    }
    return false;
}

class ScanOnRealConnections : public ::testing::Test {
protected:
    static std::string enter() { return enterFreshNetNamespace(); }
    void SetUp() override {
        if (!why_.empty()) {
            GTEST_SKIP() << why_;
        }
    }
    void TearDown() override { setPorts({}); }

    std::string why_ = enter(); // before the table's sockets are opened
    RecordingTcpTable table_;
    FakeWindowing windowing_;
    platform::ScopedInstall<TcpTable> useTable_{table_};
    platform::ScopedInstall<Windowing> useWindowing_{windowing_};
    ConnectionScan scan_;
};

} // namespace

TEST_F(ScanOnRealConnections, TheTableListsConnectionsInTheirStatesSorted) {
    const UniqueFd listener = listenOn(AF_INET, "127.0.0.1", 2525);
    const Connection c = connect(listener.get(), AF_INET, "127.0.0.1", 2525, 40000);
    const std::vector<TcpRow> rows = readTcpRows(table_.real_);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(hasRow(table_.real_, TcpState::Listen, 2525, 0));
    EXPECT_TRUE(hasRow(table_.real_, TcpState::Estab, 40000, 2525));
    EXPECT_TRUE(hasRow(table_.real_, TcpState::Estab, 2525, 40000));
    EXPECT_EQ(ConnectionScan::GetPortNumber(rows[0].dwLocalPort), 2525) << "sorted by local address and port";
}

TEST_F(ScanOnRealConnections, AFilteredTableHoldsExactlyTheConnectionsOnThosePorts) {
    std::vector<UniqueFd> listeners;
    std::vector<Connection> connections;
    for (const uint16_t port : {5, 50, 99, 150, 1000, 65535}) {
        listeners.push_back(listenOn(AF_INET, "127.0.0.1", port));
        connections.push_back(connect(listeners.back().get(), AF_INET, "127.0.0.1", port));
    }
    std::vector<uint16_t> ports;
    for (uint16_t p = 1; p <= 100; ++p) {
        ports.push_back(p);
    }
    ports.push_back(65535);
    std::multiset<int> seen;
    for (const TcpRow& row : readTcpRows(table_.real_, ports)) {
        const int local = ConnectionScan::GetPortNumber(row.dwLocalPort);
        const bool listenerPort =
            local == 5 || local == 50 || local == 99 || local == 150 || local == 1000 || local == 65535;
        seen.insert(listenerPort ? local : ConnectionScan::GetPortNumber(row.dwRemotePort));
    }
    // Each port's listener, client end and server end; the client's own port is an ephemeral one.
    EXPECT_EQ(seen, (std::multiset<int>{5, 5, 5, 50, 50, 50, 99, 99, 99, 65535, 65535, 65535}));
    EXPECT_EQ(readTcpRows(table_.real_).size(), 18u) << "without ports the table is whole again";

    // Filtered by the kernel itself, not by the table after a refusal.
    std::vector<uint16_t> many;
    for (uint16_t p = 0; p < 1000; ++p) {
        many.push_back(static_cast<uint16_t>(p * 61));
    }
    for (const std::vector<uint16_t>& list : {ports, many}) {
        const std::vector<uint8_t> reply =
            dumpReply(SockDiag::dumpRequest(AF_INET, 1, InetDiagFilter::anyPortOf(list)));
        std::vector<SockDiag::Socket> sockets;
        EXPECT_EQ(SockDiag::parseDump(reply.data(), reply.size(), sockets).status, SockDiag::Status::Done);
    }
}

TEST_F(ScanOnRealConnections, WhereTheKernelRefusesTheFilterTheTableFiltersItself) {
    RecordingTcpTable refusing(refusedFilter);
    platform::ScopedInstall<TcpTable> useRefusing(refusing);
    const UniqueFd listener25 = listenOn(AF_INET, "127.0.0.1", 25);
    const UniqueFd listener26 = listenOn(AF_INET, "127.0.0.1", 26);
    const Connection closed = connect(listener25.get(), AF_INET, "127.0.0.1", 25, 40000);
    const Connection open = connect(listener26.get(), AF_INET, "127.0.0.1", 26, 40001);

    const std::vector<TcpRow> rows = readTcpRows(refusing.real_, {25});
    EXPECT_EQ(rows.size(), 3u) << "the listener on 25 and both ends of its connection, nothing on 26";
    EXPECT_TRUE(hasRow(refusing.real_, TcpState::Estab, 40001, 26)) << "without ports the table is whole";

    setPorts({"25"});
    EXPECT_NO_THROW(scan_.CheckPorts());
    EXPECT_TRUE(sawReset(closed.client.get()));
    EXPECT_TRUE(sawReset(closed.server.get()));
    EXPECT_TRUE(refusing.allDoneOrGone());
    EXPECT_TRUE(talks(open));

    setPorts({"27"});
    EXPECT_NO_THROW(scan_.CheckPorts()) << "no connection on a closed port is no fault";
    EXPECT_TRUE(scan_.TcpRows().empty());
    const Connection late = connect(listener26.get(), AF_INET, "127.0.0.1", 26);
    setPorts({"26"});
    EXPECT_NO_THROW(scan_.CheckPorts());
    EXPECT_TRUE(sawReset(late.client.get())) << "later scans filter too";
    EXPECT_TRUE(sawReset(open.client.get()));
}

TEST_F(ScanOnRealConnections, ConnectionsOnAClosedPortAreResetAndTheRestStay) {
    const UniqueFd listener25 = listenOn(AF_INET, "127.0.0.1", 25);
    const UniqueFd listener26 = listenOn(AF_INET, "127.0.0.1", 26);
    Connection finished = connect(listener25.get(), AF_INET, "127.0.0.1", 25);
    const uint16_t finishedPort = localPort(finished.client.get());
    closeIntoTimeWait(finished);
    ASSERT_TRUE(hasRow(table_.real_, TcpState::TimeWait, finishedPort, 25));
    const Connection closed = connect(listener25.get(), AF_INET, "127.0.0.1", 25);
    const Connection open = connect(listener26.get(), AF_INET, "127.0.0.1", 26);
    const int clientPort = localPort(closed.client.get());
    setPorts({"25"});

    scan_.CheckPorts();

    EXPECT_TRUE(sawReset(closed.client.get())) << "the outgoing connection to remote port 25";
    EXPECT_TRUE(sawReset(closed.server.get())) << "the incoming connection to local port 25";
    EXPECT_EQ(table_.requests.size(), 2u);
    EXPECT_TRUE(table_.allDoneOrGone());
    EXPECT_TRUE(talks(open)) << "port 26 is not closed";
    EXPECT_TRUE(hasRow(table_.real_, TcpState::TimeWait, finishedPort, 25)) << "TIME_WAIT is never deleted";
    EXPECT_FALSE(hasRow(table_.real_, TcpState::Estab, clientPort, 25));
    const Connection again = connect(listener25.get(), AF_INET, "127.0.0.1", 25);
    EXPECT_TRUE(talks(again)) << "the listening socket on 25 still accepts";
    EXPECT_TRUE(windowing_.boxes.empty());
}

TEST_F(ScanOnRealConnections, EntriesWithNamesBlanksOrTyposStillCloseTheirPorts) {
    const UniqueFd listener = listenOn(AF_INET, "127.0.0.1", 25);
    const UniqueFd other = listenOn(AF_INET, "127.0.0.1", 110);
    const Connection smtp = connect(listener.get(), AF_INET, "127.0.0.1", 25);
    const Connection pop = connect(other.get(), AF_INET, "127.0.0.1", 110);
    setPorts({"abc", "25, SMTP", " 110"});
    scan_.CheckPorts();
    EXPECT_TRUE(sawReset(smtp.client.get()));
    EXPECT_TRUE(sawReset(pop.client.get()));
}

TEST_F(ScanOnRealConnections, AConnectionOpenedAfterAScanDiesAtTheNextOne) {
    const UniqueFd listener = listenOn(AF_INET, "127.0.0.1", 25);
    setPorts({" 25"});
    scan_.CheckPorts();
    EXPECT_TRUE(table_.requests.empty());
    const Connection late = connect(listener.get(), AF_INET, "127.0.0.1", 25);
    EXPECT_TRUE(talks(late));
    scan_.CheckPorts();
    EXPECT_TRUE(sawReset(late.client.get()));
    EXPECT_TRUE(sawReset(late.server.get()));
}

TEST_F(ScanOnRealConnections, DualStackAndIPv6ConnectionsAreClosedToo) {
    const UniqueFd dual = listenOn(AF_INET6, "::", 25, true);
    const Connection v4ToDual = connect(dual.get(), AF_INET, "127.0.0.1", 25);
    const Connection v6 = connect(dual.get(), AF_INET6, "::1", 25);
    const UniqueFd listener6 = listenOn(AF_INET6, "::1", 26);
    const Connection v6open = connect(listener6.get(), AF_INET6, "::1", 26);
    setPorts({"25"});

    scan_.CheckPorts();

    EXPECT_TRUE(sawReset(v4ToDual.client.get()));
    EXPECT_TRUE(sawReset(v4ToDual.server.get())) << "the IPv6 socket's end of an IPv4 connection";
    EXPECT_TRUE(sawReset(v6.client.get()));
    EXPECT_TRUE(sawReset(v6.server.get()));
    EXPECT_EQ(table_.requests.size(), 4u);
    EXPECT_TRUE(table_.allDoneOrGone());
    EXPECT_TRUE(talks(v6open));
}

TEST_F(ScanOnRealConnections, WithoutNetAdminNothingIsDestroyedTheScanShowsNothingAndTheTableSaysWhy) {
    EXPECT_TRUE(done(table_.DeletionPossible())) << "root in its namespace can delete";
    const UniqueFd listener = listenOn(AF_INET, "127.0.0.1", 25);
    const Connection c = connect(listener.get(), AF_INET, "127.0.0.1", 25);
    setPorts({"25"});

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        if (::syscall(SYS_capget, &header, caps) != 0) {
            ::_exit(10);
        }
        caps[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
        if (::syscall(SYS_capset, &header, caps) != 0) {
            ::_exit(11);
        }
        try {
            scan_.CheckPorts();
        } catch (...) {
            ::_exit(12);
        }
        const bool refused = table_.requests.size() == 2 && table_.succeeded() == 0 &&
                             table_.requests[0].result == TcpResult::AccessDenied;
        const bool saysWhy = table_.DeletionPossible().reason().find("CAP_NET_ADMIN") != std::string::npos;
        ::_exit(!refused ? 13 : !windowing_.boxes.empty() ? 14 : !saysWhy ? 15 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10/11: capabilities not changed, 12: the scan failed, "
                                         "13: a deletion was not refused, 14: a message was shown, "
                                         "15: the table did not name the missing capability";
    EXPECT_TRUE(talks(c));
}
