#include "platform/WfpFilterSet.h"

#include <algorithm>

namespace WfpFilterSet {

std::vector<Filter> Filters(const std::vector<uint16_t>& ports) {
    std::vector<Filter> filters;
    if (ports.empty()) {
        return filters;
    }
    const struct {
        Layer layer;
        const char* name;
    } layers[] = {{Layer::AuthConnectV4, "connect IPv4"},
                  {Layer::AuthConnectV6, "connect IPv6"},
                  {Layer::AuthRecvAcceptV4, "accept IPv4"},
                  {Layer::AuthRecvAcceptV6, "accept IPv6"}};
    for (const auto& [layer, layerName] : layers) {
        for (const uint16_t protocol : {ProtocolTcp, ProtocolUdp}) {
            for (const Field end : {Field::IpLocalPort, Field::IpRemotePort}) {
                Filter filter{.name = std::string("Quietwire closed ports: ") + layerName +
                                      (protocol == ProtocolTcp ? " TCP" : " UDP") +
                                      (end == Field::IpLocalPort ? " local" : " remote"),
                              .layer = layer,
                              .conditions = {{Field::IpProtocol, protocol}}};
                for (const uint16_t port : ports) {
                    filter.conditions.push_back({end, port});
                }
                filters.push_back(std::move(filter));
            }
        }
    }
    return filters;
}

std::vector<uint16_t> PortsOf(const std::vector<Filter>& filters) {
    std::vector<uint16_t> ports;
    for (const Filter& filter : filters) {
        for (const Condition& condition : filter.conditions) {
            if (condition.field != Field::IpProtocol) {
                ports.push_back(condition.value);
            }
        }
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

} // namespace WfpFilterSet
