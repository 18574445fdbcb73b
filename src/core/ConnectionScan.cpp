#include "core/ConnectionScan.h"

#include "core/modWinsock.h"
#include "platform/ModalGate.h"
#include "platform/Platform.h"
#include "platform/Windowing.h"
#include "settings/AppError.h"
#include "settings/Journal.h"
#include "settings/modGlobals.h"

#include <cstring>
#include <limits>

namespace {

constexpr const char* NotSupportedMessage = "IP Helper is not supported by this system.";

[[noreturn]] void subscriptOutOfRange() {
    throw AppError(ErrorNumber::SubscriptOutOfRange, AppTitle, "Subscript out of range");
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The row count at the head of a table; nothing when the buffer is too short to hold one.
std::optional<uint32_t> readCount(const std::vector<uint8_t>& buffer) {
    uint32_t n = 0;
    if (buffer.size() < sizeof n) {
        return std::nullopt;
    }
    std::memcpy(&n, buffer.data(), sizeof n);
    return n;
}

// Copies n rows that follow the row count, letting pending events run before each row. A handler run
// there that would open a menu or a box waits until the copy is done (ModalGate).
template <class Row> std::vector<Row> copyRows(const std::vector<uint8_t>& buffer, uint32_t n) {
    Windowing& windowing = platform::get<Windowing>();
    ModalGate::Hold hold;
    std::vector<Row> rows(n);
    for (uint32_t k = 0; k < n; ++k) {
        windowing.DoEvents();
        std::memcpy(&rows[k], buffer.data() + sizeof(uint32_t) + sizeof(Row) * k, sizeof(Row));
    }
    return rows;
}

template <class Row> bool rowsFit(const std::vector<uint8_t>& buffer, uint32_t n) {
    return (buffer.size() - sizeof(uint32_t)) / sizeof(Row) >= n; // the count is known to be there
}

// The closed ports as numbers; an entry that is not a number never matches.
std::vector<std::optional<int32_t>> closedPortNumbers() {
    std::vector<std::optional<int32_t>> numbers;
    for (int32_t j = 0; j <= modGlobals::LastPortIndex; ++j) {
        if (static_cast<size_t>(j) >= modGlobals::ClosedPorts.size()) {
            subscriptOutOfRange();
        }
        numbers.push_back(ClosedPortNumber(modGlobals::ClosedPorts[static_cast<size_t>(j)]));
    }
    return numbers;
}

bool spared(uint32_t state) {
    return state == TcpState::TimeWait || state == TcpState::Listen;
}

// Calls kill once for each closed entry that matches the row's local or remote port, in list order.
template <class Row, class Kill>
void matchRow(const Row& row, uint32_t state, const std::vector<std::optional<int32_t>>& closed, Kill kill) {
    if (closed.empty()) {
        return;
    }
    const int32_t local = ConnectionScan::GetPortNumber(row.dwLocalPort);
    const int32_t remote = ConnectionScan::GetPortNumber(row.dwRemotePort);
    for (const std::optional<int32_t>& port : closed) {
        if (port && (*port == local || *port == remote) && !spared(state)) {
            kill();
        }
    }
}

class ScanGuard {
public:
    explicit ScanGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~ScanGuard() { flag_ = false; }
    ScanGuard(const ScanGuard&) = delete;
    ScanGuard& operator=(const ScanGuard&) = delete;

private:
    bool& flag_;
};

} // namespace

std::optional<int32_t> ClosedPortNumber(const std::string& entry) {
    std::string_view text(entry);
    text = text.substr(0, text.find(','));
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::vector<uint16_t> ClosedPortsInRange() {
    std::vector<uint16_t> ports;
    for (int32_t j = 0; j <= modGlobals::LastPortIndex && static_cast<size_t>(j) < modGlobals::ClosedPorts.size();
         ++j) {
        const std::optional<int32_t> port = ClosedPortNumber(modGlobals::ClosedPorts[static_cast<size_t>(j)]);
        if (port && *port >= 0 && *port <= 65535) {
            ports.push_back(static_cast<uint16_t>(*port));
        }
    }
    return ports;
}

int32_t ConnectionScan::GetPortNumber(uint32_t portField) {
    using namespace modWinsock;
    return IntegerToUnsigned(NetworkToHostShort(UnsignedToInteger(portField)));
}

void ConnectionScan::KillConn(int32_t index) {
    if (index < 1 || static_cast<size_t>(index) > tcpRows_.size()) {
        subscriptOutOfRange();
    }
    TcpRow row = tcpRows_[static_cast<size_t>(index) - 1];
    row.dwState = TcpState::DeleteTcb;
    TcpTable& table = platform::get<TcpTable>();
    // Asked before the deletion, which may make its process let go of it; only for the entries listed.
    const std::string owner = closed_.size() < Journal::MostListed ? table.Owner(row) : std::string();
    if (table.SetTcpEntry(row) == TcpResult::NoError) {
        const TcpRow& was = tcpRows_[static_cast<size_t>(index) - 1];
        closed_.push_back({Journal::Ipv4(was.dwLocalAddr), GetPortNumber(was.dwLocalPort),
                           Journal::Ipv4(was.dwRemoteAddr), GetPortNumber(was.dwRemotePort), was.dwState, owner});
    }
}

void ConnectionScan::KillConn6(const Tcp6Row& original) {
    Tcp6Row row = original;
    row.State = TcpState::DeleteTcb;
    TcpTable& table = platform::get<TcpTable>();
    const std::string owner = closed_.size() < Journal::MostListed ? table.Owner6(row) : std::string();
    if (table.SetTcp6Entry(row) == TcpResult::NoError) {
        closed_.push_back({Journal::Ipv6(original.LocalAddr), GetPortNumber(original.dwLocalPort),
                           Journal::Ipv6(original.RemoteAddr), GetPortNumber(original.dwRemotePort), original.State,
                           owner});
    }
}

// Reads the IPv4 table into TcpRows. False when the scan is to end quietly (not supported, after its
// message); an AppError when it is to end with an error; true to go on with TcpRows.
bool ConnectionScan::readTcpTable() {
    TcpTable& table = platform::get<TcpTable>();
    // Only rows on a closed port can be deleted, so the system may leave the others out of the
    // table, which makes a scan of a busy machine many times cheaper.
    const bool filtered = table.FilterPorts(ClosedPortsInRange());
    uint32_t size = 0;
    if (table.GetTcpTable(nullptr, &size, false) == TcpResult::NotSupported) {
        platform::get<Windowing>().MsgBox(NotSupportedMessage, MsgBoxIcon::None, AppTitle);
        return false;
    }
    if (size == 0) {
        subscriptOutOfRange();
    }
    std::vector<uint8_t> buffer(size);
    if (table.GetTcpTable(buffer.data(), &size, false) == TcpResult::NoError) {
        const std::optional<uint32_t> n = readCount(buffer);
        // Checked before TcpRows is touched, so that a bad read never replaces the last good one. A
        // filtered table with no rows is no fault: no connection is on a closed port.
        if (!n || (*n == 0 && !filtered) || !rowsFit<TcpRow>(buffer, *n)) {
            subscriptOutOfRange();
        }
        tcpRows_ = copyRows<TcpRow>(buffer, *n);
        readOnce_ = true;
    } else if (!readOnce_) {
        subscriptOutOfRange(); // never read successfully: nothing to fall back on
    }
    return true;
}

void ConnectionScan::scanTcp6Table() {
    // The IPv6 table is read without the IPv4 table's messages and fallbacks: where it cannot be read,
    // its connections are simply not scanned this time.
    TcpTable& table = platform::get<TcpTable>();
    uint32_t size = 0;
    const uint32_t first = table.GetTcp6Table(nullptr, &size, false);
    if ((first != TcpResult::InsufficientBuffer && first != TcpResult::NoError) || size < sizeof(uint32_t)) {
        return;
    }
    std::vector<uint8_t> buffer(size);
    if (table.GetTcp6Table(buffer.data(), &size, false) != TcpResult::NoError) {
        return;
    }
    const std::optional<uint32_t> n = readCount(buffer);
    if (!n || !rowsFit<Tcp6Row>(buffer, *n)) {
        return;
    }
    const std::vector<Tcp6Row> rows = copyRows<Tcp6Row>(buffer, *n);
    const std::vector<std::optional<int32_t>> closed = closedPortNumbers(); // may have changed during the copy
    for (const Tcp6Row& row : rows) {
        matchRow(row, row.State, closed, [&] { KillConn6(row); });
    }
}

void ConnectionScan::CheckPorts() {
    if (scanning_) {
        return; // TcpRows must not change under a scan that is iterating over it
    }
    ScanGuard guard(scanning_);
    // One entry for the whole scan, however many it closed, and even when a table failed halfway.
    closed_.clear();
    const struct Told {
        std::vector<Journal::Connection>& closed;
        ~Told() { Journal::Closed(closed); }
    } told{closed_};
    bool readIPv4 = false;
    try {
        readIPv4 = readTcpTable();
    } catch (const AppError&) {
        // The IPv4 table's error is the IPv4 scan's alone: IPv6 connections are closed all the same.
        scanTcp6Table();
        throw;
    }
    if (!readIPv4) {
        return;
    }
    const std::vector<std::optional<int32_t>> closed = closedPortNumbers();
    for (size_t i = 1; i <= tcpRows_.size(); ++i) {
        matchRow(tcpRows_[i - 1], tcpRows_[i - 1].dwState, closed, [&] { KillConn(static_cast<int32_t>(i)); });
    }
    scanTcp6Table();
}
