#include "platform/linux/LinuxTcpTable.h"

#include "platform/linux/Capabilities.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>
#include <vector>

int DiagSocket::open() {
    if (fd_.valid()) {
        return 0;
    }
    fd_.reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    return fd_.valid() ? 0 : errno;
}

int DiagSocket::send(const std::vector<uint8_t>& request) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t n = ::sendto(fd_.get(), request.data(), request.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
        if (n >= 0) {
            return 0;
        }
        if (errno != EINTR) {
            return fail();
        }
    }
}

ssize_t DiagSocket::receive(std::vector<uint8_t>& buffer) {
    for (;;) {
        const ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
        if (n >= 0) {
            return n;
        }
        if (errno != EINTR) {
            return -fail();
        }
    }
}

// After an error the socket may hold part of a reply; a fresh one starts clean.
int DiagSocket::fail() {
    const int error = errno;
    fd_.reset();
    return error;
}

namespace {

constexpr size_t ReceiveBufferSize = 256 * 1024;

uint32_t resultOf(int error) {
    switch (error) {
    case 0:
        return TcpResult::NoError;
    case EPERM:
    case EACCES:
        return TcpResult::AccessDenied;
    case ENOENT:
    case ESTALE:
        return TcpResult::NotFound; // gone, or another socket now holds its addresses
    case EPROTONOSUPPORT:
    case EOPNOTSUPP:
        return TcpResult::NotSupported;
    case EINVAL:
        return TcpResult::InvalidParameter;
    default:
        return TcpResult::GenFailure;
    }
}

template <class Row> bool rowBefore(const Row& a, const Row& b);

template <> bool rowBefore(const TcpRow& a, const TcpRow& b) {
    const auto key = [](const TcpRow& r) {
        return std::make_tuple(__builtin_bswap32(r.dwLocalAddr), __builtin_bswap32(r.dwLocalPort),
                               __builtin_bswap32(r.dwRemoteAddr), __builtin_bswap32(r.dwRemotePort));
    };
    return key(a) < key(b);
}

template <> bool rowBefore(const Tcp6Row& a, const Tcp6Row& b) {
    if (const int c = std::memcmp(a.LocalAddr, b.LocalAddr, 16)) {
        return c < 0;
    }
    if (a.dwLocalPort != b.dwLocalPort) {
        return __builtin_bswap32(a.dwLocalPort) < __builtin_bswap32(b.dwLocalPort);
    }
    if (const int c = std::memcmp(a.RemoteAddr, b.RemoteAddr, 16)) {
        return c < 0;
    }
    return __builtin_bswap32(a.dwRemotePort) < __builtin_bswap32(b.dwRemotePort);
}

// Writes the row count and the rows as the table calls lay them out.
template <class Row> uint32_t fill(std::vector<Row>& rows, uint8_t* buffer, uint32_t* size, bool order) {
    const uint64_t needed = sizeof(uint32_t) + uint64_t{sizeof(Row)} * rows.size();
    if (needed > UINT32_MAX) {
        return TcpResult::GenFailure;
    }
    if (buffer == nullptr || *size < needed) {
        *size = static_cast<uint32_t>(needed);
        return TcpResult::InsufficientBuffer;
    }
    if (order) {
        std::sort(rows.begin(), rows.end(), rowBefore<Row>);
    }
    const auto n = static_cast<uint32_t>(rows.size());
    std::memcpy(buffer, &n, sizeof n);
    if (!rows.empty()) {
        std::memcpy(buffer + sizeof n, rows.data(), sizeof(Row) * rows.size());
    }
    *size = static_cast<uint32_t>(needed);
    return TcpResult::NoError;
}

} // namespace

// A kernel that refuses a request kind or a filter program answers EINVAL (ENOENT or EOPNOTSUPP for
// a request kind it lacks). Each refusal is found out once and remembered: both families go to one
// dump each, and a refused program leaves the filtering to takeSnapshot.
int LinuxTcpTable::dumpSockets() {
    for (;;) {
        const bool kernelFilters = !filter_.empty() && !filterRefused_;
        int error = dumpOnce(kernelFilters ? filter_ : std::vector<uint8_t>());
        if (error == EINVAL && kernelFilters) {
            error = dumpOnce({}); // the program or the request: the same request unfiltered tells
            filterRefused_ = error == 0;
        }
        const bool requestRefused = error == EINVAL || error == ENOENT || error == EOPNOTSUPP;
        if (requestRefused && bothFamiliesAtOnce_) {
            bothFamiliesAtOnce_ = false;
            continue;
        }
        return error;
    }
}

int LinuxTcpTable::dumpOnce(const std::vector<uint8_t>& filter) {
    sockets_.clear();
    if (bothFamiliesAtOnce_) {
        return dump(SockDiag::bothFamiliesDumpRequest(dumpSocket_.nextSequence(), filter), sockets_);
    }
    if (const int error = dump(SockDiag::dumpRequest(AF_INET, dumpSocket_.nextSequence(), filter), sockets_)) {
        return error;
    }
    return dump(SockDiag::dumpRequest(AF_INET6, dumpSocket_.nextSequence(), filter), sockets_);
}

bool LinuxTcpTable::onFilteredPort(const SockDiag::Socket& socket) const {
    const auto listed = [&](uint16_t port) { return std::binary_search(ports_.begin(), ports_.end(), ntohs(port)); };
    return listed(socket.sport) || listed(socket.dport);
}

int LinuxTcpTable::takeSnapshot() {
    snapshot_ = Snapshot();
    shown_.clear();
    shown6_.clear();
    holders_.reset();
    if (const int error = dumpSockets()) {
        return error;
    }
    const bool filterHere = !filter_.empty() && filterRefused_;
    for (const SockDiag::Socket& s : sockets_) {
        if (filterHere && !onFilteredPort(s)) {
            continue;
        }
        TcpRow row;
        Tcp6Row row6;
        if (SockDiag::toTcpRow(s, row)) {
            snapshot_.rows.push_back(row);
            shown_.add(row, s);
        } else if (SockDiag::toTcp6Row(s, row6)) {
            snapshot_.rows6.push_back(row6);
            shown6_.add(row6, s);
        }
    }
    snapshot_.rowsPending = true;
    snapshot_.rows6Pending = true;
    snapshot_.taken = std::chrono::steady_clock::now();
    return 0;
}

bool LinuxTcpTable::FilterPorts(const std::vector<uint16_t>& ports) {
    std::vector<uint16_t> sorted = ports;
    std::sort(sorted.begin(), sorted.end());
    // Every tick names the same ports: the program is built again only when they change.
    if (!filterBuilt_ || sorted != ports_) {
        std::vector<uint8_t> filter = filterFor_(ports);
        if (filter != filter_) {
            filter_ = std::move(filter);
            filterRefused_ = false; // a kernel may take one program and refuse another
        }
        ports_ = std::move(sorted);
        filterBuilt_ = true;
    }
    snapshot_ = Snapshot(); // a snapshot taken under another filter is not this table
    return !filter_.empty();
}

// A snapshot serves the calls right after it; one left waiting (a scan held up by a dialog) is
// taken again.
bool LinuxTcpTable::fresh(bool pending) const {
    return pending && std::chrono::steady_clock::now() - snapshot_.taken < std::chrono::seconds(1);
}

template <class Row>
uint32_t LinuxTcpTable::serve(std::vector<Row> Snapshot::*rows, bool Snapshot::*pending, uint8_t* buffer,
                              uint32_t* size, bool order) {
    if (!fresh(snapshot_.*pending)) {
        if (const int error = takeSnapshot()) {
            return resultOf(error);
        }
    }
    const uint32_t result = fill(snapshot_.*rows, buffer, size, order);
    if (result == TcpResult::NoError) {
        snapshot_.*pending = false;
    }
    return result;
}

template <class Row> uint32_t LinuxTcpTable::destroyShown(ShownSockets<Row>& shown, const Row& row, uint32_t state) {
    if (state != TcpState::DeleteTcb) {
        return TcpResult::InvalidParameter;
    }
    const SockDiag::Socket* socket = shown.find(row);
    return socket == nullptr ? TcpResult::NotFound : resultOf(destroy(*socket));
}

uint32_t LinuxTcpTable::GetTcpTable(uint8_t* buffer, uint32_t* size, bool order) {
    return serve(&Snapshot::rows, &Snapshot::rowsPending, buffer, size, order);
}

uint32_t LinuxTcpTable::SetTcpEntry(const TcpRow& row) {
    return destroyShown(shown_, row, row.dwState);
}

uint32_t LinuxTcpTable::GetTcp6Table(uint8_t* buffer, uint32_t* size, bool order) {
    return serve(&Snapshot::rows6, &Snapshot::rows6Pending, buffer, size, order);
}

uint32_t LinuxTcpTable::SetTcp6Entry(const Tcp6Row& row) {
    return destroyShown(shown6_, row, row.State);
}

namespace {

// A process names itself: anything but plain printable characters, and the record's own separators and
// brackets, is written as \xNN, so that no name can pass for another owner in the record.
std::string plainName(const std::string& name) {
    std::string plain;
    for (const unsigned char c : name) {
        if (c < 0x20 || c > 0x7e || std::strchr(";,()\\\"", c) != nullptr) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            plain += escaped;
        } else {
            plain += static_cast<char>(c);
        }
    }
    return plain;
}

// Every process's socket descriptors, by the socket's inode: "process 4242 (curl)". A process that ends
// during the walk, or whose descriptors this process may not read, is passed over.
std::unordered_map<uint32_t, std::string> socketHolders() {
    namespace fs = std::filesystem;
    std::unordered_map<uint32_t, std::string> holders;
    std::error_code error;
    for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string name;
        std::getline(std::ifstream(process.path() / "comm"), name);
        std::error_code fdError;
        for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            char target[64];
            const ssize_t length = ::readlink(fd.path().c_str(), target, sizeof target - 1);
            unsigned long inode = 0;
            if (length > 0 && (target[length] = '\0', std::sscanf(target, "socket:[%lu]", &inode) == 1)) {
                holders.emplace(static_cast<uint32_t>(inode), "process " + pid + " (" + plainName(name) + ")");
            }
        }
    }
    return holders;
}

} // namespace

std::string LinuxTcpTable::ownerOf(const SockDiag::Socket* socket) {
    if (socket == nullptr) {
        return {};
    }
    std::string owner = "uid " + std::to_string(socket->uid);
    if (socket->inode != 0) {
        if (!holders_) {
            holders_ = socketHolders();
        }
        if (const auto holder = holders_->find(socket->inode); holder != holders_->end()) {
            owner += ", " + holder->second;
        }
    }
    return owner;
}

int LinuxTcpTable::dump(const std::vector<uint8_t>& request, std::vector<SockDiag::Socket>& sockets) {
    if (const int error = dumpSocket_.open()) {
        return error;
    }
    if (const int error = dumpSocket_.send(request)) {
        return error;
    }
    buffer_.resize(ReceiveBufferSize);
    for (;;) {
        const ssize_t n = dumpSocket_.receive(buffer_);
        if (n < 0) {
            return static_cast<int>(-n);
        }
        const SockDiag::Parsed parsed = SockDiag::parseDump(buffer_.data(), static_cast<size_t>(n), sockets);
        if (parsed.status == SockDiag::Status::Done) {
            return 0;
        }
        if (parsed.status == SockDiag::Status::Failed || n == 0) {
            dumpSocket_ = DiagSocket(); // the rest of this dump must not be read as the next reply
            return parsed.error != 0 ? parsed.error : EIO;
        }
    }
}

int LinuxTcpTable::destroy(const SockDiag::Socket& socket) {
    if (const int error = destroySocket_.open()) {
        return error;
    }
    const uint32_t sequence = destroySocket_.nextSequence();
    if (const int error = destroySocket_.send(SockDiag::destroyRequest(socket, sequence))) {
        return error;
    }
    std::vector<uint8_t> reply(8192);
    const ssize_t n = destroySocket_.receive(reply);
    if (n < 0) {
        return static_cast<int>(-n);
    }
    const int error = SockDiag::parseAck(reply.data(), static_cast<size_t>(n));
    return error < 0 ? EIO : error;
}

Result LinuxTcpTable::DeletionPossible() {
    if (!mayAdministerNetwork()) {
        return Result::Failed("the program lacks the CAP_NET_ADMIN capability (run it as root, or give the program "
                              "that capability)",
                              EPERM);
    }
    // A socket that cannot exist: a kernel that can destroy sockets looks for it and does not find it;
    // one built without CONFIG_INET_DIAG_DESTROY refuses the request as such.
    SockDiag::Socket nowhere;
    nowhere.family = AF_INET;
    nowhere.cookie[0] = nowhere.cookie[1] = 0xFFFFFFFF;
    switch (const int error = destroy(nowhere)) {
    case ENOENT:
    case ESTALE:
    case 0:
        return Result::Done();
    case EOPNOTSUPP:
        return Result::Failed("this kernel cannot close connections (it was built without CONFIG_INET_DIAG_DESTROY)",
                              error);
    default:
        return Result::Errno(error, "the kernel's socket diagnostics refused a test deletion");
    }
}

TcpTable& systemTcpTable() {
    static LinuxTcpTable instance;
    return instance;
}
