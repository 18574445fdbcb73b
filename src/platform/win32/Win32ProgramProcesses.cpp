#include "platform/FileSystem.h"
#include "platform/ProgramProcesses.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <sddl.h>
#include <tlhelp32.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* ProgramName = "quietwire.exe";

std::string imagePath(HANDLE process) {
    char path[MAX_PATH * 4];
    DWORD size = sizeof path;
    return QueryFullProcessImageNameA(process, 0, path, &size) != 0 ? std::string(path, size) : "";
}

// The process's token, or nothing where this user may not read it.
struct Token {
    explicit Token(HANDLE process) : handle(open(process)) {}
    static HANDLE open(HANDLE process) {
        HANDLE token = nullptr;
        return OpenProcessToken(process, TOKEN_QUERY, &token) != 0 ? token : nullptr;
    }
    UniqueHandle handle;
};

std::optional<bool> elevated(const Token& token) {
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!token.handle.valid() ||
        GetTokenInformation(token.handle.get(), TokenElevation, &elevation, sizeof elevation, &size) == 0) {
        return std::nullopt;
    }
    return elevation.TokenIsElevated != 0;
}

// DOMAIN\name, or the SID where the account has no name here.
std::string userOf(const Token& token) {
    DWORD size = 0;
    if (!token.handle.valid()) {
        return "";
    }
    GetTokenInformation(token.handle.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || GetTokenInformation(token.handle.get(), TokenUser, buffer.data(), size, &size) == 0) {
        return "";
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use{};
    if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use) != 0) {
        return domainSize > 0 ? std::string(domain) + "\\" + name : std::string(name);
    }
    char* text = nullptr;
    if (ConvertSidToStringSidA(sid, &text) == 0) {
        return "";
    }
    std::string sidText(text);
    LocalFree(text);
    return sidText;
}

class Win32ProgramProcesses final : public ProgramProcesses {
public:
    // Whether a copy is suspended stays unknown: only a snapshot of each of its threads would tell.
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
            const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
            if (!process.valid()) {
                // Another user's process, seen without administrator rights: only its name can be told.
                copies.push_back({.processId = entry.th32ProcessID, .knownByNameOnly = true});
            } else if (lstrcmpiA(imagePath(process.get()).c_str(), program.c_str()) == 0) {
                const Token token(process.get());
                copies.push_back(
                    {.processId = entry.th32ProcessID, .user = userOf(token), .mayClose = elevated(token)});
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
