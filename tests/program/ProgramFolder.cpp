#include "program/ProgramFolder.h"

#include "fakes/RedirectedFileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "settings/modGlobals.h"
#include "support/Settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace std::chrono_literals;

std::string builtProgramsFolder() {
    return std::filesystem::path(QW_PROGRAM_PATH).parent_path().string();
}

std::string timeOfDayAt(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string hoursFromNow(int hours) {
    return timeOfDayAt(std::time(nullptr) + hours * 3600);
}

Running::Running(std::vector<std::string> command, std::vector<std::string> environment, const std::string& log) {
    // The sanitizers' options of the test's run (the leaks of system libraries it forgives) hold for the
    // programs it starts too.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char* value = std::getenv(name);
        const std::string prefix = std::string(name) + "=";
        if (value != nullptr && std::none_of(environment.begin(), environment.end(),
                                             [&](const std::string& e) { return e.rfind(prefix, 0) == 0; })) {
            environment.push_back(prefix + value);
        }
    }
    std::vector<char*> envp;
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Running::~Running() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void Running::signal(int sig) const {
    ::kill(pid_, sig);
}

std::optional<int> Running::endsWithin(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    do {
        int status = 0;
        if (status_ || ::waitpid(pid_, &status, WNOHANG) == pid_) {
            if (!status_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            return status_;
        }
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < until);
    return std::nullopt;
}

ProgramFolder::ProgramFolder(std::string program, std::string dataFolder)
    : program_(std::move(program)), data_(std::move(dataFolder)) {
    std::filesystem::create_directory(dir_.file("run"));
    std::filesystem::permissions(dir_.file("run"), std::filesystem::perms::owner_all);
}

ProgramFolder::ProgramFolder() : ProgramFolder("", "") {
    program_ = dir_.file("quietwire");
    data_ = dir_.str();
    std::filesystem::copy_file(QW_PROGRAM_PATH, program_);
    std::filesystem::copy_file(QW_QUIETWIRECTL_PATH, dir_.file("quietwirectl"));
}

ProgramFolder::~ProgramFolder() {
    std::error_code unreadable;
    for (const auto& process : std::filesystem::directory_iterator("/proc", unreadable)) {
        std::error_code gone;
        std::string exe = std::filesystem::read_symlink(process.path() / "exe", gone).string();
        if (const size_t deleted = exe.rfind(" (deleted)"); deleted != std::string::npos) {
            exe.erase(deleted);
        }
        if (!gone && exe == program_) {
            ::kill(static_cast<pid_t>(std::stol(process.path().filename().string())), SIGKILL);
        }
    }
}

namespace {

// The program's settings code, pointed at the folder's settings.ini for as long as it lives.
class FolderSettings {
public:
    explicit FolderSettings(const std::string& folder) : files_(folder) { resetSettings(); }
    ~FolderSettings() { resetSettings(); }

private:
    RedirectedFileSystem files_;
    platform::ScopedInstall<FileSystem> useFiles_{files_};
    platform::ScopedInstall<ProfileFile> useProfile_{systemProfileFile()};
};

} // namespace

void ProgramFolder::writeSettings(const std::string& start, const std::string& end, bool alarm, bool block) const {
    const Result saved = saveSettings(start, end, alarm, {"2525, TEST"}, block);
    ASSERT_TRUE(saved) << saved.reason();
}

Result ProgramFolder::saveSettings(const std::string& start, const std::string& end, bool alarm,
                                   const std::vector<std::string>& closedPorts, bool block) const {
    FolderSettings settings(data_);
    modGlobals::AdminPassword = "Secret";
    modGlobals::StartTime = start;
    modGlobals::EndTime = end;
    modGlobals::AlarmRaised = alarm;
    modGlobals::BlockChosen = block;
    setPorts(closedPorts);
    return modGlobals::SaveSettings();
}

StoredSettings ProgramFolder::stored() const {
    FolderSettings settings(data_);
    static_cast<void>(modGlobals::LoadSettings()); // a file that cannot be read shows as empty settings
    return {modGlobals::StartTime, modGlobals::EndTime, listedPorts(), modGlobals::AlarmRaised};
}

std::unique_ptr<Running> ProgramFolder::start(const std::vector<std::string>& environment,
                                              const std::vector<std::string>& launcher) const {
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir_.file("run"), "PATH=/usr/bin:/bin", "USER=root",
                                    "HOME=" + dir_.file("run")};
    for (const std::string& entry : environment) {
        const std::string name = entry.substr(0, entry.find('='));
        std::erase_if(env, [&name](const std::string& e) { return e.substr(0, e.find('=')) == name; });
        if (entry.find('=') != std::string::npos) {
            env.push_back(entry);
        }
    }
    std::vector<std::string> command = launcher;
    command.push_back(program_);
    auto running = std::make_unique<Running>(std::move(command), std::move(env), dir_.file("log.txt"));
    EXPECT_TRUE(running->started());
    return running;
}

ProgramFolder::ToolRun ProgramFolder::quietwirectl(const std::vector<std::string>& arguments, const std::string& input,
                                                   std::vector<std::string> environment) const {
    const std::string in = dir_.file("quietwirectl.in");
    const std::string out = dir_.file("quietwirectl.out");
    std::ofstream(in, std::ios::binary | std::ios::trunc) << input;
    std::vector<std::string> words = {(std::filesystem::path(program_).parent_path() / "quietwirectl").string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // Its own runtime directory, where the user's locks live, unless the caller names one: this folder's
    // tool waits for no other's.
    if (std::none_of(environment.begin(), environment.end(),
                     [](const std::string& e) { return e.rfind("XDG_RUNTIME_DIR=", 0) == 0; })) {
        environment.push_back("XDG_RUNTIME_DIR=" + dir_.file("run"));
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // A session of its own: no terminal to ask on, as under a script.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    ToolRun run;
    if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    run.output = readBytes(out);
    return run;
}
