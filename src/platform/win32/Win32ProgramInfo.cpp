#include "platform/ProgramInfo.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

class Win32ProgramInfo final : public ProgramInfo {
public:
    ProgramVersion Version() override {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, sizeof path);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
        std::vector<char> data(size);
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        if (size == 0 || !GetFileVersionInfoA(path, 0, size, data.data()) ||
            !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) {
            return {};
        }
        return {static_cast<int>(HIWORD(info->dwFileVersionMS)), static_cast<int>(LOWORD(info->dwFileVersionMS)),
                static_cast<int>(HIWORD(info->dwFileVersionLS))};
    }

    uint32_t ProcessId() override { return GetCurrentProcessId(); }
    std::string CommandLine() override {
        // The whole line, program name included: a switch is looked for anywhere in it.
        return GetCommandLineA();
    }
};

} // namespace

ProgramInfo& systemProgramInfo() {
    static Win32ProgramInfo instance;
    return instance;
}
