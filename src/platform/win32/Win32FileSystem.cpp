#include "platform/FileSystem.h"
#include "platform/win32/UniqueHandle.h"

#include <memory>
#include <string>
#include <windows.h>

#include <sddl.h>

namespace {

struct LocalMemoryFree {
    void operator()(void* memory) const { LocalFree(memory); }
};

// Full control for Administrators and SYSTEM, and nothing inherited from the folder: under Program
// Files every user may read what a file inherits, and the file holds the administrator password.
constexpr const char* AdministratorsAndSystemOnly = "D:P(A;;FA;;;BA)(A;;FA;;;SY)";

class Win32FileSystem final : public FileSystem {
public:
    std::string executableDirectory() override {
        std::string path(MAX_PATH, '\0');
        for (;;) {
            const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (n == 0) {
                return ".";
            }
            if (n < path.size()) {
                path.resize(n);
                break;
            }
            path.resize(path.size() * 2);
        }
        std::string dir = path.substr(0, path.find_last_of('\\'));
        if (!dir.empty() && dir.back() == ':') {
            dir += '\\'; // a drive root keeps its backslash: C:\ .
        }
        return dir;
    }

    char pathSeparator() const override { return '\\'; }

    bool getFileAttributes(const std::string& path) override {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    bool cannotTell(const std::string& path) override {
        return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED;
    }

    bool setCurrentDirectory(const std::string& path) override { return SetCurrentDirectoryA(path.c_str()) != 0; }

    bool setAttributesNormal(const std::string& path) override {
        return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
    }

    bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

    bool createReplacement(const std::string& path, const std::string&) override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(AdministratorsAndSystemOnly, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            return false;
        }
        const std::unique_ptr<void, LocalMemoryFree> owned(descriptor);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        UniqueHandle file(
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.valid();
    }

    bool replaceFile(const std::string& from, const std::string& to) override {
        {
            // The profile writer leaves its data to the cache; it must be on the disk before the move.
            UniqueHandle file(
                CreateFileA(from.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file.valid() || !FlushFileBuffers(file.get())) {
                return false;
            }
        }
        return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool overwriteFile(const std::string& path, const std::string& bytes) override {
        UniqueHandle file(
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            return false;
        }
        DWORD written = 0;
        // Cut to length only after the write, so that no moment leaves the file empty.
        return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size() && SetEndOfFile(file.get()) && FlushFileBuffers(file.get());
    }

    bool canRead(const std::string& path) override {
        return UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr))
            .valid();
    }

    std::optional<FileStamp> fileStamp(const std::string& path) override {
        UniqueHandle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!file.valid() || !GetFileInformationByHandle(file.get(), &info)) {
            return std::nullopt;
        }
        const auto join = [](DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; };
        return FileStamp{
            info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
            join(info.nFileSizeHigh, info.nFileSizeLow),
            static_cast<int64_t>(join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime))};
    }

    std::string lastErrorText() override {
        const DWORD error = GetLastError();
        char text[512];
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                 sizeof text, nullptr);
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) {
            --n;
        }
        return n > 0 ? std::string(text, n) : "error " + std::to_string(error);
    }
};

} // namespace

FileSystem& systemFileSystem() {
    static Win32FileSystem instance;
    return instance;
}
