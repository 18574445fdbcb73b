#include "platform/linux/ShownSockets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <set>

// Which socket of the last dump a row sent for deletion (state 12) names.
namespace {

SockDiag::Socket socketWithCookie(uint32_t cookie) {
    SockDiag::Socket socket;
    socket.cookie[0] = cookie;
    return socket;
}

TcpRow row(uint32_t state, uint16_t localPort = 40000, uint16_t remotePort = 25) {
    return {state, htonl(0x7f000001), htons(localPort), htonl(0x7f000001), htons(remotePort)};
}

uint32_t deletedCookie(ShownSockets<TcpRow>& shown, TcpRow shownRow) {
    shownRow.dwState = TcpState::DeleteTcb;
    const SockDiag::Socket* socket = shown.find(shownRow);
    return socket == nullptr ? 0 : socket->cookie[0];
}

} // namespace

TEST(ShownSockets, ADeletionGoesToTheConnectionNotATimeWaitOrListenerOnTheSameAddresses) {
    ShownSockets<TcpRow> shown;
    for (int tick = 0; tick < 3; ++tick) {
        shown.clear();
        shown.add(row(TcpState::TimeWait), socketWithCookie(1));
        shown.add(row(TcpState::Listen), socketWithCookie(2));
        shown.add(row(TcpState::Estab), socketWithCookie(3));
        shown.add(row(TcpState::Estab, 40001), socketWithCookie(4));
        EXPECT_EQ(deletedCookie(shown, row(TcpState::Estab)), 3u) << "tick " << tick;
        EXPECT_EQ(deletedCookie(shown, row(TcpState::Estab, 40001)), 4u);
        EXPECT_EQ(deletedCookie(shown, row(TcpState::Estab, 40002)), 0u) << "a row the table did not show";
    }
}

TEST(ShownSockets, EachOfTwoConnectionsOnOneAddressPairGetsADeletion) {
    ShownSockets<TcpRow> shown;
    shown.add(row(TcpState::Estab), socketWithCookie(1));
    shown.add(row(TcpState::TimeWait), socketWithCookie(2));
    shown.add(row(TcpState::CloseWait), socketWithCookie(3));
    const std::set<uint32_t> deleted = {deletedCookie(shown, row(TcpState::Estab)),
                                        deletedCookie(shown, row(TcpState::CloseWait))};
    EXPECT_EQ(deleted, (std::set<uint32_t>{1, 3}));
}
