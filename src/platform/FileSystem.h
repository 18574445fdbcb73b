#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What tells one version of a file from another: which file it is, how long, when last written.
struct FileStamp {
    uint64_t device = 0;
    uint64_t identity = 0; // the inode, or the file index
    uint64_t size = 0;
    int64_t written = 0; // in the system's finest unit
    bool operator==(const FileStamp&) const = default;
};

// The file operations the settings and utility routines ask of the operating system.
// Each returns whether the call succeeded, as the Win32 calls behind them do.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Directory of the running executable, without a trailing separator unless it is a root.
    virtual std::string executableDirectory() = 0;
    // Directories of the program's own files (settings) and of its documentation (readme.txt), written
    // as executableDirectory is: the executable's own unless the build installs them elsewhere.
    virtual std::string dataDirectory() { return executableDirectory(); }
    virtual std::string documentDirectory() { return executableDirectory(); }
    // '\\' on Windows, '/' on Linux.
    virtual char pathSeparator() const = 0;
    // True when the attributes of path can be read, which is when something exists there.
    virtual bool getFileAttributes(const std::string& path) = 0;
    virtual bool setCurrentDirectory(const std::string& path) = 0;
    // Clears read-only, hidden, system and archive, so that the file can be replaced.
    virtual bool setAttributesNormal(const std::string& path) = 0;
    virtual bool deleteFile(const std::string& path) = 0;
    // Creates path as a new, empty file that is to be filled and moved over `original`, open from its
    // creation to no more users than `original` is. Linux: original's owner, group and permission bits,
    // with the owner's read and write (0600 when there is no original). Windows: readable and writable
    // by Administrators and SYSTEM alone, whatever the folder lets others do. Fails when path exists
    // or the file cannot be given that.
    virtual bool createReplacement(const std::string& path, const std::string& original) = 0;
    // Moves a completely written file over another in one step, flushed to the disk first:
    // afterwards `to` holds either its old content or all of `from`'s, never a part.
    virtual bool replaceFile(const std::string& from, const std::string& to) = 0;
    // Makes bytes the whole content of the existing file path, in place, so that the file keeps its
    // owner and permissions, and flushes it to the disk. The space is claimed before the old content
    // is touched where the system allows, so that a full disk leaves the old content whole.
    virtual bool overwriteFile(const std::string& path, const std::string& bytes) = 0;
    // True when this process may read the file at path (false also when there is none).
    virtual bool canRead(const std::string& path) = 0;
    // True when the system will not say whether anything is at path (a folder this process may not
    // enter); lastErrorText then says why. Fakes of a file system that hides nothing need not say.
    virtual bool cannotTell(const std::string& path) {
        static_cast<void>(path);
        return false;
    }
    // The stamp of the file at path; nothing when there is none.
    virtual std::optional<FileStamp> fileStamp(const std::string& path) = 0;
    // The operating system's words for why the last call that failed on this thread did so.
    virtual std::string lastErrorText() = 0;
};

// The operating system's implementation, provided by the backend the build links.
FileSystem& systemFileSystem();
