#include "platform/win32/Win32OwnFolder.h"

#include <windows.h>
// after windows.h, which it needs
#include <shlobj.h>

#include <cstdlib>

ResultWith<UniqueHandle> openOwnFile(const std::string& name) {
    wchar_t local[MAX_PATH] = {};
    // A null token: the process's own, whatever user the environment names.
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, local))) {
        return Result::Failed("the user has no local application data folder");
    }
    const std::wstring folder = std::wstring(local) + L"\\Quietwire";
    CreateDirectoryW(folder.c_str(), nullptr); // inherits the profile's access list; one there already is used
    const std::wstring path = folder + L"\\" + std::wstring(name.begin(), name.end());
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return Result::Failed("cannot open " + name + " in the user's local application data (error " +
                                  std::to_string(error) + ")",
                              static_cast<int>(error));
    }
    return file;
}

Result tryLockFile(HANDLE file) {
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        return Result::Done();
    }
    const DWORD error = GetLastError();
    return Result::Failed(error == ERROR_LOCK_VIOLATION ? "another process holds the lock" : "the lock cannot be taken",
                          static_cast<int>(error));
}

void unlockFile(HANDLE file) {
    // Closing the handle would free the lock only when the system gets round to it.
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &at);
}

int64_t readNumber(HANDLE file) {
    char text[32] = {};
    OVERLAPPED at{};
    DWORD read = 0;
    if (!ReadFile(file, text, sizeof text - 1, &read, &at) || read == 0) {
        return 0;
    }
    return std::strtoll(text, nullptr, 10);
}

void writeNumber(HANDLE file, int64_t number) {
    const std::string text = std::to_string(number) + "\r\n";
    OVERLAPPED at{};
    DWORD written = 0;
    if (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, &at)) {
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(text.size());
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
}
