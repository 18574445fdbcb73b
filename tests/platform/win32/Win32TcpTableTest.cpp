#include "core/ConnectionScan.h"
#include "platform/TcpTable.h"
#include "support/TcpTableRows.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// IP Helper's table under the real operating system (Wine reads the host's): a connection this test
// opens must be in it, in its states, with its ports.
namespace {

class Winsock {
public:
    Winsock() { started_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~Winsock() {
        if (started_) {
            WSACleanup();
        }
    }
    bool started() const { return started_; }

private:
    WSADATA data_{};
    bool started_ = false;
};

class Socket {
public:
    explicit Socket(SOCKET s) : s_(s) {}
    ~Socket() {
        if (s_ != INVALID_SOCKET) {
            closesocket(s_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return s_; }

private:
    SOCKET s_;
};

uint16_t portOf(SOCKET s) {
    sockaddr_in a{};
    int length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

bool has(const std::vector<TcpRow>& rows, uint32_t state, int local, int remote) {
    for (const TcpRow& r : rows) {
        if (r.dwState == state && ConnectionScan::GetPortNumber(r.dwLocalPort) == local &&
            ConnectionScan::GetPortNumber(r.dwRemotePort) == remote) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(Win32TcpTable, ATableReadShowsAConnectionThisProcessOpened) {
    Winsock winsock;
    ASSERT_TRUE(winsock.started());
    Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener.get(), 1), 0);
    const uint16_t serverPort = portOf(listener.get());
    address.sin_port = htons(serverPort);

    Socket client(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    Socket server(accept(listener.get(), nullptr, nullptr));
    ASSERT_NE(server.get(), INVALID_SOCKET);
    const uint16_t clientPort = portOf(client.get());

    const std::vector<TcpRow> rows = readTcpRows(systemTcpTable());
    EXPECT_TRUE(has(rows, TcpState::Listen, serverPort, 0));
    EXPECT_TRUE(has(rows, TcpState::Estab, clientPort, serverPort));
    EXPECT_TRUE(has(rows, TcpState::Estab, serverPort, clientPort));
    for (const TcpRow& r : rows) {
        EXPECT_EQ(r.dwLocalPort >> 16, 0u) << "the port fields' upper bytes are zero";
    }
}

TEST(Win32TcpTable, IPv6ConnectionsCannotBeDeleted) {
    Tcp6Row row{};
    row.State = TcpState::DeleteTcb;
    EXPECT_EQ(systemTcpTable().SetTcp6Entry(row), TcpResult::NotSupported);
}
