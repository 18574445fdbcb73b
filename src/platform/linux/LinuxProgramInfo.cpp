#include "platform/ProgramInfo.h"

#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

class LinuxProgramInfo final : public ProgramInfo {
public:
    ProgramVersion Version() override { return {QW_VERSION_MAJOR, QW_VERSION_MINOR, QW_VERSION_PATCH}; }

    uint32_t ProcessId() override { return static_cast<uint32_t>(::getpid()); }
    std::string CommandLine() override {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (char& c : line) {
            if (c == '\0') {
                c = ' ';
            }
        }
        return line;
    }
};

} // namespace

ProgramInfo& systemProgramInfo() {
    static LinuxProgramInfo instance;
    return instance;
}
