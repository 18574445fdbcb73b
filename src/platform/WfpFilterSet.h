#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The in-line block as the Windows Filtering Platform holds it, as plain data: the filters the Windows
// build adds in one transaction, in a sublayer of the program's own. Conditions on the same field
// match when any of them does; conditions on different fields must all match (the platform's rule).
namespace WfpFilterSet {

enum class Layer { AuthConnectV4, AuthConnectV6, AuthRecvAcceptV4, AuthRecvAcceptV6 };
enum class Field { IpProtocol, IpLocalPort, IpRemotePort };

struct Condition {
    Field field;
    uint16_t value; // equal to
    bool operator==(const Condition&) const = default;
};

struct Filter {
    std::string name;
    Layer layer;
    std::vector<Condition> conditions;
    bool block = true;      // the action; nothing here permits
    bool persistent = true; // kept by the system across the program's end and a restart
    uint8_t weight = 15;    // the highest within the sublayer
    bool operator==(const Filter&) const = default;
};

inline constexpr uint16_t ProtocolTcp = 6;
inline constexpr uint16_t ProtocolUdp = 17;
// Above the sublayers of the system's own firewall, so no permit there lets a closed port through.
inline constexpr uint16_t SublayerWeight = 0xFFFF;

// The filters that refuse TCP and UDP on `ports` (local or remote), outgoing connects and incoming
// accepts, IPv4 and IPv6; none for no ports.
std::vector<Filter> Filters(const std::vector<uint16_t>& ports);

// The ports that filters of the program's sublayer refuse, sorted, each once.
std::vector<uint16_t> PortsOf(const std::vector<Filter>& filters);

} // namespace WfpFilterSet
