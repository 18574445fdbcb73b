#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The in-line block as nftables sees it: a table of the program's own (family inet, so IPv4 and IPv6
// alike) with a set of the closed ports and one chain on each of the input and output hooks.
namespace NftRules {

inline constexpr const char* Table = "quietwire";

// The one transaction that makes the table refuse exactly `ports`: the old table (if any) deleted and
// the new one added in the same batch, so no packet ever meets half a rule set. No ports: the table
// is only deleted.
std::string ReplaceScript(const std::vector<uint16_t>& ports);

// The command that lists the program's table.
std::string ListCommand();

// The ports the listed table refuses ("elements = { 21, 2525 }"), sorted; an empty set gives none.
// Nothing when the text is not such a listing or its chains lack any of the program's rules (another
// program flushed a chain): such a table refuses less than it seems to.
std::optional<std::vector<uint16_t>> ListedPorts(std::string_view listing);

} // namespace NftRules
