#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// quietwirectl's commands, each run on a command line already read and checked against what it takes.
namespace Quietwirectl {

// Ends a command with its exit status and one line for standard error.
struct Refusal : std::runtime_error {
    Refusal(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

[[noreturn]] void usage(const std::string& message);

// Standard output, where a failed write fails the command: a script that reads the output must not take
// it for an empty answer.
void say(const std::string& text);

struct Options {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> passwordFile;
    std::optional<std::string> newPasswordFile;
    bool json = false;
    bool force = false;
    bool help = false;
};

void status(const Options& options);
void show(const Options& options);
void setWindow(const Options& options);
void setDay(const Options& options);
void setWarning(const Options& options);
void addPort(const Options& options);
void removePort(const Options& options);
void editPort(const Options& options);
void setPassword(const Options& options);
void resetAlarm(const Options& options);
void setBlock(const Options& options);
void liftBlock(const Options& options);
void registerService(const Options& options);
void unregisterService(const Options& options);

} // namespace Quietwirectl
