#include "platform/FileSystem.h"
#include "platform/win32/SystemWords.h"
#include "platform/win32/UniqueHandle.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

struct LocalMemoryFree {
    void operator()(void* memory) const { LocalFree(memory); }
};

// Full control for Administrators and SYSTEM, and nothing inherited from the folder: under Program
// Files every user may read what a file inherits, and the file holds the administrator password.
constexpr const char* AdministratorsAndSystemOnly = "D:P(A;;FA;;;BA)(A;;FA;;;SY)";

// The service that installs the system's own files; it may change Program Files and what it holds.
constexpr const char* TrustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// ERROR_STOPPED_ON_SYMLINK ("The create operation stopped after reaching a symbolic link."), which the
// mingw-w64 headers lack.
constexpr DWORD StoppedOnLink = 681;

// Rights that let their holder change a file, what a folder holds, or who may.
constexpr ACCESS_MASK ChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                     WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The thread's last error, in the system's words.
Result failed() {
    const DWORD error = GetLastError();
    return Result::Failed(systemWords(error), static_cast<int>(error));
}

// The entry at path itself: a link is opened, not what it points to.
HANDLE openEntry(const std::string& path, DWORD access) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

DWORD attributesOf(HANDLE entry) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(entry, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// The principals besides whom nobody may change the settings: Administrators, SYSTEM, the installer
// service and the user this program runs as.
class TrustedPrincipals {
public:
    TrustedPrincipals() {
        for (const WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
            std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
            DWORD size = static_cast<DWORD>(sid.size());
            if (CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
                sids_.push_back(std::move(sid));
            }
        }
        PSID installer = nullptr;
        if (ConvertStringSidToSidA(TrustedInstaller, &installer)) {
            const std::unique_ptr<void, LocalMemoryFree> owned(installer);
            const auto* bytes = static_cast<const BYTE*>(installer);
            sids_.emplace_back(bytes, bytes + GetLengthSid(installer));
        }
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            const UniqueHandle owned(token);
            DWORD size = 0;
            GetTokenInformation(token, TokenUser, nullptr, 0, &size);
            std::vector<BYTE> buffer(size);
            if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
                const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
                const auto* bytes = static_cast<const BYTE*>(user);
                sids_.emplace_back(bytes, bytes + GetLengthSid(user));
            }
        }
    }

    bool contains(PSID sid) const {
        for (const std::vector<BYTE>& trusted : sids_) {
            if (EqualSid(sid, const_cast<BYTE*>(trusted.data()))) {
                return true;
            }
        }
        return false;
    }

private:
    std::vector<std::vector<BYTE>> sids_;
};

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

    Result setAttributesNormal(const std::string& path) override {
        UniqueHandle file(openEntry(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
        if (!file.valid() || !plainFile(file.get())) {
            return failed();
        }
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic) != 0 ? Result::Done()
                                                                                                : failed();
    }

    Removal removeEntry(const std::string& path) override {
        UniqueHandle entry(openEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
        if (!entry.valid()) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Removal::Gone : Removal::Failed;
        }
        const DWORD attributes = attributesOf(entry.get());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return Removal::Failed;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            return Removal::Folder;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            FILE_BASIC_INFO basic{};
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            if (!SetFileInformationByHandle(entry.get(), FileBasicInfo, &basic, sizeof basic)) {
                return Removal::Failed;
            }
        }
        // Deleted when the handle closes, which was opened on the entry itself, never on a link's target.
        FILE_DISPOSITION_INFO disposition{TRUE};
        return SetFileInformationByHandle(entry.get(), FileDispositionInfo, &disposition, sizeof disposition)
                   ? Removal::Gone
                   : Removal::Failed;
    }

    Result writeReplacement(const std::string& path, const std::string&, const std::string& bytes) override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(AdministratorsAndSystemOnly, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            return failed();
        }
        const std::unique_ptr<void, LocalMemoryFree> owned(descriptor);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        DWORD error = ERROR_SUCCESS;
        {
            // CREATE_NEW fails on any name already there, a link included, so nothing can redirect the
            // write; shared with nobody, the file cannot be swapped while it is written.
            UniqueHandle file(
                CreateFileA(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file.valid()) {
                return failed();
            }
            DWORD written = 0;
            if (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                written == bytes.size() && FlushFileBuffers(file.get())) {
                return Result::Done();
            }
            error = GetLastError();
        }
        DeleteFileA(path.c_str());
        SetLastError(error);
        return failed();
    }

    Result replaceFile(const std::string& from, const std::string& to) override {
        return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
                   ? Result::Done()
                   : failed();
    }

    Result overwriteFile(const std::string& path, const std::string& bytes) override {
        UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.valid() || !plainFile(file.get())) {
            return failed();
        }
        DWORD written = 0;
        // Cut to length only after the write, so that no moment leaves the file empty.
        return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size() && SetEndOfFile(file.get()) && FlushFileBuffers(file.get())
                   ? Result::Done()
                   : failed();
    }

    bool othersMayChange(const std::string& path) override {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
            return false;
        }
        const std::unique_ptr<void, LocalMemoryFree> owned(descriptor);
        const TrustedPrincipals trusted;
        // An owner may always change who may write; no DACL at all lets everyone do everything.
        if (owner == nullptr || !trusted.contains(owner) || dacl == nullptr) {
            return true;
        }
        BYTE ownerRights[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof ownerRights;
        const bool haveOwnerRights = CreateWellKnownSid(WinCreatorOwnerRightsSid, nullptr, ownerRights, &size);
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (!GetAce(dacl, i, &ace)) {
                return true;
            }
            const auto* header = static_cast<const ACE_HEADER*>(ace);
            // Denials are passed over: at worst an entry they cancel is warned about.
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
                continue;
            }
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            PSID sid = &allowed->SidStart;
            if ((allowed->Mask & ChangeRights) != 0 && !trusted.contains(sid) && !EqualSid(sid, owner) &&
                !(haveOwnerRights && EqualSid(sid, ownerRights))) {
                return true;
            }
        }
        return false;
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

    ResultWith<std::string> readFirstLine(const std::string& path) override {
        UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        std::string content;
        char buffer[4096];
        DWORD n = 0;
        while (file.valid() &&
               ReadFile(file.get(), buffer,
                        static_cast<DWORD>(std::min(sizeof buffer, FirstLineLimit - content.size())), &n, nullptr)) {
            content.append(buffer, n);
            if (n == 0 || content.find('\n') != std::string::npos || content.size() == FirstLineLimit) {
                return content;
            }
        }
        const DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE) {
            return content; // a pipe's writer closed it: its end
        }
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return Result::Failed("it is a folder", static_cast<int>(error));
        }
        SetLastError(error);
        return Result::Failed(lastErrorText(), static_cast<int>(error));
    }

    std::string lastErrorText() override { return systemWords(GetLastError()); }

private:
    // False, with the reason set, for a link or a folder: the settings are never written through one.
    static bool plainFile(HANDLE file) {
        const DWORD attributes = attributesOf(file);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return false;
        }
        if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
            SetLastError(StoppedOnLink);
            return false;
        }
        return true;
    }
};

} // namespace

FileSystem& systemFileSystem() {
    static Win32FileSystem instance;
    return instance;
}
