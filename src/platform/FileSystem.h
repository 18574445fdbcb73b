#pragma once

#include "platform/Result.h"

#include <cstddef>
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
// Each returns whether the call succeeded, as the Win32 calls behind them do; a call that changes a file
// returns a Result, which says why not in the operating system's words.
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
    // Clears read-only, hidden, system and archive of the file at path, so that it can be replaced (on
    // Linux: gives its owner write permission). Never acts through a link: a link fails.
    virtual Result setAttributesNormal(const std::string& path) = 0;
    // What removeEntry found and did.
    enum class Removal {
        Gone,   // nothing is at path now (also when nothing was)
        Folder, // a folder is there and was left alone
        Failed, // something else is there and could not be removed; lastErrorText says why
    };
    // Removes the file or link at path, read-only or not; a link itself, never what it points to.
    virtual Removal removeEntry(const std::string& path) = 0;
    // Creates path as a new file and writes bytes into it through the handle that created it, flushed to
    // the disk, so that no other name, link or file can take the write. Open from its creation to no
    // more users than `original` is: Linux: a plain file original's owner, group and permission bits with
    // the owner's read and write, else 0600; Windows: readable and writable by Administrators and SYSTEM
    // alone, whatever the folder lets others do. Fails, leaving nothing, when anything is at path.
    virtual Result writeReplacement(const std::string& path, const std::string& original, const std::string& bytes) = 0;
    // Moves the file writeReplacement made over another in one step: afterwards `to` holds either its
    // old content or all of `from`'s, never a part; a link at `to` is replaced, not followed.
    virtual Result replaceFile(const std::string& from, const std::string& to) = 0;
    // Makes bytes the whole content of the existing file path, in place, so that the file keeps its
    // owner and permissions, and flushes it to the disk. The space is claimed before the old content
    // is touched where the system allows, so that a full disk leaves the old content whole. Writes only
    // a plain file: a link, a folder or a device at path fails.
    virtual Result overwriteFile(const std::string& path, const std::string& bytes) = 0;
    // True when this process may read the file at path (false also when there is none).
    virtual bool canRead(const std::string& path) = 0;
    // True when the system will not say whether anything is at path (a folder this process may not
    // enter); lastErrorText then says why. Fakes of a file system that hides nothing need not say.
    virtual bool cannotTell(const std::string& path) {
        static_cast<void>(path);
        return false;
    }
    // True when someone other than this process's own user and the system's administrators (root; on
    // Windows Administrators, SYSTEM and the installer service) may change what is at path: write the
    // file, add, remove or rename entries of the folder, or change who may. Linux also looks at the
    // folders above a folder, through which it could be swapped. False when nothing is there.
    virtual bool othersMayChange(const std::string& path) = 0;
    // The stamp of the file at path; nothing when there is none.
    virtual std::optional<FileStamp> fileStamp(const std::string& path) = 0;
    // The beginning of the file at path, read up to the end of its first line (a terminal or a pipe is not
    // read beyond it) and never more than FirstLineLimit bytes, whatever the file holds; the caller cuts
    // the line from it. A folder fails with "it is a folder", where the system would say otherwise.
    static constexpr size_t FirstLineLimit = 65536;
    virtual ResultWith<std::string> readFirstLine(const std::string& path) = 0;
    // The operating system's words for why the last call that failed on this thread did so (removeEntry,
    // canRead, cannotTell).
    virtual std::string lastErrorText() = 0;
};

// The operating system's implementation, provided by the backend the build links.
FileSystem& systemFileSystem();
