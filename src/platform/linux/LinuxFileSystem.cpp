#include "platform/FileSystem.h"
#include "platform/linux/ProgramLayout.h"
#include "platform/linux/UniqueFd.h"

#include <algorithm>
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

// The plain file at path, opened without following a link there (ELOOP) and without waiting on a FIFO
// someone put in its place; anything but a plain file fails with EINVAL.
UniqueFd openPlainFile(const std::string& path, int access) {
    UniqueFd fd(::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.valid() && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        errno = EINVAL;
        return UniqueFd();
    }
    return fd;
}

// The last failed call's errno, in the system's words.
Result failed() {
    return Result::Errno(errno);
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
    // Read once: the settings file's path is asked for at every tick, and the program's own folder does not
    // move under a running copy (a package upgrade replacing the file would only add " (deleted)").
    std::string executableDirectory() override {
        static const std::string directory = [] {
            char buffer[PATH_MAX];
            const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
            return n <= 0 ? std::string(".") : parentDirectory(std::string(buffer, static_cast<size_t>(n)));
        }();
        return directory;
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

    Result setAttributesNormal(const std::string& path) override {
        UniqueFd fd = openPlainFile(path, O_RDONLY);
        struct stat st {};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
            return failed();
        }
        return ::fchmod(fd.get(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0 ? Result::Done() : failed();
    }

    Removal removeEntry(const std::string& path) override {
        // unlink never follows a link; a folder it refuses with EISDIR.
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
            return Removal::Gone;
        }
        return errno == EISDIR ? Removal::Folder : Removal::Failed;
    }

    Result writeReplacement(const std::string& path, const std::string& original, const std::string& bytes) override {
        struct stat old {};
        const bool hasOriginal = ::lstat(original.c_str(), &old) == 0 && S_ISREG(old.st_mode);
        // Created 0600 whatever the umask, so that nobody else can open it before it gets the old
        // file's owner and mode; an open descriptor would outlive any later chmod. O_EXCL and
        // O_NOFOLLOW: a name someone else put there, a link above all, is never written through.
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
        if (!fd.valid()) {
            return failed();
        }
        const bool written = (!hasOriginal || (::fchown(fd.get(), old.st_uid, old.st_gid) == 0 &&
                                               ::fchmod(fd.get(), (old.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0)) &&
                             writeAllAt(fd.get(), bytes, 0) && ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
        if (!written) {
            Result why = failed();
            ::unlink(path.c_str());
            return why;
        }
        return Result::Done();
    }

    Result replaceFile(const std::string& from, const std::string& to) override {
        // The rename must be on the disk before the save counts as done; the data already is.
        if (::rename(from.c_str(), to.c_str()) != 0) {
            return failed();
        }
        syncPath(parentDirectory(to), O_RDONLY | O_DIRECTORY);
        return Result::Done();
    }

    Result overwriteFile(const std::string& path, const std::string& bytes) override {
        UniqueFd fd = openPlainFile(path, O_WRONLY);
        if (!fd.valid()) {
            return failed();
        }
        const off_t size = static_cast<off_t>(bytes.size());
        // Blocks claimed now cannot run out half way through the write.
        if (size > 0 && ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
            errno != ENOSYS) {
            return failed();
        }
        // Written over the old content before the file is cut to length: a process stopped in
        // between leaves the new text followed by a tail of the old, never an empty file.
        if (!writeAllAt(fd.get(), bytes, 0) || ::ftruncate(fd.get(), size) != 0 || ::fsync(fd.get()) != 0) {
            return failed();
        }
        return ::close(fd.release()) == 0 ? Result::Done() : failed();
    }

    bool canRead(const std::string& path) override {
        return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
    }

    bool othersMayChange(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            return false;
        }
        if (foreign(st) || (S_ISLNK(st.st_mode) && (::stat(path.c_str(), &st) != 0 || foreign(st)))) {
            return true;
        }
        // Sticky or not: a folder others may write lets them plant names in it.
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            return true;
        }
        if (!S_ISDIR(st.st_mode)) {
            return false;
        }
        // Whoever may rename an entry of a folder above may put another folder in this one's place. In a
        // sticky folder (/tmp) only the entry's owner may, and that owner was checked above.
        char real[PATH_MAX];
        if (::realpath(path.c_str(), real) == nullptr) {
            return false;
        }
        for (std::string above = parentDirectory(real), below = real; above != below;
             below = above, above = parentDirectory(above)) {
            if (::stat(above.c_str(), &st) != 0) {
                return false;
            }
            if (foreign(st) || ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)) {
                return true;
            }
        }
        return false;
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

    ResultWith<std::string> readFirstLine(const std::string& path) override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        std::string content;
        char buffer[4096];
        while (fd.valid()) {
            const ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, FirstLineLimit - content.size()));
            if (n > 0) {
                content.append(buffer, static_cast<size_t>(n));
            }
            if (n == 0 || content.find('\n') != std::string::npos || content.size() == FirstLineLimit) {
                return content;
            }
            if (n < 0 && errno != EINTR) {
                break;
            }
        }
        // A folder opens and only reading it fails; one this user may not open fails the opening.
        const int error = errno;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return Result::Failed("it is a folder", error);
        }
        return Result::Errno(error);
    }

    std::string lastErrorText() override { return std::generic_category().message(errno); }

private:
    // Owned by someone other than this process's user and root.
    static bool foreign(const struct stat& st) { return st.st_uid != ::geteuid() && st.st_uid != 0; }

    std::string orExecutableDirectory(const std::string& installed) {
        return installed.empty() ? executableDirectory() : installed;
    }
};

} // namespace

FileSystem& systemFileSystem() {
    static LinuxFileSystem instance;
    return instance;
}
