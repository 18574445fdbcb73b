#include "platform/linux/SockDiag.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
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

using Address = std::array<uint8_t, 16>;

// An address as the kernel's lookups compare it: an IPv4 one as its IPv4-mapped IPv6 form, which an
// IPv4 lookup also finds on a dual-stack socket.
Address lookupAddress(uint8_t family, const void* address) {
    Address a{};
    if (family == AF_INET) {
        a[10] = a[11] = 0xff;
        std::memcpy(&a[12], address, 4);
    } else {
        std::memcpy(a.data(), address, a.size());
    }
    return a;
}

struct KernelAnswer {
    const SockDiag::Socket* socket; // the socket destroyed, or null
    int error;
};

// What the kernel does with a SOCK_DESTROY request when its sockets are `table`, after
// inet_diag_find_one_icsk: it looks up the connection with the request's addresses and ports, or else
// a socket listening on its local address and port, and destroys that only when the request's cookie
// is that socket's (or the request has none).
KernelAnswer kernelDestroys(const std::vector<uint8_t>& bytes, const std::vector<SockDiag::Socket>& table) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } r{};
    if (bytes.size() < sizeof r) {
        return {nullptr, EINVAL};
    }
    std::memcpy(&r, bytes.data(), sizeof r);
    const uint8_t family = r.body.sdiag_family;
    const auto ackedRequest = NLM_F_REQUEST | NLM_F_ACK;
    if (r.header.nlmsg_len != bytes.size() || r.header.nlmsg_type != SOCK_DESTROY ||
        (r.header.nlmsg_flags & ackedRequest) != ackedRequest || r.body.sdiag_protocol != IPPROTO_TCP ||
        (family != AF_INET && family != AF_INET6)) {
        return {nullptr, EINVAL};
    }
    const inet_diag_sockid& id = r.body.id;
    const Address local = lookupAddress(family, id.idiag_src);
    const Address remote = lookupAddress(family, id.idiag_dst);
    const Address anyIPv4 = lookupAddress(AF_INET, Address{}.data());
    const SockDiag::Socket* found = nullptr;
    for (const SockDiag::Socket& s : table) {
        const bool listens = SockDiag::windowsState(s.state) == TcpState::Listen;
        const Address bound = lookupAddress(s.family, s.src);
        if (!listens && s.sport == id.idiag_sport && s.dport == id.idiag_dport && bound == local &&
            lookupAddress(s.family, s.dst) == remote && (s.ifindex == 0 || s.ifindex == id.idiag_if)) {
            found = &s;
        }
    }
    for (const SockDiag::Socket& s : table) {
        const Address bound = lookupAddress(s.family, s.src);
        if (found == nullptr && SockDiag::windowsState(s.state) == TcpState::Listen && s.sport == id.idiag_sport &&
            (bound == local || bound == Address{} || bound == anyIPv4)) {
            found = &s;
        }
    }
    if (found == nullptr) {
        return {nullptr, ENOENT};
    }
    const bool noCookie = id.idiag_cookie[0] == INET_DIAG_NOCOOKIE && id.idiag_cookie[1] == INET_DIAG_NOCOOKIE;
    if (!noCookie && (id.idiag_cookie[0] != found->cookie[0] || id.idiag_cookie[1] != found->cookie[1])) {
        return {nullptr, ESTALE};
    }
    return {found, 0};
}

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

// The scan spares listening sockets and those in TIME_WAIT and closes the rest: a socket in any other
// kernel state, one still connecting or already closing included, must not pass for either.
TEST(SockDiag, OnlyListeningAndTimeWaitSocketsArePassedOverByTheScan) {
    constexpr uint8_t KernelTimeWait = 6; // include/net/tcp_states.h
    constexpr uint8_t KernelListen = 10;
    for (uint8_t linuxState = 1; linuxState <= 12; ++linuxState) {
        const uint32_t code = SockDiag::windowsState(linuxState);
        EXPECT_EQ(code == TcpState::Listen || code == TcpState::TimeWait,
                  linuxState == KernelTimeWait || linuxState == KernelListen)
            << int(linuxState);
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

TEST(SockDiag, ADestroyRequestNamesTheDumpedSocketAndNeverAListenerInItsPlace) {
    std::vector<SockDiag::Socket> table = parseFile("sockdiag-both.bin");
    ASSERT_EQ(table.size(), 9u);
    for (const SockDiag::Socket& s : table) {
        EXPECT_EQ(kernelDestroys(SockDiag::destroyRequest(s, 7), table).socket, &s)
            << int(s.family) << " " << ntohs(s.sport) << " -> " << ntohs(s.dport);
    }

    // The server end of 40000 -> 2525 is gone (the client's reset took it): the kernel finds the
    // listener on 2525 in its place, and the cookie keeps it from destroying that.
    const auto server = std::find_if(table.begin(), table.end(), [](const SockDiag::Socket& s) {
        return s.family == AF_INET && ntohs(s.sport) == 2525 && ntohs(s.dport) == 40000;
    });
    ASSERT_NE(server, table.end());
    const SockDiag::Socket gone = *server;
    table.erase(server);
    const KernelAnswer answer = kernelDestroys(SockDiag::destroyRequest(gone, 8), table);
    EXPECT_EQ(answer.socket, nullptr);
    EXPECT_EQ(answer.error, ESTALE);
}
