#include "admin/QuietwirectlOutput.h"

#include "settings/WeekSchedule.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace Quietwirectl {

namespace {

using Json = nlohmann::ordered_json; // keys in the order they have always come, not sorted

// ASCII alone, every other character escaped: a script reads the same characters whatever code page its
// console decodes the output with (a Windows console's is seldom UTF-8).
std::string dumped(const Json& object) {
    return object.dump(-1, ' ', true) + "\n";
}

// Text as the characters it holds: UTF-8 as it is (a Linux entry; the ASCII of either system), other text
// (the ANSI code page of Windows) byte by byte as Latin-1 characters. dump() judges what is UTF-8, so that
// the whole object's dump cannot fail on it.
Json text(const std::string& bytes) {
    try {
        static_cast<void>(Json(bytes).dump());
        return bytes;
    } catch (const Json::type_error&) {
        std::string utf8;
        for (const char c : bytes) {
            const auto code = static_cast<unsigned char>(c);
            utf8 += code < 0x80 ? std::string(1, c) : std::string{char(0xc0 | code >> 6), char(0x80 | (code & 0x3f))};
        }
        return utf8;
    }
}

template <class Value> Json orNull(const std::optional<Value>& value) {
    return value ? Json(*value) : Json();
}

std::string joined(const RulesInForce& rules, const char* separator) {
    std::string list;
    for (const uint16_t port : rules.value_or(std::vector<uint16_t>{})) {
        list += (list.empty() ? "" : separator) + std::to_string(port);
    }
    return list;
}

std::string rulesText(const RulesInForce& rules) {
    return !rules ? "cannot tell" : rules->empty() ? "none in force" : "in force on " + joined(rules, ", ");
}

const char* reasonName(CurfewReason reason) {
    return CurfewReasonName(reason);
}

std::string reasonText(const Facts& facts) {
    const std::string window = windowText(facts.start, facts.end);
    if (!facts.next.empty() && facts.curfew != CurfewReason::AlarmRaised) {
        return facts.next; // the week's days decide: "closed until Saturday 08:00"
    }
    switch (facts.curfew) {
    case CurfewReason::AlarmRaised:
        return "blocked at all hours: the clock was changed (an administrator resets the alarm)";
    case CurfewReason::OutsideWindow:
        return "blocked: outside the window, open from " + window;
    case CurfewReason::InsideWindow:
        return "open: inside the window, " + window;
    case CurfewReason::NoWindow:
        return facts.start.empty() && facts.end.empty() ? std::string("open: no window set")
                                                        : "open: the window (" + window + ") is not a time of day";
    }
    return "";
}

// The days with a rule of their own, one a line; nothing when none has one (the daily window says it all).
std::string weekText(const std::array<std::string, 7>& week) {
    if (std::all_of(week.begin(), week.end(), [](const std::string& day) { return day.empty(); })) {
        return "";
    }
    std::string text = "\nWeek:";
    for (size_t day = 0; day < week.size(); ++day) {
        const std::string& rule = week[day];
        text += std::string("\n  ") + DayNames[day] + ": " +
                (rule.empty()       ? "as every day"
                 : rule == "closed" ? "closed all day"
                                    : "open " + rule);
    }
    return text;
}

// Every day by its name: "daily", "closed", or its windows as a list.
Json weekJson(const std::array<std::string, 7>& week) {
    Json days = Json::object();
    for (size_t day = 0; day < week.size(); ++day) {
        const std::string& rule = week[day];
        if (rule.empty() || rule == "closed") {
            days[DayNames[day]] = rule.empty() ? "daily" : "closed";
            continue;
        }
        Json windows = Json::array();
        for (size_t from = 0; from <= rule.size();) {
            const size_t comma = rule.find(',', from);
            windows.push_back(rule.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
            from = comma == std::string::npos ? rule.size() + 1 : comma + 1;
        }
        days[DayNames[day]] = windows;
    }
    return days;
}

// "process 7", "processes 7 and 9", "processes 7, 9 and 12".
std::string processList(const std::vector<uint32_t>& ids) {
    std::string text = ids.size() == 1 ? "process " : "processes ";
    for (size_t i = 0; i < ids.size(); ++i) {
        text += std::string(i == 0 ? "" : i + 1 == ids.size() ? " and " : ", ") + std::to_string(ids[i]);
    }
    return text;
}

std::string copyLine(const ProgramCopy& copy) {
    std::string line = "  process " + std::to_string(copy.processId) + " (" +
                       (copy.user.empty() ? std::string("user unknown") : copy.user) + ")" +
                       (copy.knownByNameOnly ? ", known by its name only: " : ": ");
    line += copy.mayClose == true         ? "can close connections"
            : copy.otherNamespace == true ? "cannot close connections here (it runs in another namespace)"
            : copy.mayClose == false      ? "cannot close connections"
                                          : "cannot tell whether it can close connections";
    line += copy.stopped == true    ? ", stopped"
            : copy.stopped == false ? ", running"
                                    : ", cannot tell whether it is running or stopped";
    return line + "\n";
}

Json copyJson(const ProgramCopy& copy) {
    return {{"pid", copy.processId},
            {"user", copy.user.empty() ? Json() : text(copy.user)},
            {"knownByNameOnly", copy.knownByNameOnly},
            {"canCloseConnections", orNull(copy.mayClose)},
            {"otherNamespace", orNull(copy.otherNamespace)},
            {"stopped", orNull(copy.stopped)}};
}

struct Closing {
    std::optional<bool> closing; // nothing: this user cannot tell
    std::string text;
};

// Whether connections on closed ports are being closed: yes once one running copy has the right, whatever
// the others lack (any user can start a copy without it).
Closing closingNow(const std::vector<ProgramCopy>& copies, const std::string& cannotHere) {
    std::vector<uint32_t> closers;
    std::vector<uint32_t> stoppedClosers;
    std::vector<uint32_t> unseen;
    size_t closersInUnknownState = 0;
    for (const ProgramCopy& copy : copies) {
        if (copy.mayClose == true && copy.stopped == true) {
            stoppedClosers.push_back(copy.processId);
        } else if (copy.mayClose == true) {
            closers.push_back(copy.processId);
            closersInUnknownState += copy.stopped ? 0 : 1;
        } else if (!copy.mayClose && copy.stopped != true) {
            unseen.push_back(copy.processId);
        }
    }
    if (!closers.empty() && !cannotHere.empty()) {
        return {std::nullopt, "cannot tell: " + processList(closers) + (closers.size() == 1 ? " has" : " have") +
                                  " the right, but this user cannot check the rest (" + oneLine(cannotHere) + ")"};
    }
    if (!closers.empty()) {
        const std::string unless = closersInUnknownState < closers.size() ? ""
                                   : closers.size() == 1 ? " (unless it is stopped, which cannot be told here)"
                                                         : " (unless they are stopped, which cannot be told here)";
        return {true, "yes, by " + processList(closers) + unless};
    }
    if (!unseen.empty()) {
        return {std::nullopt, "cannot tell: this user cannot see whether " + processList(unseen) +
                                  " may close them (run status as root or as an administrator)"};
    }
    if (copies.empty()) {
        return {false, "no: the program is not running" + (cannotHere.empty() ? "" : "; " + oneLine(cannotHere))};
    }
    if (!stoppedClosers.empty()) {
        return {false, "no: " + processList(stoppedClosers) + ", which can close them, " +
                           (stoppedClosers.size() == 1 ? "is" : "are") + " stopped"};
    }
    return {false, "no: no running copy has the right to close other programs' connections"};
}

std::string entriesText(size_t entries) {
    return std::to_string(entries) + (entries == 1 ? " entry" : " entries");
}

std::string programText(size_t copies, size_t stopped) {
    if (copies == 0) {
        return "not running";
    }
    if (stopped == copies) {
        return copies == 1 ? "stopped" : "stopped (" + std::to_string(copies) + " copies)";
    }
    if (copies == 1) {
        return "running";
    }
    return "running (" + std::to_string(copies) + " copies" +
           (stopped > 0 ? ", " + std::to_string(stopped) + " stopped" : std::string()) + ")";
}

// What status concludes from what it found, the same in text and in JSON.
struct Verdict {
    size_t stopped = 0;
    bool enforcing = false; // a stopped copy blocks nothing
    // A copy that was killed leaves the block's rules in force: the ports stay closed with no copy running.
    bool leftInForce = false;
    const char* ports = "";
    const char* reason = "";
    Closing closing;
};

Verdict verdict(const Facts& facts) {
    Verdict v;
    v.stopped = static_cast<size_t>(std::count_if(facts.copies.begin(), facts.copies.end(),
                                                  [](const ProgramCopy& copy) { return copy.stopped == true; }));
    v.enforcing = v.stopped < facts.copies.size();
    const bool known = facts.settingsRead;
    v.leftInForce = known && !v.enforcing && facts.rulesInForce && !facts.rulesInForce->empty();
    v.ports = !known ? "unknown" : (v.enforcing && PortsBlocked(facts.curfew)) || v.leftInForce ? "blocked" : "open";
    v.reason = !known                 ? "settings-unreadable"
               : v.enforcing          ? reasonName(facts.curfew)
               : v.leftInForce        ? "block-left-in-force"
               : facts.copies.empty() ? "not-running"
                                      : "stopped";
    v.closing = closingNow(facts.copies, facts.cannotCloseHere);
    return v;
}

} // namespace

std::string minutesText(int minutes) {
    return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
}

std::string windowText(const std::string& start, const std::string& end) {
    return start + " to " + end;
}

std::string statusText(const Facts& facts) {
    const Verdict v = verdict(facts);
    const bool known = facts.settingsRead;
    std::string copyLines;
    for (const ProgramCopy& copy : facts.copies) {
        copyLines += copyLine(copy);
    }
    // The service's own store is as hidden as settings.ini where both are root's alone.
    const std::string asService =
        !known ? std::string("cannot tell whether it is registered (the settings cannot be read), ") +
                     (facts.serviceRunning ? "running" : "not running")
        : !facts.serviceRegistered ? "not registered"
        : facts.serviceRunning     ? "registered, running"
                                   : "registered, not running";
    const std::string entries = entriesText(facts.entries.size());
    const char* notRunning = facts.copies.empty() ? "not running" : "stopped";
    const std::string portsText =
        !known          ? "Closed ports: cannot tell: the settings cannot be read"
        : v.enforcing   ? "Closed ports (" + entries + "): " + reasonText(facts)
        : v.leftInForce ? "Closed ports (" + entries +
                              "): blocked by the in-line block's rules a copy left in force, though the program is " +
                              notRunning + " (quietwirectl set-block off lifts them)"
                        : "Closed ports (" + entries + "): open: the program is " + notRunning +
                              " (while it runs: " + reasonText(facts) + ")";
    const char* chosen = !known ? "cannot tell whether it is chosen" : facts.blockChosen ? "chosen" : "not chosen";
    return "Program: " + programText(facts.copies.size(), v.stopped) + "\n" + copyLines + "Service: " + asService +
           "\n" + portsText + "\nClosing connections: " + v.closing.text + "\nIn-line block: " + chosen + "; rules " +
           rulesText(facts.rulesInForce) + "\n";
}

// What the text cannot tell is null, never a false that reads as an answer.
std::string statusJson(const Facts& facts) {
    const Verdict v = verdict(facts);
    const auto known = [&facts](Json value) { return facts.settingsRead ? std::move(value) : Json(); };
    Json processes = Json::array();
    for (const ProgramCopy& copy : facts.copies) {
        processes.push_back(copyJson(copy));
    }
    const Json status = {
        {"running", v.enforcing},
        {"copies", facts.copies.size()},
        {"processes", processes},
        {"service", {{"registered", known(facts.serviceRegistered)}, {"running", facts.serviceRunning}}},
        {"ports", v.ports},
        {"reason", v.reason},
        {"curfew", known(reasonName(facts.curfew))},
        {"start", known(text(facts.start))},
        {"end", known(text(facts.end))},
        {"alarm", known(facts.alarm)},
        {"closedPortEntries", known(facts.entries.size())},
        {"canCloseConnections", orNull(v.closing.closing)},
        {"closing", text(v.closing.text)},
        {"block", {{"chosen", known(facts.blockChosen)}, {"rulesInForce", orNull(facts.rulesInForce)}}},
    };
    return dumped(status);
}

std::string showText(const Facts& facts) {
    std::string text =
        "Window: " +
        (facts.start.empty() && facts.end.empty() ? std::string("none set")
                                                  : "open from " + windowText(facts.start, facts.end)) +
        weekText(facts.week) +
        (facts.warn > 0 ? "\nWarning: " + minutesText(facts.warn) + " before the ports close" : std::string()) +
        "\nAlarm: " + (facts.alarm ? "raised" : "not raised") +
        "\nService: " + (facts.serviceRegistered ? "registered" : "not registered") +
        "\nIn-line block: " + (facts.blockChosen ? "on" : "off") + " (rules " + rulesText(facts.rulesInForce) +
        ")\nClosed ports:" + (facts.entries.empty() ? " none" : "") + "\n";
    for (const std::string& entry : facts.entries) {
        text += "  " + entry + "\n";
    }
    return text;
}

std::string showJson(const Facts& facts) {
    Json entries = Json::array();
    for (const std::string& entry : facts.entries) {
        entries.push_back(text(entry));
    }
    Json shown = {
        {"start", text(facts.start)},
        {"end", text(facts.end)},
        {"closedPorts", entries},
        {"alarm", facts.alarm},
        {"serviceRegistered", facts.serviceRegistered},
        {"block", facts.blockChosen},
        {"blockRulesInForce", orNull(facts.rulesInForce)},
    };
    if (facts.warn > 0) {
        shown["warningMinutes"] = facts.warn;
    }
    // As the text: a file that never had a week answers as it always did.
    if (std::any_of(facts.week.begin(), facts.week.end(), [](const std::string& day) { return !day.empty(); })) {
        shown["week"] = weekJson(facts.week);
    }
    return dumped(shown);
}

} // namespace Quietwirectl
