#include "platform/ProgramProcesses.h"
#include "platform/linux/LinuxServiceControl.h"

#include <cctype>
#include <cerrno>
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

class LinuxProgramProcesses final : public ProgramProcesses {
public:
    int RunningCopies() override {
        std::error_code error;
        const std::filesystem::path program =
            std::filesystem::weakly_canonical(LinuxServiceControl::ProgramPath(), error);
        const std::string name = program.filename().string();
        int copies = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
            if (!isProcessId(entry.path().filename().string())) {
                continue;
            }
            std::error_code unreadable;
            std::string executable = std::filesystem::read_symlink(entry.path() / "exe", unreadable).string();
            if (unreadable) {
                // Another user's process, seen without root: only its name can be told.
                copies += unreadable == std::errc::permission_denied && commandName(entry.path()) == name ? 1 : 0;
                continue;
            }
            if (executable.ends_with(DeletedSuffix)) {
                executable.resize(executable.size() - std::string(DeletedSuffix).size());
            }
            copies += executable == program.string() ? 1 : 0;
        }
        return copies;
    }
};

} // namespace

ProgramProcesses& systemProgramProcesses() {
    static LinuxProgramProcesses instance;
    return instance;
}
