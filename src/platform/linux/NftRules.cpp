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
    return std::string("list table inet ") + Table;
}

namespace {

std::string_view trimmed(std::string_view line) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string_view> nonBlankLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (const std::string_view line = trimmed(text.substr(0, end)); !line.empty()) {
            lines.push_back(line);
        }
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

// nftables lists a rule as it was given, so each chain must read back line for line.
bool holdsChain(const std::vector<std::string_view>& listed, const std::string& chainText) {
    const std::vector<std::string_view> wanted = nonBlankLines(chainText);
    return std::search(listed.begin(), listed.end(), wanted.begin(), wanted.end()) != listed.end();
}

} // namespace

std::optional<std::vector<uint16_t>> ListedPorts(std::string_view listing) {
    const std::vector<std::string_view> lines = nonBlankLines(listing);
    if (listing.find(std::string("set ") + Set) == std::string_view::npos ||
        !holdsChain(lines, chain("input", "input")) || !holdsChain(lines, chain("output", "output"))) {
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
