#include "support/Command.h"

#include "platform/linux/UniqueFd.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int runCommand(const std::vector<std::string>& command, std::string& output) {
    int ends[2];
    if (::pipe(ends) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    const UniqueFd reader(ends[0]);
    if (spawned != 0) {
        return -1;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(reader.get(), buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
