// libFuzzer target: the sock_diag reply parsers on any bytes as one received datagram, seeded with the
// dumps recorded from a real kernel. Besides crashes and sanitizer reports it checks what the table
// relies on: a failure carries an errno, an acknowledgement is an errno or none, no socket is made
// from bytes that are not there, and each socket is a row of at most one table.
#include "platform/linux/SockDiag.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <vector>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<SockDiag::Socket> sockets(1); // the parser appends to what a dump has gathered
    const SockDiag::Parsed parsed = SockDiag::parseDump(data, size, sockets);
    check((parsed.status == SockDiag::Status::Failed) == (parsed.error > 0), "a failure, and only one, has an errno");
    check((sockets.size() - 1) * (NLMSG_HDRLEN + sizeof(inet_diag_msg)) <= size, "each socket has its message");
    for (const SockDiag::Socket& socket : sockets) {
        TcpRow row;
        Tcp6Row row6;
        const bool isRow = SockDiag::toTcpRow(socket, row);
        check(!(isRow && SockDiag::toTcp6Row(socket, row6)), "a socket is in one table at most");
        check(!isRow || (row.dwLocalPort >> 16 == 0 && row.dwRemotePort >> 16 == 0), "a port field holds a port");
    }

    const int ack = SockDiag::parseAck(data, size);
    check(ack >= -1 && ack < 4096, "an acknowledgement is an errno, or none");
    return 0;
}
