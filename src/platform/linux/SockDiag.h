#pragma once

#include "platform/TcpTable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The sock_diag netlink protocol as the TCP table needs it: requests built and replies parsed as
// plain bytes, so that the parser can be tested on recorded dumps without a kernel.
namespace SockDiag {

// One TCP socket as a dump reports it. Addresses and ports are in network byte order, as sent.
struct Socket {
    uint8_t family = 0; // AF_INET or AF_INET6
    uint8_t state = 0;  // the kernel's TCP state (TCP_ESTABLISHED = 1 ...)
    uint8_t src[16] = {};
    uint8_t dst[16] = {};
    uint16_t sport = 0;
    uint16_t dport = 0;
    uint32_t ifindex = 0;
    // The kernel's identity of the socket. A deletion carries it, so that it can only ever hit the
    // socket the dump showed: without it the kernel falls back to a listening socket on the same
    // port when the connection is already gone.
    uint32_t cookie[2] = {0, 0};
    uint32_t uid = 0;   // the user that made it
    uint32_t inode = 0; // of its file, which a process holding it has among its descriptors; 0 for none
};

// A SOCK_DIAG_BY_FAMILY dump request for the TCP sockets of one family, in every connection state;
// with a filter program (see InetDiagFilter), only the sockets it accepts.
std::vector<uint8_t> dumpRequest(uint8_t family, uint32_t sequence, const std::vector<uint8_t>& filter = {});
// The older TCPDIAG_GETSOCK dump, which reports both families in one walk of the kernel's connection
// hash instead of one walk each; that walk is most of what a dump costs.
std::vector<uint8_t> bothFamiliesDumpRequest(uint32_t sequence, const std::vector<uint8_t>& filter = {});
// A SOCK_DESTROY request for one socket, asking for an acknowledgement.
std::vector<uint8_t> destroyRequest(const Socket& socket, uint32_t sequence);

enum class Status { More, Done, Failed };
struct Parsed {
    Status status = Status::More;
    int error = 0; // when Failed: the kernel's errno, or EBADMSG for a reply that makes no sense
};
// Appends the sockets of the dump messages in bytes (one or more messages, as received) to out.
// Done at NLMSG_DONE; Failed at an error message, a dump's end that carries an error, or a message
// that runs past the end.
Parsed parseDump(const uint8_t* bytes, size_t length, std::vector<Socket>& out);
// The errno (0 for success) of the acknowledgement in bytes; -1 when there is none, or it makes no sense.
int parseAck(const uint8_t* bytes, size_t length);

// The platform's TCP state code for a kernel TCP state (request sockets count as SYN_RCVD).
uint32_t windowsState(uint8_t linuxState);

// An IPv4 socket, or an IPv6 socket whose addresses are IPv4-mapped (::ffff:a.b.c.d), as an IPv4 row.
bool toTcpRow(const Socket& socket, TcpRow& row);
// Any other IPv6 socket as an IPv6 row; its scope ids are the socket's interface.
bool toTcp6Row(const Socket& socket, Tcp6Row& row);

} // namespace SockDiag
