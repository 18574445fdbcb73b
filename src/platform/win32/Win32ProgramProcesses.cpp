#include "platform/FileSystem.h"
#include "platform/ProgramProcesses.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

constexpr const char* ProgramName = "quietwire.exe";

std::string imagePath(HANDLE process) {
    char path[MAX_PATH * 4];
    DWORD size = sizeof path;
    return QueryFullProcessImageNameA(process, 0, path, &size) != 0 ? std::string(path, size) : "";
}

// Runs elevated; true when that cannot be seen.
bool elevated(HANDLE process) {
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_QUERY, &token) == 0) {
        return true;
    }
    const UniqueHandle owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) == 0 ||
           elevation.TokenIsElevated != 0;
}

class Win32ProgramProcesses final : public ProgramProcesses {
public:
    std::vector<ProgramCopy> RunningCopies() override {
        const std::string program = systemFileSystem().executableDirectory() + "\\" + ProgramName;
        const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        std::vector<ProgramCopy> copies;
        if (!snapshot.valid()) {
            return copies;
        }
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
            if (lstrcmpiA(entry.szExeFile, ProgramName) != 0) {
                continue;
            }
            // Another user's process, seen without administrator rights: only its name can be told.
            const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
            if (!process.valid()) {
                copies.push_back({});
            } else if (lstrcmpiA(imagePath(process.get()).c_str(), program.c_str()) == 0) {
                copies.push_back({.mayClose = elevated(process.get())});
            }
        }
        return copies;
    }
};

} // namespace

ProgramProcesses& systemProgramProcesses() {
    static Win32ProgramProcesses instance;
    return instance;
}
