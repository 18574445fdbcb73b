#include "platform/ProgramProcesses.h"
#include "platform/linux/LinuxServiceControl.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char* DeletedSuffix = " (deleted)"; // a binary replaced by an upgrade while it runs

bool isProcessId(const std::string& name) {
    for (const char c : name) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return !name.empty();
}

std::string firstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The value after "Name:" in the process's status file, or nothing. The file is readable by every user.
std::optional<std::string> statusField(const std::filesystem::path& process, const std::string& name) {
    std::ifstream in(process / "status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            return line.substr(name.size() + 1);
        }
    }
    return std::nullopt;
}

std::optional<bool> hasNetAdmin(const std::filesystem::path& process) {
    constexpr int NetAdmin = 12; // CAP_NET_ADMIN
    const std::optional<std::string> effective = statusField(process, "CapEff");
    if (!effective) {
        return std::nullopt;
    }
    return ((std::strtoull(effective->c_str(), nullptr, 16) >> NetAdmin) & 1U) != 0;
}

// The name of the real user, or its number where it has none.
std::string userOf(const std::filesystem::path& process) {
    const std::optional<std::string> ids = statusField(process, "Uid");
    if (!ids) {
        return "";
    }
    const auto uid = static_cast<uid_t>(std::strtoul(ids->c_str(), nullptr, 10));
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// A process stopped by a signal (T) or at a debugger's stop (t).
std::optional<bool> stopped(const std::filesystem::path& process) {
    const std::string stat = firstLine(process / "stat");
    const size_t nameEnd = stat.rfind(')'); // the name in parentheses may hold blanks and parentheses
    if (nameEnd == std::string::npos || nameEnd + 2 >= stat.size()) {
        return std::nullopt;
    }
    const char state = stat[nameEnd + 2];
    return state == 'T' || state == 't';
}

// A capability counts over the connections of the network namespace it was granted in: a process in
// a user namespace of its own (unshare -r, which any user may do) holds CAP_NET_ADMIN over nothing here.
std::optional<bool> inOtherNamespace(const std::filesystem::path& process) {
    for (const char* kind : {"ns/net", "ns/user"}) {
        std::error_code theirsUnreadable;
        std::error_code oursUnreadable;
        const std::filesystem::path theirs = std::filesystem::read_symlink(process / kind, theirsUnreadable);
        const std::filesystem::path ours =
            std::filesystem::read_symlink(std::filesystem::path("/proc/self") / kind, oursUnreadable);
        if (theirsUnreadable || oursUnreadable) {
            return std::nullopt;
        }
        if (theirs != ours) {
            return true;
        }
    }
    return false;
}

ProgramCopy copyAt(const std::filesystem::path& process, bool knownByNameOnly) {
    ProgramCopy copy{.processId = static_cast<uint32_t>(std::stoul(process.filename().string())),
                     .user = userOf(process),
                     .knownByNameOnly = knownByNameOnly,
                     .otherNamespace = inOtherNamespace(process),
                     .stopped = stopped(process)};
    const std::optional<bool> right = hasNetAdmin(process);
    if (right == false || copy.otherNamespace == true) {
        copy.mayClose = false;
    } else if (right == true && copy.otherNamespace == false) {
        copy.mayClose = true;
    }
    return copy;
}

class LinuxProgramProcesses final : public ProgramProcesses {
    // A process that ended while it was being read is no copy at all, not one whose every detail is unknown.
    static void add(std::vector<ProgramCopy>& copies, const std::filesystem::path& process, bool knownByNameOnly) {
        ProgramCopy copy = copyAt(process, knownByNameOnly);
        std::error_code gone;
        if (std::filesystem::exists(process / "stat", gone)) {
            copies.push_back(std::move(copy));
        }
    }

public:
    std::vector<ProgramCopy> RunningCopies() override {
        std::error_code error;
        const std::filesystem::path program =
            std::filesystem::weakly_canonical(LinuxServiceControl::ProgramPath(), error);
        const std::string name = program.filename().string();
        std::vector<ProgramCopy> copies;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
            if (!isProcessId(entry.path().filename().string())) {
                continue;
            }
            std::error_code unreadable;
            std::string executable = std::filesystem::read_symlink(entry.path() / "exe", unreadable).string();
            if (unreadable) {
                // Another user's process, seen without root: only its name can be told.
                if (unreadable == std::errc::permission_denied && firstLine(entry.path() / "comm") == name) {
                    add(copies, entry.path(), true);
                }
                continue;
            }
            if (executable.ends_with(DeletedSuffix)) {
                executable.resize(executable.size() - std::string(DeletedSuffix).size());
            }
            if (executable == program.string()) {
                add(copies, entry.path(), false);
            }
        }
        return copies;
    }
};

} // namespace

ProgramProcesses& systemProgramProcesses() {
    static LinuxProgramProcesses instance;
    return instance;
}
