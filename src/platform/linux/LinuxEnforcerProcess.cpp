#include "platform/linux/LinuxEnforcerProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// What would tie the enforcer to the display it was started from.
bool displayVariable(const char* entry) {
    return std::strncmp(entry, "DISPLAY=", 8) == 0 || std::strncmp(entry, "WAYLAND_DISPLAY=", 16) == 0;
}

} // namespace

Result LinuxEnforcerProcess::Start() {
    if (pid_ > 0) {
        ::waitpid(pid_, nullptr, WNOHANG); // one that ended before: its status is not wanted
    }
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!displayVariable(*entry)) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(nullptr);
    std::string program = "/proc/self/exe";
    std::string name = "quietwire";
    std::string argument = EnforcerArgument;
    char* const arguments[] = {name.data(), argument.data(), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program.c_str(), &files, &attributes, arguments, environment.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        return Result::Errno(error, "the enforcer's process could not be started");
    }
    pid_ = pid;
    return Result::Done();
}

void LinuxEnforcerProcess::End() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    // Its end saves the settings: a moment is given for that, not a hang.
    for (int waited = 0; waited < 50; ++waited) {
        if (::waitpid(pid_, nullptr, WNOHANG) != 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    pid_ = -1;
}
