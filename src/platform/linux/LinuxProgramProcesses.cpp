#include "platform/ProgramProcesses.h"
#include "platform/linux/LinuxServiceControl.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

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

std::string commandName(const std::filesystem::path& process) {
    std::ifstream in(process / "comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// The process's effective capabilities include CAP_NET_ADMIN; true when they cannot be read.
bool mayClose(const std::filesystem::path& process) {
    constexpr int NetAdmin = 12; // CAP_NET_ADMIN
    std::ifstream in(process / "status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("CapEff:", 0) == 0) {
            const unsigned long long effective = std::strtoull(line.c_str() + 7, nullptr, 16);
            return ((effective >> NetAdmin) & 1U) != 0;
        }
    }
    return true;
}

class LinuxProgramProcesses final : public ProgramProcesses {
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
                if (unreadable == std::errc::permission_denied && commandName(entry.path()) == name) {
                    copies.push_back({.mayClose = mayClose(entry.path())});
                }
                continue;
            }
            if (executable.ends_with(DeletedSuffix)) {
                executable.resize(executable.size() - std::string(DeletedSuffix).size());
            }
            if (executable == program.string()) {
                copies.push_back({.mayClose = mayClose(entry.path())});
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
