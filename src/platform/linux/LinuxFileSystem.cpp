#include "platform/FileSystem.h"
#include "platform/linux/ProgramLayout.h"
#include "platform/linux/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

bool syncPath(const std::string& path, int flags) {
    UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC));
    return fd.valid() && ::fsync(fd.get()) == 0;
}

bool writeAllAt(int fd, const std::string& bytes, off_t offset) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string parentDirectory(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

class LinuxFileSystem final : public FileSystem {
public:
    std::string executableDirectory() override {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) {
            return ".";
        }
        return parentDirectory(std::string(buffer, static_cast<size_t>(n)));
    }

    std::string dataDirectory() override { return orExecutableDirectory(ProgramLayout::dataDirectory()); }

    std::string documentDirectory() override { return orExecutableDirectory(ProgramLayout::documentDirectory()); }

    char pathSeparator() const override { return '/'; }

    bool getFileAttributes(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    bool cannotTell(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) != 0 && errno == EACCES;
    }

    bool setCurrentDirectory(const std::string& path) override { return ::chdir(path.c_str()) == 0; }

    bool setAttributesNormal(const std::string& path) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            return false;
        }
        return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
    }

    bool deleteFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

    bool createReplacement(const std::string& path, const std::string& original) override {
        struct stat old {};
        const bool hasOriginal = ::stat(original.c_str(), &old) == 0;
        // Created 0600 whatever the umask, so that nobody else can open it before it gets the old
        // file's owner and mode; an open descriptor would outlive any later chmod.
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
        if (!fd.valid()) {
            return false;
        }
        if (hasOriginal && (::fchown(fd.get(), old.st_uid, old.st_gid) != 0 ||
                            ::fchmod(fd.get(), (old.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0)) {
            const int error = errno;
            ::unlink(path.c_str());
            errno = error;
            return false;
        }
        return true;
    }

    bool replaceFile(const std::string& from, const std::string& to) override {
        // The data must be on the disk before the rename makes it the settings file, and the rename
        // itself must be on the disk before the save counts as done.
        if (!syncPath(from, O_RDONLY)) {
            return false;
        }
        if (::rename(from.c_str(), to.c_str()) != 0) {
            return false;
        }
        syncPath(parentDirectory(to), O_RDONLY | O_DIRECTORY);
        return true;
    }

    bool overwriteFile(const std::string& path, const std::string& bytes) override {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        if (!fd.valid()) {
            return false;
        }
        const off_t size = static_cast<off_t>(bytes.size());
        // Blocks claimed now cannot run out half way through the write.
        if (size > 0 && ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
            errno != ENOSYS) {
            return false;
        }
        // Written over the old content before the file is cut to length: a process stopped in
        // between leaves the new text followed by a tail of the old, never an empty file.
        if (!writeAllAt(fd.get(), bytes, 0) || ::ftruncate(fd.get(), size) != 0 || ::fsync(fd.get()) != 0) {
            return false;
        }
        return ::close(fd.release()) == 0;
    }

    bool canRead(const std::string& path) override {
        return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
    }

    std::optional<FileStamp> fileStamp(const std::string& path) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            return std::nullopt;
        }
        return FileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                         static_cast<uint64_t>(st.st_size),
                         static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    }

    std::string lastErrorText() override { return std::generic_category().message(errno); }

private:
    std::string orExecutableDirectory(const std::string& installed) {
        return installed.empty() ? executableDirectory() : installed;
    }
};

} // namespace

FileSystem& systemFileSystem() {
    static LinuxFileSystem instance;
    return instance;
}
