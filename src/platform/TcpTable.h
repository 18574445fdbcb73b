#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <vector>

// One connection of the IPv4 TCP table, laid out as the platform's MIB_TCPROW (20 bytes, little-endian
// fields; addresses and the first two bytes of each port field in network byte order).
struct TcpRow {
    uint32_t dwState;
    uint32_t dwLocalAddr;
    uint32_t dwLocalPort;
    uint32_t dwRemoteAddr;
    uint32_t dwRemotePort;
};
static_assert(sizeof(TcpRow) == 20);

// One connection of the IPv6 TCP table, laid out as the platform's MIB_TCP6ROW (52 bytes).
struct Tcp6Row {
    uint32_t State;
    uint8_t LocalAddr[16];
    uint32_t dwLocalScopeId;
    uint32_t dwLocalPort;
    uint8_t RemoteAddr[16];
    uint32_t dwRemoteScopeId;
    uint32_t dwRemotePort;
};
static_assert(sizeof(Tcp6Row) == 52);

// Connection states, with the platform's codes.
namespace TcpState {
inline constexpr uint32_t Closed = 1;
inline constexpr uint32_t Listen = 2;
inline constexpr uint32_t SynSent = 3;
inline constexpr uint32_t SynRcvd = 4;
inline constexpr uint32_t Estab = 5;
inline constexpr uint32_t FinWait1 = 6;
inline constexpr uint32_t FinWait2 = 7;
inline constexpr uint32_t CloseWait = 8;
inline constexpr uint32_t Closing = 9;
inline constexpr uint32_t LastAck = 10;
inline constexpr uint32_t TimeWait = 11;
inline constexpr uint32_t DeleteTcb = 12; // written into a row to ask for its deletion
} // namespace TcpState

// Result codes of the table calls, the platform's error numbers.
namespace TcpResult {
inline constexpr uint32_t NoError = 0;
inline constexpr uint32_t AccessDenied = 5;
inline constexpr uint32_t GenFailure = 31;
inline constexpr uint32_t NotSupported = 50;
inline constexpr uint32_t InvalidParameter = 87;
inline constexpr uint32_t InsufficientBuffer = 122;
inline constexpr uint32_t NotFound = 1168;
} // namespace TcpResult

// The machine's TCP connection table, as IP Helper offers it.
class TcpTable {
public:
    virtual ~TcpTable() = default;

    // Fills buffer with the row count (32-bit) and the rows. With no buffer or one smaller than *size
    // needs, sets *size to the bytes needed and returns InsufficientBuffer. `order` sorts the rows.
    virtual uint32_t GetTcpTable(uint8_t* buffer, uint32_t* size, bool order) = 0;
    // With dwState DeleteTcb, deletes the connection; returns NoError or the reason it could not.
    virtual uint32_t SetTcpEntry(const TcpRow& row) = 0;

    // Lets the next table reads leave out every connection on none of these ports, where the platform
    // can have the system filter them (the scan only ever deletes rows on its closed ports). Returns
    // whether it will; with no ports, or where it cannot, the tables stay whole.
    virtual bool FilterPorts(const std::vector<uint16_t>& ports) = 0;

    // The same for the connections with IPv6 addresses (an IPv4 connection on a dual-stack socket is
    // in the IPv4 table). Where the platform cannot delete them, SetTcp6Entry returns NotSupported.
    virtual uint32_t GetTcp6Table(uint8_t* buffer, uint32_t* size, bool order) = 0;
    virtual uint32_t SetTcp6Entry(const Tcp6Row& row) = 0;

    // Who holds the connection of a row the last table read showed, in words for a record ("uid 1000,
    // process 4242 (curl)"); empty where the platform does not say. Asked before the row is deleted.
    virtual std::string Owner(const TcpRow&) { return {}; }
    virtual std::string Owner6(const Tcp6Row&) { return {}; }

    // Done when deletions can work on this machine for this process; else why not (no right to delete,
    // or a system without the means), in words for an administrator.
    virtual Result DeletionPossible() = 0;
};

TcpTable& systemTcpTable();
