#include "settings/Journal.h"

#include "platform/Platform.h"
#include "platform/Record.h"
#include "settings/WeekSchedule.h"
#include "settings/modGlobals.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <utility>

namespace Journal {

namespace {

bool enabled = false;

using Fields = std::vector<std::pair<std::string, std::string>>;

void write(RecordKind kind, std::string message, Fields fields = {}, bool warning = false) {
    if (!enabled || platform::Slot<Record>::current == nullptr) {
        return;
    }
    platform::get<Record>().Write({kind, std::move(message), std::move(fields), warning});
}

// The source, with the user where the system said who it was.
std::string byWhom(const std::string& source, const std::string& user) {
    return user.empty() ? source : source + ", user " + user;
}

Fields sourceFields(const std::string& source, const std::string& user) {
    Fields fields{{"QW_SOURCE", source}};
    if (!user.empty()) {
        fields.emplace_back("QW_USER", user);
    }
    return fields;
}

const char* stateName(uint32_t state) {
    static constexpr const char* names[] = {"UNKNOWN",     "CLOSED",    "LISTEN",    "SYN_SENT",   "SYN_RCVD",
                                            "ESTABLISHED", "FIN_WAIT1", "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",
                                            "LAST_ACK",    "TIME_WAIT", "DELETE_TCB"};
    return state < std::size(names) ? names[state] : "UNKNOWN";
}

std::string join(const std::vector<std::string>& parts, const char* between) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : between) + part;
    }
    return text;
}

struct Settings {
    std::string password;
    std::string start;
    std::string end;
    std::vector<std::string> ports;
    bool alarm = false;
    bool block = false;
    std::array<std::string, 7> week;
    int32_t warn = 0;
};

Settings now() {
    const auto count = static_cast<std::size_t>(std::max(0, modGlobals::LastPortIndex + 1));
    std::vector<std::string> ports(modGlobals::ClosedPorts.begin(),
                                   modGlobals::ClosedPorts.begin() +
                                       static_cast<std::ptrdiff_t>(std::min(count, modGlobals::ClosedPorts.size())));
    return {modGlobals::AdminPassword, modGlobals::StartTime,   modGlobals::EndTime,  std::move(ports),
            modGlobals::AlarmRaised,   modGlobals::BlockChosen, modGlobals::WeekDays, modGlobals::WarnMinutes};
}

std::optional<Settings> known;

} // namespace

void Enable(bool on) {
    enabled = on;
}

std::string Ipv4(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

std::string Ipv6(const uint8_t (&address)[16]) {
    // The longest run of two or more zero groups is written "::".
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<unsigned>(address[2 * i] << 8 | address[2 * i + 1]);
    }
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) {
            ++j;
        }
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string text;
    char group[8];
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        std::snprintf(group, sizeof group, "%x", groups[i]);
        text += (text.empty() || text.back() == ':' ? "" : ":") + std::string(group);
    }
    return text;
}

void Closed(const std::vector<Connection>& closed) {
    if (closed.empty()) {
        return;
    }
    std::vector<std::string> listed;
    std::vector<std::string> addresses;
    std::vector<std::string> ports;
    std::vector<std::string> states;
    std::vector<std::string> owners;
    for (std::size_t i = 0; i < closed.size() && i < MostListed; ++i) {
        const Connection& c = closed[i];
        const std::string local = c.local + " port " + std::to_string(c.localPort);
        const std::string remote = c.remote + " port " + std::to_string(c.remotePort);
        listed.push_back(local + " to " + remote + " (" + stateName(c.state) + (c.owner.empty() ? "" : ", " + c.owner) +
                         ")");
        owners.push_back(c.owner);
        addresses.push_back(c.local + " " + c.remote);
        ports.push_back(std::to_string(c.localPort) + " " + std::to_string(c.remotePort));
        states.push_back(stateName(c.state));
    }
    std::string message = "Closed " + std::to_string(closed.size()) +
                          (closed.size() == 1 ? " connection: " : " connections: ") + join(listed, ", ");
    if (closed.size() > listed.size()) {
        message += " and " + std::to_string(closed.size() - listed.size()) + " more";
    }
    write(RecordKind::ConnectionsClosed, message + ".",
          {{"QW_COUNT", std::to_string(closed.size())},
           {"QW_LISTED", std::to_string(listed.size())},
           {"QW_ADDRESSES", join(addresses, ", ")},
           {"QW_PORTS", join(ports, ", ")},
           {"QW_STATES", join(states, ", ")},
           {"QW_OWNERS", join(owners, "; ")}});
}

void BlockInForce(const std::vector<uint16_t>& ports) {
    std::vector<std::string> numbers;
    for (const uint16_t port : ports) {
        numbers.push_back(std::to_string(port));
    }
    write(RecordKind::BlockInForce, "New connections on ports " + join(numbers, ", ") + " are refused.",
          {{"QW_PORTS", join(numbers, " ")}});
}

void BlockLifted() {
    write(RecordKind::BlockLifted, "New connections are no longer refused.");
}

void AlarmRaised(const std::string& cause, const std::string& user) {
    known.reset(); // the alarm is stored with the settings, and nobody's change
    write(RecordKind::AlarmRaised, "The clock-change alarm was raised: " + byWhom(cause, user) + ".",
          sourceFields(cause, user), true);
    SettingsKnown();
}

void SettingsKnown() {
    known = now();
}

void SettingsChanged(const std::string& source, const std::string& user) {
    const Settings after = now();
    if (!known) {
        known = after;
        return;
    }
    const Settings before = *std::exchange(known, after);
    const auto changed = [&](const char* setting, const std::string& was, const std::string& is) {
        Fields fields = sourceFields(source, user);
        fields.emplace_back("QW_SETTING", setting);
        std::string message = std::string("The setting ") + setting + " was changed";
        if (std::string(setting) != "password") {
            fields.emplace_back("QW_VALUE", is);
            message += " from \"" + was + "\" to \"" + is + "\"";
        }
        write(RecordKind::SettingChanged, message + " (" + byWhom(source, user) + ").", fields);
    };
    if (before.password != after.password) {
        changed("password", {}, {});
    }
    if (before.start != after.start) {
        changed("start", before.start, after.start);
    }
    if (before.end != after.end) {
        changed("end", before.end, after.end);
    }
    if (before.ports != after.ports) {
        changed("closed ports", join(before.ports, "; "), join(after.ports, "; "));
    }
    // A day's own windows, "closed", or the daily window again ("daily").
    const auto rule = [](const std::string& kept) { return kept.empty() ? std::string("daily") : kept; };
    for (std::size_t day = 0; day < after.week.size(); ++day) {
        if (before.week[day] != after.week[day]) {
            changed(DayNames[day], rule(before.week[day]), rule(after.week[day]));
        }
    }
    if (before.warn != after.warn) {
        changed("warning minutes", std::to_string(before.warn), std::to_string(after.warn));
    }
    if (before.block != after.block) {
        changed("block", before.block ? "on" : "off", after.block ? "on" : "off");
    }
    if (before.alarm && !after.alarm) {
        write(RecordKind::AlarmCleared, "The clock-change alarm was reset (" + byWhom(source, user) + ").",
              sourceFields(source, user));
    } else if (!before.alarm && after.alarm) {
        changed("alarm", "off", "on");
    }
}

void WrongPassword(const std::string& source, const std::string& user) {
    write(RecordKind::WrongPassword, "A wrong password was given (" + byWhom(source, user) + ").",
          sourceFields(source, user), true);
}

void Started(uint32_t process) {
    write(RecordKind::Started, "Quietwire started enforcing the curfew (process " + std::to_string(process) + ").",
          {{"QW_PROCESS", std::to_string(process)}});
}

void Ended() {
    write(RecordKind::Ended, "Quietwire stopped enforcing the curfew.");
}

void StepFailing(const std::string& step, const std::string& error) {
    write(RecordKind::StepFailing, "The step \"" + step + "\" of the enforcement tick fails: " + error,
          {{"QW_STEP", step}, {"QW_ERROR", error}}, true);
}

void StepRecovered(const std::string& step) {
    write(RecordKind::StepRecovered, "The step \"" + step + "\" of the enforcement tick works again.",
          {{"QW_STEP", step}});
}

} // namespace Journal
