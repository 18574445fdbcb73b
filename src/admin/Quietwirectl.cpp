#include "admin/Quietwirectl.h"

#include "admin/QuietwirectlCommands.h"
#include "platform/Platform.h"
#include "platform/Terminal.h"
#include "settings/VtkModule.h"
#include "settings/modGlobals.h"

#include <algorithm>

// The command line: its commands, their help, and what each takes.
namespace Quietwirectl {

namespace {

struct Command {
    const char* name = "";
    const char* synopsis = ""; // operands and options
    const char* summary = "";
    size_t operands = 0;
    bool administrator = false; // asks for the administrator password
    bool json = false;          // takes --json
    bool force = false;         // takes --force
    bool newPassword = false;   // takes --new-password-file
    void (*run)(const Options&) = nullptr;
};

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
    {.name = "set-day",
     .synopsis = "DAY WINDOWS",
     .summary = "Gives a day (mon … sun) windows of its own (08:00-12:00,13:00-21:00), or closed, or daily "
                "(the daily window again)",
     .operands = 2,
     .administrator = true,
     .run = setDay},
    {.name = "set-warning",
     .synopsis = "MINUTES",
     .summary = "How many minutes before the closed ports close each tray says so (0: never)",
     .operands = 1,
     .administrator = true,
     .run = setWarning},
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
     .newPassword = true,
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
    if (command.newPassword) {
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
        (options.passwordFile && !command->administrator) || (options.newPasswordFile && !command->newPassword)) {
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
        platform::get<Terminal>().Err("quietwirectl: " + std::string(refusal.what()) + "\n");
        return refusal.status;
    } catch (const std::exception& error) {
        platform::get<Terminal>().Err("quietwirectl: " + std::string(error.what()) + "\n");
        return Failure;
    }
}

} // namespace Quietwirectl
