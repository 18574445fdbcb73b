#include "admin/Quietwirectl.h"

#include "admin/Administration.h"
#include "platform/PacketFilter.h"
#include "platform/Platform.h"
#include "platform/ProgramProcesses.h"
#include "platform/ServiceControl.h"
#include "platform/TcpTable.h"
#include "platform/Terminal.h"
#include "service/ServiceHost.h"
#include "settings/CurfewWindow.h"
#include "settings/VtkModule.h"
#include "settings/modGlobals.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace Quietwirectl {

namespace {

// Ends a command with its exit status and one line for standard error.
struct Refusal : std::runtime_error {
    Refusal(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

[[noreturn]] void fail(const std::string& message) {
    throw Refusal(Failure, message);
}

[[noreturn]] void usage(const std::string& message) {
    throw Refusal(Usage, message + " (quietwirectl --help)");
}

Terminal& terminal() {
    return platform::get<Terminal>();
}

// A script that reads the output must not take a failed write for an empty answer.
void say(const std::string& text) {
    if (!terminal().Out(text)) {
        fail("Could not write to standard output.");
    }
}

// The dialog's messages are made for a box; a console shows each on one line.
std::string oneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            if (!line.empty() && line.back() != ' ') {
                line += ' ';
            }
        } else {
            line += c;
        }
    }
    return line;
}

struct Options {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> passwordFile;
    std::optional<std::string> newPasswordFile;
    bool json = false;
    bool force = false;
    bool help = false;
};

struct Command {
    const char* name = "";
    const char* synopsis = ""; // operands and options
    const char* summary = "";
    size_t operands = 0;
    bool administrator = false; // asks for the administrator password
    bool json = false;          // takes --json
    bool force = false;         // takes --force
    void (*run)(const Options&) = nullptr;
};

// ---- settings ----

// The settings afresh, as the program's start-up reads them; why they could not be read, or nothing.
std::string loadFresh() {
    modGlobals::LastPortIndex = -1;
    modGlobals::ClosedPorts.clear();
    return oneLine(modGlobals::LoadSettings().reason());
}

void load() {
    if (const std::string problem = loadFresh(); !problem.empty()) {
        fail(problem);
    }
}

void save() {
    const Result saved = modGlobals::SaveSettings();
    if (!saved) {
        fail(oneLine(modGlobals::SaveFailureMessage(saved)));
    }
}

// ---- passwords ----

// The first line of a file ("-": of standard input), without its line end; blanks are part of it.
std::string passwordFrom(const std::string& file) {
    if (file == "-") {
        const std::optional<std::string> line = terminal().ReadLine();
        if (!line) {
            fail("No password on standard input.");
        }
        return *line;
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(file, ignored)) {
        fail("Could not read " + file + ": it is a folder.");
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fail("Could not read " + file + ": " + std::strerror(errno));
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::string askSecret(const std::string& prompt) {
    const std::optional<std::string> typed = terminal().ReadSecret(prompt);
    if (!typed) {
        fail("No password given: there is no terminal to ask on, or its input ended. Give it with --password-file "
             "FILE (- for standard input).");
    }
    return *typed;
}

// The password first, the settings after: a command changes what the file holds once the password is
// in, not what it held while someone was typing (another change, or an alarm the program raised).
std::string typedPassword(const Options& options) {
    return options.passwordFile ? passwordFrom(*options.passwordFile) : askSecret("Password: ");
}

void loadChecked(const std::string& typed) {
    const auto wait = [](int milliseconds) { terminal().Wait(milliseconds); };
    if (!Administration::CheckPassword(typed, wait, load)) {
        fail(Administration::InvalidPassword);
    }
}

void loadAsAdministrator(const Options& options) {
    loadChecked(typedPassword(options));
}

// ---- output ----

// True for text that is well-formed UTF-8 (a Linux entry; the ASCII of either system).
bool utf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x6  ? 2
                              : (lead >> 4) == 0xe  ? 3
                              : (lead >> 3) == 0x1e ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// UTF-8 text as it is; other text (the ANSI code page of Windows) byte by byte as Latin-1 characters.
std::string jsonString(const std::string& text) {
    const bool asIs = utf8(text);
    std::string out = "\"";
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (code < 0x20 || code == 0x7f || (code >= 0x80 && !asIs)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonBool(bool value) {
    return value ? "true" : "false";
}

std::string windowText() {
    return modGlobals::StartTime + " to " + modGlobals::EndTime;
}

// ---- commands ----

const char* reasonName(CurfewReason reason) {
    switch (reason) {
    case CurfewReason::AlarmRaised:
        return "alarm-raised";
    case CurfewReason::OutsideWindow:
        return "outside-window";
    case CurfewReason::InsideWindow:
        return "inside-window";
    case CurfewReason::NoWindow:
        return "no-window";
    }
    return "";
}

std::string reasonText(CurfewReason reason) {
    switch (reason) {
    case CurfewReason::AlarmRaised:
        return "blocked at all hours: the clock was changed (an administrator resets the alarm)";
    case CurfewReason::OutsideWindow:
        return "blocked: outside the window, open from " + windowText();
    case CurfewReason::InsideWindow:
        return "open: inside the window, " + windowText();
    case CurfewReason::NoWindow:
        return modGlobals::StartTime.empty() && modGlobals::EndTime.empty()
                   ? std::string("open: no window set")
                   : "open: the window (" + windowText() + ") is not a time of day";
    }
    return "";
}

std::string jsonOptional(const std::optional<bool>& value) {
    return value ? jsonBool(*value) : "null";
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

std::string copyJson(const ProgramCopy& copy) {
    return "{\"pid\":" + std::to_string(copy.processId) +
           ",\"user\":" + (copy.user.empty() ? std::string("null") : jsonString(copy.user)) +
           ",\"knownByNameOnly\":" + jsonBool(copy.knownByNameOnly) +
           ",\"canCloseConnections\":" + jsonOptional(copy.mayClose) +
           ",\"otherNamespace\":" + jsonOptional(copy.otherNamespace) + ",\"stopped\":" + jsonOptional(copy.stopped) +
           "}";
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

// Needs no password: what the tray icon shows anyone, and whether it is in force at all: each copy that
// runs, and whether one of them closes connections. Without settings it can read, it says what it can
// (what it cannot tell is null in JSON) and fails.
// The in-line block's rules as the system holds them now, not as the settings say they should be.
struct BlockRules {
    std::optional<std::vector<uint16_t>> ports; // nothing: the system cannot be asked
    std::string joined(const char* separator) const {
        std::string list;
        for (const uint16_t port : ports.value_or(std::vector<uint16_t>{})) {
            list += (list.empty() ? "" : separator) + std::to_string(port);
        }
        return list;
    }
    std::string text() const {
        return !ports ? "cannot tell" : ports->empty() ? "none in force" : "in force on " + joined(", ");
    }
    std::string json() const { return ports ? "[" + joined(",") + "]" : "null"; }
};

BlockRules blockRules() {
    return {platform::get<PacketFilter>().InForce()};
}

void status(const Options& options) {
    std::vector<ProgramCopy> copies = platform::get<ProgramProcesses>().RunningCopies();
    std::sort(copies.begin(), copies.end(),
              [](const ProgramCopy& a, const ProgramCopy& b) { return a.processId < b.processId; });
    ServiceControl& service = platform::get<ServiceControl>();
    const bool registered = ServiceHost::Installed(service, "false");
    const bool serviceRunning = service.Running();
    const std::string cannotHere = platform::get<TcpTable>().DeletionPossible().reason();
    const std::string unreadable = loadFresh();
    const bool known = unreadable.empty();
    const Closing closing = closingNow(copies, cannotHere);
    const CurfewReason curfew = CurfewNow();
    const auto stopped = static_cast<size_t>(
        std::count_if(copies.begin(), copies.end(), [](const ProgramCopy& copy) { return copy.stopped == true; }));
    const bool enforcing = stopped < copies.size(); // a stopped copy blocks nothing
    const BlockRules rules = blockRules();
    // A copy that was killed leaves the block's rules in force: the ports stay closed with no copy running.
    const bool leftInForce = known && !enforcing && rules.ports && !rules.ports->empty();
    const char* ports = !known ? "unknown" : (enforcing && PortsBlocked(curfew)) || leftInForce ? "blocked" : "open";
    const char* reason = !known           ? "settings-unreadable"
                         : enforcing      ? reasonName(curfew)
                         : leftInForce    ? "block-left-in-force"
                         : copies.empty() ? "not-running"
                                          : "stopped";
    const size_t entries = Administration::ClosedPortList().size();
    if (options.json) {
        std::string processes;
        for (const ProgramCopy& copy : copies) {
            processes += (processes.empty() ? "" : ",") + copyJson(copy);
        }
        say("{\"running\":" + jsonBool(enforcing) + ",\"copies\":" + std::to_string(copies.size()) +
            ",\"processes\":[" + processes +
            "],\"service\":{\"registered\":" + (known ? jsonBool(registered) : "null") +
            ",\"running\":" + jsonBool(serviceRunning) + "},\"ports\":" + jsonString(ports) +
            ",\"reason\":" + jsonString(reason) + ",\"curfew\":" + (known ? jsonString(reasonName(curfew)) : "null") +
            ",\"start\":" + (known ? jsonString(modGlobals::StartTime) : "null") +
            ",\"end\":" + (known ? jsonString(modGlobals::EndTime) : "null") +
            ",\"alarm\":" + (known ? jsonBool(modGlobals::AlarmRaised) : "null") +
            ",\"closedPortEntries\":" + (known ? std::to_string(entries) : "null") +
            ",\"canCloseConnections\":" + jsonOptional(closing.closing) + ",\"closing\":" + jsonString(closing.text) +
            ",\"block\":{\"chosen\":" + (known ? jsonBool(modGlobals::BlockChosen) : "null") +
            ",\"rulesInForce\":" + rules.json() + "}}\n");
    } else {
        std::string copyLines;
        for (const ProgramCopy& copy : copies) {
            copyLines += copyLine(copy);
        }
        // The service's own store is as hidden as settings.ini where both are root's alone.
        const std::string asService =
            !known ? std::string("cannot tell whether it is registered (the settings cannot be read), ") +
                         (serviceRunning ? "running" : "not running")
            : !registered    ? "not registered"
            : serviceRunning ? "registered, running"
                             : "registered, not running";
        const std::string portsText =
            !known      ? "Closed ports: cannot tell: the settings cannot be read"
            : enforcing ? "Closed ports (" + entriesText(entries) + "): " + reasonText(curfew)
            : leftInForce
                ? "Closed ports (" + entriesText(entries) +
                      "): blocked by the in-line block's rules a copy left in force, "
                      "though the program is " +
                      (copies.empty() ? "not running" : "stopped") + " (quietwirectl set-block off lifts them)"
                : "Closed ports (" + entriesText(entries) + "): open: the program is " +
                      (copies.empty() ? "not running" : "stopped") + " (while it runs: " + reasonText(curfew) + ")";
        const std::string blockText = std::string("In-line block: ") +
                                      (!known                    ? "cannot tell whether it is chosen"
                                       : modGlobals::BlockChosen ? "chosen"
                                                                 : "not chosen") +
                                      "; rules " + rules.text() + "\n";
        say("Program: " + programText(copies.size(), stopped) + "\n" + copyLines + "Service: " + asService + "\n" +
            portsText + "\nClosing connections: " + closing.text + "\n" + blockText);
    }
    if (!known) {
        fail(unreadable);
    }
}

void show(const Options& options) {
    loadAsAdministrator(options);
    const std::vector<std::string> entries = Administration::ClosedPortList();
    const bool registered = ServiceHost::Installed(platform::get<ServiceControl>(), "false");
    if (options.json) {
        std::string list;
        for (const std::string& entry : entries) {
            list += (list.empty() ? "" : ",") + jsonString(entry);
        }
        say("{\"start\":" + jsonString(modGlobals::StartTime) + ",\"end\":" + jsonString(modGlobals::EndTime) +
            ",\"closedPorts\":[" + list + "],\"alarm\":" + jsonBool(modGlobals::AlarmRaised) +
            ",\"serviceRegistered\":" + jsonBool(registered) + ",\"block\":" + jsonBool(modGlobals::BlockChosen) +
            ",\"blockRulesInForce\":" + blockRules().json() + "}\n");
        return;
    }
    std::string text = "Window: " +
                       (modGlobals::StartTime.empty() && modGlobals::EndTime.empty() ? std::string("none set")
                                                                                     : "open from " + windowText()) +
                       "\nAlarm: " + (modGlobals::AlarmRaised ? "raised" : "not raised") +
                       "\nService: " + (registered ? "registered" : "not registered") +
                       "\nIn-line block: " + (modGlobals::BlockChosen ? "on" : "off") + " (rules " +
                       blockRules().text() + ")" + "\nClosed ports:" + (entries.empty() ? " none" : "") + "\n";
    for (const std::string& entry : entries) {
        text += "  " + entry + "\n";
    }
    say(text);
}

void setWindow(const Options& options) {
    loadAsAdministrator(options);
    const std::optional<std::string> start = Administration::LongTime(options.operands[0]);
    if (!start) {
        fail(Administration::InvalidStartTime);
    }
    const std::optional<std::string> end = Administration::LongTime(options.operands[1]);
    if (!end) {
        fail(Administration::InvalidEndTime);
    }
    modGlobals::StartTime = *start;
    modGlobals::EndTime = *end;
    save();
    say("Window set: open from " + windowText() + "\n");
}

void refuseUnkept(const std::string& entry) {
    if (entry.empty()) {
        fail("An empty entry cannot be listed."); // it would end the list when the file is read again
    }
    if (!modGlobals::Keeps(entry)) {
        fail(Administration::EntryNotKept);
    }
}

std::vector<std::string>::iterator findEntry(std::vector<std::string>& entries, const std::string& entry) {
    const auto found = std::find(entries.begin(), entries.end(), entry);
    if (found == entries.end()) {
        fail("Port not on list! (" + entry + ")");
    }
    return found;
}

void addPort(const Options& options) {
    loadAsAdministrator(options);
    const std::string& entry = options.operands[0];
    refuseUnkept(entry);
    std::vector<std::string> entries = Administration::ClosedPortList();
    if (Administration::OnList(entries, entry)) {
        fail(Administration::PortAlreadyOnList);
    }
    entries.push_back(entry);
    Administration::SetClosedPortList(entries);
    save();
    say("Added: " + entry + "\n");
}

void removePort(const Options& options) {
    loadAsAdministrator(options);
    std::vector<std::string> entries = Administration::ClosedPortList();
    entries.erase(findEntry(entries, options.operands[0]));
    Administration::SetClosedPortList(entries);
    save();
    say("Removed: " + options.operands[0] + "\n");
}

void editPort(const Options& options) {
    loadAsAdministrator(options);
    const std::string& replacement = options.operands[1];
    refuseUnkept(replacement);
    std::vector<std::string> entries = Administration::ClosedPortList();
    *findEntry(entries, options.operands[0]) = replacement; // not compared with the others, as in the dialog
    Administration::SetClosedPortList(entries);
    save();
    say("Changed: " + options.operands[0] + " to " + replacement + "\n");
}

void setPassword(const Options& options) {
    const std::string typed = typedPassword(options);
    loadChecked(typed);
    std::string chosen;
    if (options.newPasswordFile) {
        chosen = passwordFrom(*options.newPasswordFile);
    } else {
        chosen = askSecret("Enter new password: ");
        if (askSecret("Re-enter new password: ") != chosen) {
            fail(Administration::PasswordsDiffer);
        }
    }
    if (!modGlobals::Keeps(chosen)) {
        fail(Administration::PasswordNotKept);
    }
    loadChecked(typed); // afresh: the new password was being typed meanwhile
    modGlobals::AdminPassword = chosen;
    save();
    say(std::string(Administration::PasswordChanged) + "\n");
}

void resetAlarm(const Options& options) {
    loadAsAdministrator(options);
    if (!modGlobals::AlarmRaised) {
        say("The alarm is not raised.\n");
        return;
    }
    modGlobals::AlarmRaised = false;
    save();
    say(std::string(Administration::AlarmHasBeenReset) + "\n");
}

// With no copy running, nothing else would ever lift what a killed copy left in force.
bool noCopyRuns() {
    const std::vector<ProgramCopy> copies = platform::get<ProgramProcesses>().RunningCopies();
    return std::all_of(copies.begin(), copies.end(), [](const ProgramCopy& copy) { return copy.stopped == true; });
}

void liftRules() {
    if (const Result lifted = platform::get<PacketFilter>().Refuse({}); !lifted) {
        fail("The rules could not be lifted: " + lifted.reason() + ".");
    }
}

void setBlock(const Options& options) {
    const std::string& choice = options.operands[0];
    if (choice != "on" && choice != "off") {
        usage("set-block takes on or off, not \"" + choice + "\"");
    }
    loadAsAdministrator(options);
    modGlobals::BlockChosen = choice == "on";
    save();
    say(std::string("The in-line block is ") + choice +
        (noCopyRuns() ? ".\n" : "; the running copy takes it over within a second.\n"));
    const BlockRules left = blockRules();
    if (!modGlobals::BlockChosen && noCopyRuns() && (!left.ports || !left.ports->empty())) {
        liftRules();
        say("The rules a copy left in force were lifted.\n");
    }
}

// For the package's removal and the uninstaller, which end the program first: what a killed copy left goes
// too. No password: whoever may run this as root or administrator may lift the rules with the system's
// own tools as well.
void liftBlock(const Options&) {
    liftRules();
    say("No rules of the program's own are in force.\n");
}

// The dialog offers only the button the Installed flag allows; --force offers both, as its debug mode.
void changeService(const Options& options, bool registering) {
    loadAsAdministrator(options);
    ServiceControl& NTService1 = platform::get<ServiceControl>();
    ServiceHost::Configure(NTService1);
    if (!options.force && ServiceHost::Installed(NTService1, "false") == registering) {
        fail(registering ? "The service is registered already (--force registers it all the same)."
                         : "The service is not registered (--force unregisters it all the same).");
    }
    const Administration::ServiceOutcome outcome =
        registering ? Administration::RegisterService(NTService1) : Administration::UnregisterService(NTService1);
    if (!outcome.done) {
        fail(oneLine(outcome.message));
    }
    say(oneLine(outcome.message) + "\n");
}

void registerService(const Options& options) {
    changeService(options, true);
}

void unregisterService(const Options& options) {
    changeService(options, false);
}

constexpr Command Commands[] = {
    {.name = "status",
     .synopsis = "[--json]",
     .summary = "Each running copy, whether connections are being closed, the closed ports open or blocked now, "
                "and why",
     .json = true,
     .run = status},
    {.name = "show",
     .synopsis = "[--json]",
     .summary = "The window, the closed-port entries in order, the alarm",
     .administrator = true,
     .json = true,
     .run = show},
    {.name = "set-window",
     .synopsis = "START END",
     .summary = "Sets the daily window in which the closed ports are open (06:00 22:00)",
     .operands = 2,
     .administrator = true,
     .run = setWindow},
    {.name = "add-port",
     .synopsis = "ENTRY",
     .summary = "Closes a port: a number, optionally with a comma and a label (\"21, FTP PORT\")",
     .operands = 1,
     .administrator = true,
     .run = addPort},
    {.name = "remove-port",
     .synopsis = "ENTRY",
     .summary = "Takes an entry, exactly as listed, off the list",
     .operands = 1,
     .administrator = true,
     .run = removePort},
    {.name = "edit-port",
     .synopsis = "OLD NEW",
     .summary = "Replaces an entry, exactly as listed, with another",
     .operands = 2,
     .administrator = true,
     .run = editPort},
    {.name = "set-password",
     .synopsis = "[--new-password-file FILE]",
     .summary = "Sets the administrator password, typed twice",
     .administrator = true,
     .run = setPassword},
    {.name = "reset-alarm",
     .synopsis = "",
     .summary = "Clears the alarm a change of the clock raised",
     .administrator = true,
     .run = resetAlarm},
    {.name = "set-block",
     .synopsis = "on|off",
     .summary = "Also refuses new connections on closed ports while they are closed (off: the sweep alone)",
     .operands = 1,
     .administrator = true,
     .run = setBlock},
    {.name = "lift-block",
     .synopsis = "",
     .summary = "Lifts the in-line block's rules (for uninstalling; a running copy sets them again)",
     .run = liftBlock},
    {.name = "register-service",
     .synopsis = "[--force]",
     .summary = "Starts the program with the system, as a service",
     .administrator = true,
     .force = true,
     .run = registerService},
    {.name = "unregister-service",
     .synopsis = "[--force]",
     .summary = "No longer starts the program with the system",
     .administrator = true,
     .force = true,
     .run = unregisterService},
};

const Command* findCommand(const std::string& name) {
    for (const Command& command : Commands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

std::string commandUsage(const Command& command) {
    std::string line = std::string("quietwirectl ") + command.name;
    if (*command.synopsis != '\0') {
        line += std::string(" ") + command.synopsis;
    }
    if (command.administrator) {
        line += " [--password-file FILE]";
    }
    return line;
}

std::string overallHelp() {
    std::string text = "Administers Quietwire on this machine: " + VtkModule::AppPath() + modGlobals::SettingsFileName +
                       ".\n\n"
                       "Usage: quietwirectl COMMAND [OPTIONS]\n\nCommands:\n";
    for (const Command& command : Commands) {
        std::string name = command.name;
        name.resize(std::max<size_t>(name.size() + 2, 20), ' ');
        text += "  " + name + command.summary + "\n";
    }
    return text + "\nEvery command but status and lift-block asks for the administrator password on the terminal,\n"
                  "without echo; --password-file FILE reads it from the first line of FILE (- for standard input). A "
                  "wrong\npassword is answered after a second. An ENTRY or a time that begins with a dash goes "
                  "after --\n(quietwirectl add-port -- -1). quietwirectl COMMAND --help describes a command.\n"
                  "Exit status: 0 done, 1 refused or failed (the reason on standard error), 2 a wrong command "
                  "line.\n";
}

std::string commandHelp(const Command& command) {
    std::string text = "Usage: " + commandUsage(command) + "\n\n" + command.summary + ".\n";
    if (command.administrator) {
        text += "Asks for the administrator password (or reads it with --password-file FILE, - for standard "
                "input).\n";
    }
    if (command.json) {
        text += "--json writes it as one JSON object.\n";
    }
    if (command.force) {
        text += "--force does it whatever the Installed flag says, for a registration changed by other means.\n";
    }
    if (std::string(command.name) == "set-password") {
        text += "--new-password-file FILE reads the new password once from the first line of FILE (- for standard "
                "input) instead of asking twice.\n";
    }
    if (command.operands > 0) {
        text += "An operand that begins with a dash goes after --.\n";
    }
    return text;
}

// Reads the value of an option given as "--name VALUE" or "--name=VALUE".
bool optionValue(const std::vector<std::string>& arguments, size_t& i, const std::string& name,
                 std::optional<std::string>& value) {
    const std::string& argument = arguments[i];
    if (argument.rfind(name + "=", 0) == 0) {
        value = argument.substr(name.size() + 1);
        return true;
    }
    if (argument != name) {
        return false;
    }
    if (i + 1 >= arguments.size()) {
        usage(name + " needs a file name");
    }
    value = arguments[++i];
    return true;
}

Options parse(const std::vector<std::string>& arguments) {
    Options options;
    bool operandsOnly = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (operandsOnly || argument.empty() || argument[0] != '-' || argument == "-") {
            (options.command.empty() ? options.command : options.operands.emplace_back()) = argument;
        } else if (argument == "--") {
            operandsOnly = true; // an entry or a time that begins with a dash
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--force") {
            options.force = true;
        } else if (!optionValue(arguments, i, "--password-file", options.passwordFile) &&
                   !optionValue(arguments, i, "--new-password-file", options.newPasswordFile)) {
            usage("unknown option " + argument);
        }
    }
    return options;
}

int run(const std::vector<std::string>& arguments) {
    const Options options = parse(arguments);
    if (options.command.empty()) {
        if (options.help) {
            say(overallHelp());
            return Success;
        }
        usage("no command given");
    }
    const Command* command = findCommand(options.command);
    if (command == nullptr) {
        usage("unknown command " + options.command);
    }
    if (options.help) {
        say(commandHelp(*command));
        return Success;
    }
    if (options.operands.size() != command->operands) {
        usage("usage: " + commandUsage(*command));
    }
    if ((options.json && !command->json) || (options.force && !command->force) ||
        (options.passwordFile && !command->administrator) ||
        (options.newPasswordFile && std::string(command->name) != "set-password")) {
        usage(std::string("an option that ") + command->name + " does not take; usage: " + commandUsage(*command));
    }
    command->run(options);
    return Success;
}

} // namespace

int Run(const std::vector<std::string>& arguments) {
    try {
        return run(arguments);
    } catch (const Refusal& refusal) {
        terminal().Err("quietwirectl: " + std::string(refusal.what()) + "\n");
        return refusal.status;
    } catch (const std::exception& error) {
        terminal().Err("quietwirectl: " + std::string(error.what()) + "\n");
        return Failure;
    }
}

} // namespace Quietwirectl
