#include "platform/FileSystem.h"
#include "platform/ProgramProcesses.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <tlhelp32.h>

#include <string>

namespace {

constexpr const char* ProgramName = "quietwire.exe";

std::string imagePath(DWORD processId) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process.valid()) {
        return "";
    }
    char path[MAX_PATH * 4];
    DWORD size = sizeof path;
    return QueryFullProcessImageNameA(process.get(), 0, path, &size) != 0 ? std::string(path, size) : "";
}

class Win32ProgramProcesses final : public ProgramProcesses {
public:
    int RunningCopies() override {
        const std::string program = systemFileSystem().executableDirectory() + "\\" + ProgramName;
        const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.valid()) {
            return 0;
        }
        int copies = 0;
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
            if (lstrcmpiA(entry.szExeFile, ProgramName) != 0) {
                continue;
            }
            // Another user's process, seen without administrator rights: only its name can be told.
            const std::string path = imagePath(entry.th32ProcessID);
            copies += path.empty() || lstrcmpiA(path.c_str(), program.c_str()) == 0 ? 1 : 0;
        }
        return copies;
    }
};

} // namespace

ProgramProcesses& systemProgramProcesses() {
    static Win32ProgramProcesses instance;
    return instance;
}
