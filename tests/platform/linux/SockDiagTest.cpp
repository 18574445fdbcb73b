#include "platform/linux/SockDiag.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <limits>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <set>
#include <string>
#include <tuple>

// The dumps in data/ were recorded by record_sockdiag_dump in a namespace holding exactly:
//   127.0.0.1:2525 listening; 127.0.0.1:40000 -> :2525 established (both ends);
//   127.0.0.1:40003 -> :2525 closed by the client, which waits in TIME_WAIT;
//   [::]:2526 listening for IPv4 and IPv6; 127.0.0.1:40001 -> :2526 over IPv4 (its server end an IPv6
//   socket with IPv4-mapped addresses); [::1]:40002 -> [::1]:2526 (both ends).
namespace {

std::vector<SockDiag::Socket> parseFile(const std::string& name, SockDiag::Status expected = SockDiag::Status::Done) {
    const std::string bytes = readBytes(testDataPath("platform/linux/data/" + name));
    std::vector<SockDiag::Socket> sockets;
    const SockDiag::Parsed parsed =
        SockDiag::parseDump(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), sockets);
    EXPECT_EQ(parsed.status, expected) << name;
    return sockets;
}

using RowKey = std::tuple<uint32_t, std::string, int, std::string, int>;

std::string ipv4(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &networkOrder, text, sizeof text);
    return text;
}

std::string ipv6(const uint8_t* address) {
    char text[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, address, text, sizeof text);
    return text;
}

int port(uint32_t field) {
    const auto* b = reinterpret_cast<const uint8_t*>(&field);
    return b[0] << 8 | b[1];
}

// The rows of the sockets of a dump, IPv4 and IPv6 apart.
struct Tables {
    std::multiset<RowKey> rows4;
    std::multiset<RowKey> rows6;
};

Tables tablesOf(const std::vector<SockDiag::Socket>& sockets) {
    Tables tables;
    for (const SockDiag::Socket& s : sockets) {
        TcpRow row{};
        Tcp6Row row6{};
        const bool isRow4 = SockDiag::toTcpRow(s, row);
        const bool isRow6 = SockDiag::toTcp6Row(s, row6);
        EXPECT_NE(isRow4, isRow6) << "each socket is in exactly one table";
        if (isRow4) {
            tables.rows4.insert({row.dwState, ipv4(row.dwLocalAddr), port(row.dwLocalPort), ipv4(row.dwRemoteAddr),
                                 port(row.dwRemotePort)});
            EXPECT_EQ(row.dwLocalPort >> 16, 0u);
        } else if (isRow6) {
            tables.rows6.insert({row6.State, ipv6(row6.LocalAddr), port(row6.dwLocalPort), ipv6(row6.RemoteAddr),
                                 port(row6.dwRemotePort)});
        }
    }
    return tables;
}

// A reply of one message whose payload is a 32-bit number: an error message or the end of a dump.
struct NumberMessage {
    NumberMessage(uint16_t type, int32_t value) {
        header.nlmsg_len = sizeof *this;
        header.nlmsg_type = type;
        number = value;
    }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this); }
    SockDiag::Parsed parseDump() const {
        std::vector<SockDiag::Socket> sockets;
        return SockDiag::parseDump(bytes(), sizeof *this, sockets);
    }
    int parseAck() const { return SockDiag::parseAck(bytes(), sizeof *this); }

    nlmsghdr header{};
    int32_t number;
};

} // namespace

TEST(SockDiag, RecordedDumpsBecomeTheRowsOfBothTables) {
    std::vector<SockDiag::Socket> sockets = parseFile("sockdiag-inet.bin");
    const std::vector<SockDiag::Socket> six = parseFile("sockdiag-inet6.bin");
    sockets.insert(sockets.end(), six.begin(), six.end());
    ASSERT_EQ(sockets.size(), 9u);
    const Tables tables = tablesOf(sockets);

    const std::multiset<RowKey> expected4 = {
        {TcpState::Listen, "127.0.0.1", 2525, "0.0.0.0", 0},
        {TcpState::Estab, "127.0.0.1", 40000, "127.0.0.1", 2525},
        {TcpState::Estab, "127.0.0.1", 2525, "127.0.0.1", 40000},
        {TcpState::TimeWait, "127.0.0.1", 40003, "127.0.0.1", 2525},
        {TcpState::Estab, "127.0.0.1", 40001, "127.0.0.1", 2526},
        {TcpState::Estab, "127.0.0.1", 2526, "127.0.0.1", 40001}, // the dual-stack server's end
    };
    const std::multiset<RowKey> expected6 = {
        {TcpState::Listen, "::", 2526, "::", 0},
        {TcpState::Estab, "::1", 40002, "::1", 2526},
        {TcpState::Estab, "::1", 2526, "::1", 40002},
    };
    EXPECT_EQ(tables.rows4, expected4);
    EXPECT_EQ(tables.rows6, expected6);

    // The one-walk dump of both families gives the same tables.
    const Tables both = tablesOf(parseFile("sockdiag-both.bin"));
    EXPECT_EQ(both.rows4, expected4);
    EXPECT_EQ(both.rows6, expected6);
}

TEST(SockDiag, EveryKernelStateHasItsPlatformCode) {
    // ESTABLISHED SYN_SENT SYN_RECV FIN_WAIT1 FIN_WAIT2 TIME_WAIT CLOSE CLOSE_WAIT LAST_ACK LISTEN CLOSING NEW_SYN_RECV
    const uint32_t expected[] = {TcpState::Estab,    TcpState::SynSent,  TcpState::SynRcvd, TcpState::FinWait1,
                                 TcpState::FinWait2, TcpState::TimeWait, TcpState::Closed,  TcpState::CloseWait,
                                 TcpState::LastAck,  TcpState::Listen,   TcpState::Closing, TcpState::SynRcvd};
    for (uint8_t linuxState = 1; linuxState <= 12; ++linuxState) {
        EXPECT_EQ(SockDiag::windowsState(linuxState), expected[linuxState - 1]) << int(linuxState);
    }
}

TEST(SockDiag, ACutOrFailedReplyIsAFailureNotAShorterTable) {
    const std::string bytes = readBytes(testDataPath("platform/linux/data/sockdiag-inet.bin"));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<SockDiag::Socket> sockets;
    EXPECT_EQ(SockDiag::parseDump(data, bytes.size() - 7, sockets).status, SockDiag::Status::Failed);

    // The kernel refuses a request with an error message, and ends a dump it could not finish with
    // the error in its closing message.
    for (const uint16_t type : {NLMSG_ERROR, NLMSG_DONE}) {
        const NumberMessage reply(type, -EPERM);
        const SockDiag::Parsed parsed = reply.parseDump();
        EXPECT_EQ(parsed.status, SockDiag::Status::Failed) << type;
        EXPECT_EQ(parsed.error, EPERM) << type;
    }
    EXPECT_EQ(NumberMessage(NLMSG_DONE, 0).parseDump().status, SockDiag::Status::Done);
    EXPECT_EQ(NumberMessage(NLMSG_ERROR, -EPERM).parseAck(), EPERM);
    EXPECT_EQ(NumberMessage(NLMSG_ERROR, 0).parseAck(), 0);
}

TEST(SockDiag, AnErrorNumberThatIsNoErrnoIsAMalformedReply) {
    for (const int32_t number : {1, 2562, -4096, std::numeric_limits<int32_t>::min()}) {
        const SockDiag::Parsed parsed = NumberMessage(NLMSG_ERROR, number).parseDump();
        EXPECT_EQ(parsed.status, SockDiag::Status::Failed) << number;
        EXPECT_EQ(parsed.error, EBADMSG) << number;
        EXPECT_EQ(NumberMessage(NLMSG_ERROR, number).parseAck(), -1) << number;
    }
}

TEST(SockDiag, ADeletionCarriesTheSocketsIdentityFromTheDump) {
    const std::vector<SockDiag::Socket> sockets = parseFile("sockdiag-inet.bin");
    ASSERT_FALSE(sockets.empty());
    const SockDiag::Socket& s = sockets.back();
    EXPECT_TRUE(s.cookie[0] != 0 || s.cookie[1] != 0);
    const std::vector<uint8_t> request = SockDiag::destroyRequest(s, 7);
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } r;
    ASSERT_EQ(request.size(), sizeof r);
    std::memcpy(&r, request.data(), sizeof r);
    EXPECT_EQ(r.header.nlmsg_type, SOCK_DESTROY);
    EXPECT_EQ(r.header.nlmsg_seq, 7u);
    EXPECT_EQ(r.body.sdiag_family, s.family);
    EXPECT_EQ(r.body.id.idiag_sport, s.sport);
    EXPECT_EQ(r.body.id.idiag_dport, s.dport);
    EXPECT_EQ(std::memcmp(r.body.id.idiag_src, s.src, 16), 0);
    EXPECT_EQ(std::memcmp(r.body.id.idiag_dst, s.dst, 16), 0);
    EXPECT_EQ(r.body.id.idiag_cookie[0], s.cookie[0]);
    EXPECT_EQ(r.body.id.idiag_cookie[1], s.cookie[1]);
}
