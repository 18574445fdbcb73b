#pragma once

#include <optional>
#include <string>

// What the service's unit file says of the program it runs.
struct ServiceUnit {
    std::string description;
    std::string program;       // the executable's full path
    std::string programFolder; // where its settings live: the one folder it may write
    std::string user;          // the account it runs as; empty for root
    bool shipped = false;      // installed with the program, rather than written when it is registered
};

// The text of the unit file: started with the system once the clock has been set, restarted when it
// fails, and shut in to what it needs (CAP_NET_ADMIN, netlink and local sockets, its own folder).
// Nothing when the program's path holds a character that systemd refuses in a command (a quotation
// mark, a backslash, a control character).
std::optional<std::string> serviceUnitText(const ServiceUnit& unit);
