#pragma once

#include "platform/TcpTable.h"
#include "settings/Journal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The port number of a closed-port entry: the text before its first comma, a decimal number with
// blanks around it and an optional sign. Nothing when that text is not such a number within 32 bits.
std::optional<int32_t> ClosedPortNumber(const std::string& entry);

// The closed ports that a connection can match, in list order: the numbers 0..65535 among the entries
// of modGlobals::ClosedPorts.
std::vector<uint16_t> ClosedPortsInRange();

// The scan of the machine's TCP connection table that deletes every connection whose local or
// remote port is on the closed-port list (modGlobals::ClosedPorts), sparing LISTEN and TIME_WAIT.
class ConnectionScan {
public:
    // One complete scan. A scan asked for while one runs (from an event handled during the table
    // copy) is skipped. Fails with an AppError when the table cannot be read; deletions already
    // requested stand.
    void CheckPorts();
    // Asks for the deletion of row `index` (from 1) of TcpRows. The platform's answer is not looked at.
    void KillConn(int32_t index);
    // The port number 0..65535 of a row's port field; fails with error 6 above 65535.
    static int32_t GetPortNumber(uint32_t portField);

    // The rows of the last successful table read; row k is TcpRows()[k - 1].
    const std::vector<TcpRow>& TcpRows() const { return tcpRows_; }

private:
    bool readTcpTable();
    void scanTcp6Table();
    void KillConn6(const Tcp6Row& row);

    std::vector<TcpRow> tcpRows_;
    std::vector<Journal::Connection> closed_; // by the scan under way
    bool readOnce_ = false;                   // a table read has succeeded, so TcpRows can stand in for a failed one
    bool scanning_ = false;
};
