#pragma once

#include "platform/TcpTable.h"
#include "platform/linux/InetDiagFilter.h"
#include "platform/linux/ShownSockets.h"
#include "platform/linux/SockDiag.h"
#include "platform/linux/UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

// A NETLINK_SOCK_DIAG socket, opened when first used.
class DiagSocket {
public:
    int open();                                    // 0, or the errno of a failure
    int send(const std::vector<uint8_t>& request); // 0, or the errno
    ssize_t receive(std::vector<uint8_t>& buffer); // one datagram's length, or -errno
    uint32_t nextSequence() { return ++sequence_; }

private:
    int fail();

    UniqueFd fd_;
    uint32_t sequence_ = 0;
};

// The TCP table of the network namespace the process is in when the table is first used, read with
// sock_diag dumps and changed with SOCK_DESTROY requests. Dumps and deletions use two sockets, so
// that a request never lands on a socket with a dump under way. Only a connection that the latest
// table read showed can be deleted; any other row gives NotFound.
//
// One table read dumps both families: the IPv4 and the IPv6 tables of a scan come from it. A size
// query takes a fresh snapshot, and the call that fills the buffer right after it copies that same
// snapshot instead of dumping again (so the table never grows between the two calls). Each dump
// walks the kernel's whole connection hash, which is most of a scan's cost.
//
// Ports to filter by become a filter program that the kernel runs during the dump. A kernel that
// refuses the program dumps the whole table, and the rows on other ports are left out here, so a
// filtered table means the same on every kernel.
class LinuxTcpTable final : public TcpTable {
public:
    // Makes the kernel's filter program for a list of ports (tests give one the kernel refuses).
    using FilterBuilder = std::vector<uint8_t> (*)(std::vector<uint16_t> ports);

    explicit LinuxTcpTable(FilterBuilder filterFor = InetDiagFilter::anyPortOf) : filterFor_(filterFor) {}
    uint32_t GetTcpTable(uint8_t* buffer, uint32_t* size, bool order) override;
    uint32_t SetTcpEntry(const TcpRow& row) override;
    bool FilterPorts(const std::vector<uint16_t>& ports) override;
    uint32_t GetTcp6Table(uint8_t* buffer, uint32_t* size, bool order) override;
    uint32_t SetTcp6Entry(const Tcp6Row& row) override;
    Result DeletionPossible() override;
    std::string Owner(const TcpRow& row) override { return ownerOf(shown_.peek(row)); }
    std::string Owner6(const Tcp6Row& row) override { return ownerOf(shown6_.peek(row)); }

private:
    struct Snapshot {
        std::vector<TcpRow> rows;
        std::vector<Tcp6Row> rows6;
        bool rowsPending = false; // taken, and not yet handed out by a successful fill
        bool rows6Pending = false;
        std::chrono::steady_clock::time_point taken;
    };

    int takeSnapshot(); // 0, or the errno
    int dumpSockets();  // into sockets_; 0, or the errno
    int dumpOnce(const std::vector<uint8_t>& filter);
    bool onFilteredPort(const SockDiag::Socket& socket) const;
    bool fresh(bool pending) const;
    template <class Row>
    uint32_t serve(std::vector<Row> Snapshot::*rows, bool Snapshot::*pending, uint8_t* buffer, uint32_t* size,
                   bool order);
    template <class Row> uint32_t destroyShown(ShownSockets<Row>& shown, const Row& row, uint32_t state);
    int dump(const std::vector<uint8_t>& request, std::vector<SockDiag::Socket>& sockets); // 0, or the errno
    int destroy(const SockDiag::Socket& socket);                                           // the kernel's answer
    std::string ownerOf(const SockDiag::Socket* socket);

    FilterBuilder filterFor_;
    std::vector<uint8_t> filter_;    // the kernel's filter program; empty for the whole table
    std::vector<uint16_t> ports_;    // sorted: the ports of filter_, for when the kernel refuses it
    bool filterBuilt_ = false;       // filter_ was built for ports_
    bool filterRefused_ = false;     // the kernel refused filter_, so the table filters its dumps itself
    bool bothFamiliesAtOnce_ = true; // until the kernel refuses the older dump
    Snapshot snapshot_;
    std::vector<SockDiag::Socket> sockets_;
    ShownSockets<TcpRow> shown_;
    ShownSockets<Tcp6Row> shown6_;
    // The processes holding sockets, by inode, read from /proc once per table read that deletes.
    std::optional<std::unordered_map<uint32_t, std::string>> holders_;
    DiagSocket dumpSocket_;
    DiagSocket destroySocket_;
    std::vector<uint8_t> buffer_;
};
