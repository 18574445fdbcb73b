#pragma once

#include "settings/modGlobals.h"
#include "support/TempDir.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The folder of the built program and quietwirectl, which every ProgramFolder copies.
std::string builtProgramsFolder();

// The local time of day at `t`, as the administration dialog stores it.
std::string timeOfDayAt(std::time_t t);
// The local time of day `hours` from now.
std::string hoursFromNow(int hours);

// One running copy of a program, its output appended to a log; ended with SIGKILL if the test did not
// end it.
class Running {
public:
    // `command`: the program and its arguments (a launcher such as setpriv before the program it runs).
    Running(std::vector<std::string> command, std::vector<std::string> environment, const std::string& log);
    ~Running();
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int sig) const;
    // The exit status once the process has ended within the time (or had already), or nothing.
    std::optional<int> endsWithin(std::chrono::milliseconds time);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct StoredSettings {
    std::string start;
    std::string end;
    std::vector<std::string> ports;
    bool alarm = false;
};

// A program (and quietwirectl beside it) and the folder of its files, with a runtime directory of its own
// (mode 0700, as a login's is) so that its instance lock is apart from any other copy's.
class ProgramFolder {
public:
    // The built program and quietwirectl copied into a folder of their own, as the build tree keeps them:
    // the files beside them.
    ProgramFolder();
    // An installed program, which keeps its files in dataFolder.
    ProgramFolder(std::string program, std::string dataFolder);
    // Every process still running the folder's program ends with it: an enforcer a copy on a display
    // started outlives that copy by design.
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    // A settings.ini in the folder, written by the program's own code: the password "Secret" and one
    // closed port (2525); `block` chooses the in-line block.
    void writeSettings(const std::string& start, const std::string& end, bool alarm, bool block = false) const;
    // The same with the password "Secret" and the closed ports given, as the settings code saved it.
    Result saveSettings(const std::string& start, const std::string& end, bool alarm,
                        const std::vector<std::string>& closedPorts, bool block = false) const;
    // The settings as the program's own code loads them from settings.ini.
    StoredSettings stored() const;

    // Starts the program with a bare environment: the folder's runtime directory, PATH, USER and HOME.
    // `environment` adds entries or replaces them ("NAME=value"), or takes them out ("NAME"). `launcher`
    // runs it (setpriv, unshare: the same process, as another user or in a namespace of its own).
    std::unique_ptr<Running> start(const std::vector<std::string>& environment = {},
                                   const std::vector<std::string>& launcher = {}) const;

    // Runs the quietwirectl beside the program with arguments and input on its standard input, in an
    // empty environment but for `environment` ("NAME=value"); its exit status and everything it wrote to
    // standard output and error.
    struct ToolRun {
        int status = -1;
        std::string output;
    };
    ToolRun quietwirectl(const std::vector<std::string>& arguments, const std::string& input = "",
                         std::vector<std::string> environment = {}) const;

    std::string file(const std::string& name) const { return data_ + "/" + name; }
    std::string log() const { return readBytes(dir_.file("log.txt")); }
    std::string runtimeDirectory() const { return dir_.file("run"); }

private:
    TempDir dir_;
    std::string program_;
    std::string data_;
};
