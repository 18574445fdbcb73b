#include "admin/Quietwirectl.h"

#include "admin/Administration.h"
#include "core/CurfewWindow.h"
#include "platform/Platform.h"
#include "platform/ProgramProcesses.h"
#include "platform/ServiceControl.h"
#include "platform/TcpTable.h"
#include "platform/Terminal.h"
#include "service/ServiceHost.h"
#include "settings/modGlobals.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace Quietwirectl {

namespace {

constexpr int WrongPasswordWaitMs = 1000;

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
    const char* name;
    const char* synopsis; // operands and options
    const char* summary;
    size_t operands;
    bool administrator; // asks for the administrator password
    bool json;          // takes --json
    bool force;         // takes --force
    void (*run)(const Options&);
};

// ---- settings ----

void load() {
    modGlobals::LastPortIndex = -1;
    modGlobals::ClosedPorts.clear();
    const std::string problem = modGlobals::LoadSettings();
    if (!problem.empty()) {
        fail(oneLine(problem));
    }
}

void save() {
    const modGlobals::SaveResult saved = modGlobals::SaveSettings();
    if (!saved) {
        fail(oneLine(saved.message()));
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
        fail("No terminal to ask for the password on: give it with --password-file FILE (- for standard input).");
    }
    return *typed;
}

void authorise(const Options& options) {
    const std::string typed = options.passwordFile ? passwordFrom(*options.passwordFile) : askSecret("Password: ");
    if (!Administration::PasswordMatches(typed)) {
        terminal().Wait(WrongPasswordWaitMs); // guessing at speed
        fail(Administration::InvalidPassword);
    }
}

// ---- output ----

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (code < 0x20 || code >= 0x7f) {
            // The settings are single-byte text; each byte is written as the character of that code.
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

void status(const Options& options) {
    load();
    const int copies = platform::get<ProgramProcesses>().RunningCopies();
    ServiceControl& service = platform::get<ServiceControl>();
    const bool registered = ServiceHost::Installed(service, "false");
    const bool serviceRunning = service.Running();
    const CurfewReason reason = CurfewNow();
    const std::string cannotClose = platform::get<TcpTable>().DeletionUnavailable();
    const size_t entries = Administration::ClosedPortList().size();
    if (options.json) {
        terminal().Out(
            "{\"running\":" + jsonBool(copies > 0) + ",\"copies\":" + std::to_string(copies) +
            ",\"service\":{\"registered\":" + jsonBool(registered) + ",\"running\":" + jsonBool(serviceRunning) +
            "},\"ports\":" + jsonString(PortsBlocked(reason) ? "blocked" : "open") +
            ",\"reason\":" + jsonString(reasonName(reason)) + ",\"start\":" + jsonString(modGlobals::StartTime) +
            ",\"end\":" + jsonString(modGlobals::EndTime) + ",\"alarm\":" + jsonBool(modGlobals::AlarmRaised) +
            ",\"closedPortEntries\":" + std::to_string(entries) + ",\"canCloseConnections\":" +
            jsonBool(cannotClose.empty()) + ",\"cannotCloseBecause\":" + jsonString(oneLine(cannotClose)) + "}\n");
        return;
    }
    const std::string program = copies == 0   ? "not running"
                                : copies == 1 ? "running"
                                              : "running (" + std::to_string(copies) + " copies)";
    const std::string asService = !registered      ? "not registered"
                                  : serviceRunning ? "registered, running"
                                                   : "registered, not running";
    terminal().Out("Program: " + program + "\nService: " + asService + "\nClosed ports (" + std::to_string(entries) +
                   " entries): " + reasonText(reason) + "\nClosing connections: " +
                   (cannotClose.empty() ? std::string("possible") : "not possible: " + oneLine(cannotClose)) + "\n");
}

void show(const Options& options) {
    load();
    authorise(options);
    const std::vector<std::string> entries = Administration::ClosedPortList();
    const bool registered = ServiceHost::Installed(platform::get<ServiceControl>(), "false");
    if (options.json) {
        std::string list;
        for (const std::string& entry : entries) {
            list += (list.empty() ? "" : ",") + jsonString(entry);
        }
        terminal().Out("{\"start\":" + jsonString(modGlobals::StartTime) +
                       ",\"end\":" + jsonString(modGlobals::EndTime) + ",\"closedPorts\":[" + list + "],\"alarm\":" +
                       jsonBool(modGlobals::AlarmRaised) + ",\"serviceRegistered\":" + jsonBool(registered) + "}\n");
        return;
    }
    std::string text = "Window: " +
                       (modGlobals::StartTime.empty() && modGlobals::EndTime.empty() ? std::string("none set")
                                                                                     : "open from " + windowText()) +
                       "\nAlarm: " + (modGlobals::AlarmRaised ? "raised" : "not raised") +
                       "\nService: " + (registered ? "registered" : "not registered") +
                       "\nClosed ports:" + (entries.empty() ? " none" : "") + "\n";
    for (const std::string& entry : entries) {
        text += "  " + entry + "\n";
    }
    terminal().Out(text);
}

void setWindow(const Options& options) {
    load();
    authorise(options);
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
    terminal().Out("Window set: open from " + windowText() + "\n");
}

// An empty entry would end the list where it stands when the file is read again.
void refuseEmpty(const std::string& entry) {
    if (entry.empty()) {
        fail("An empty entry cannot be listed.");
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
    load();
    authorise(options);
    const std::string& entry = options.operands[0];
    refuseEmpty(entry);
    std::vector<std::string> entries = Administration::ClosedPortList();
    if (Administration::OnList(entries, entry)) {
        fail(Administration::PortAlreadyOnList);
    }
    entries.push_back(entry);
    Administration::SetClosedPortList(entries);
    save();
    terminal().Out("Added: " + entry + "\n");
}

void removePort(const Options& options) {
    load();
    authorise(options);
    std::vector<std::string> entries = Administration::ClosedPortList();
    entries.erase(findEntry(entries, options.operands[0]));
    Administration::SetClosedPortList(entries);
    save();
    terminal().Out("Removed: " + options.operands[0] + "\n");
}

void editPort(const Options& options) {
    load();
    authorise(options);
    const std::string& replacement = options.operands[1];
    refuseEmpty(replacement);
    std::vector<std::string> entries = Administration::ClosedPortList();
    *findEntry(entries, options.operands[0]) = replacement; // not compared with the others, as in the dialog
    Administration::SetClosedPortList(entries);
    save();
    terminal().Out("Changed: " + options.operands[0] + " to " + replacement + "\n");
}

void setPassword(const Options& options) {
    load();
    authorise(options);
    std::string chosen;
    if (options.newPasswordFile) {
        chosen = passwordFrom(*options.newPasswordFile);
    } else {
        chosen = askSecret("Enter new password: ");
        if (askSecret("Re-enter new password: ") != chosen) {
            fail(Administration::PasswordsDiffer);
        }
    }
    modGlobals::AdminPassword = chosen;
    save();
    terminal().Out(std::string(Administration::PasswordChanged) + "\n");
}

void resetAlarm(const Options& options) {
    load();
    authorise(options);
    if (!modGlobals::AlarmRaised) {
        terminal().Out("The alarm is not raised.\n");
        return;
    }
    modGlobals::AlarmRaised = false;
    save();
    terminal().Out(std::string(Administration::AlarmHasBeenReset) + "\n");
}

// The dialog offers only the button the Installed flag allows; --force offers both, as its debug mode.
void changeService(const Options& options, bool registering) {
    load();
    authorise(options);
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
    terminal().Out(oneLine(outcome.message) + "\n");
}

void registerService(const Options& options) {
    changeService(options, true);
}

void unregisterService(const Options& options) {
    changeService(options, false);
}

constexpr Command Commands[] = {
    {"status", "[--json]", "whether the program runs and the closed ports are open or blocked now, and why", 0, false,
     true, false, status},
    {"show", "[--json]", "the window, the closed-port entries in order, the alarm", 0, true, true, false, show},
    {"set-window", "START END", "the daily window in which the closed ports are open (22:00 06:00)", 2, true, false,
     false, setWindow},
    {"add-port", "ENTRY", "closes a port: a number, optionally with a comma and a label (\"21, FTP PORT\")", 1, true,
     false, false, addPort},
    {"remove-port", "ENTRY", "takes an entry, as listed, off the list", 1, true, false, false, removePort},
    {"edit-port", "OLD NEW", "replaces an entry, as listed, with another", 2, true, false, false, editPort},
    {"set-password", "[--new-password-file FILE]", "the administrator password, typed twice", 0, true, false, false,
     setPassword},
    {"reset-alarm", "", "clears the alarm a change of the clock raised", 0, true, false, false, resetAlarm},
    {"register-service", "[--force]", "starts the program with the system, as a service", 0, true, false, true,
     registerService},
    {"unregister-service", "[--force]", "no longer starts the program with the system", 0, true, false, true,
     unregisterService},
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
    std::string text = "Administers Quietwire on this machine: the settings.ini beside this tool.\n\n"
                       "Usage: quietwirectl COMMAND [OPTIONS]\n\nCommands:\n";
    for (const Command& command : Commands) {
        std::string name = command.name;
        name.resize(std::max<size_t>(name.size() + 2, 20), ' ');
        text += "  " + name + command.summary + "\n";
    }
    return text + "\nEvery command but status asks for the administrator password on the terminal, without "
                  "echo;\n--password-file FILE reads it from the first line of FILE (- for standard input). A "
                  "wrong\npassword is answered after a second. quietwirectl COMMAND --help describes a command.\n"
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
            terminal().Out(overallHelp());
            return Success;
        }
        usage("no command given");
    }
    const Command* command = findCommand(options.command);
    if (command == nullptr) {
        usage("unknown command " + options.command);
    }
    if (options.help) {
        terminal().Out(commandHelp(*command));
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
