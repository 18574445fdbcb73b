#include "platform/linux/NftRules.h"

#include <algorithm>
#include <charconv>

namespace NftRules {
namespace {

constexpr const char* Set = "closed";

// A TCP reset that leaves from a closed port (the one the reject itself sends back) must pass, or the
// caller's connect() would wait for its timeout instead of being refused.
std::string chain(const char* name, const char* hook) {
    std::string text = std::string("  chain ") + name + " {\n" + "    type filter hook " + hook +
                       " priority filter - 10; policy accept;\n" + "    tcp flags rst accept\n";
    for (const char* proto : {"tcp", "udp"}) {
        for (const char* end : {"dport", "sport"}) {
            text += std::string("    ") + proto + " " + end + " @" + Set + " reject" +
                    (std::string(proto) == "tcp" ? " with tcp reset" : "") + "\n";
        }
    }
    return text + "  }\n";
}

} // namespace

std::string ReplaceScript(const std::vector<uint16_t>& ports) {
    // "add" first, so that the delete finds a table also when there was none.
    std::string script = std::string("add table inet ") + Table + "\ndelete table inet " + Table + "\n";
    if (ports.empty()) {
        return script;
    }
    std::string elements;
    for (const uint16_t port : ports) {
        elements += (elements.empty() ? "" : ", ") + std::to_string(port);
    }
    script += std::string("table inet ") + Table + " {\n" + "  set " + Set +
              " {\n    type inet_service\n    elements = { " + elements + " }\n  }\n" + chain("input", "input") +
              chain("output", "output") + "}\n";
    return script;
}

std::string ListCommand() {
    return std::string("list set inet ") + Table + " " + Set;
}

std::optional<std::vector<uint16_t>> ListedPorts(std::string_view listing) {
    if (listing.find(std::string("set ") + Set) == std::string_view::npos) {
        return std::nullopt;
    }
    std::vector<uint16_t> ports;
    const size_t at = listing.find("elements = {");
    if (at == std::string_view::npos) {
        return ports; // an empty set lists no elements line
    }
    std::string_view rest = listing.substr(at + 12);
    rest = rest.substr(0, rest.find('}'));
    while (!rest.empty()) {
        const size_t digit = rest.find_first_of("0123456789");
        if (digit == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(digit);
        uint16_t port = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
        if (error != std::errc()) {
            return std::nullopt;
        }
        ports.push_back(port);
        rest.remove_prefix(static_cast<size_t>(end - rest.data()));
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

} // namespace NftRules
