#include "platform/linux/OwnFolder.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string homeOf(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr) {
        return {};
    }
    return found->pw_dir;
}

} // namespace

UniqueFd openOwnedFolder(const std::string& path, uid_t uid, bool create, bool privateOnly) {
    if (path.empty() || path.front() != '/') {
        return {};
    }
    if (create) {
        // One that is there already is checked as any other.
        if (const size_t slash = path.rfind('/'); slash > 0) {
            ::mkdir(path.substr(0, slash).c_str(), 0700);
        }
        ::mkdir(path.c_str(), 0700);
    }
    // Checked on the open folder, and used only through it: renaming something else into its place
    // afterwards changes nothing.
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid ||
        (st.st_mode & (privateOnly ? (S_IRWXG | S_IRWXO) : (S_IWGRP | S_IWOTH))) != 0) {
        return {};
    }
    return folder;
}

std::vector<OwnFolderCandidate> ownFolderCandidates() {
    const uid_t uid = ::getuid();
    std::vector<OwnFolderCandidate> candidates;
    // `su` without a dash keeps the other user's; the check passes it over.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        candidates.push_back({runtime, false, true});
    }
    if (uid == 0) {
        // Only root may create names in /run. A service whose /run is read-only keeps its lock beside its
        // settings, which only root may write to as well.
        candidates.push_back({"/run/quietwire", true});
        candidates.push_back({systemFileSystem().dataDirectory(), false});
    } else {
        candidates.push_back({"/run/user/" + std::to_string(uid), false});
        if (const std::string home = homeOf(uid); !home.empty()) {
            candidates.push_back({home + "/.cache/quietwire", true});
        }
    }
    return candidates;
}

ResultWith<OwnFile> openOwnFile(const std::string& name, const std::vector<OwnFolderCandidate>& candidates, uid_t uid) {
    std::string problem;
    for (const OwnFolderCandidate& candidate : candidates) {
        const UniqueFd folder = openOwnedFolder(candidate.path, uid, candidate.create, candidate.privateOnly);
        if (!folder.valid()) {
            problem += (problem.empty() ? "" : "; ") + candidate.path + " is missing or not this user's alone";
            continue;
        }
        // A read-only folder (a service's sandbox) holds no lock that can be written; the next may.
        UniqueFd fd(::openat(folder.get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.valid()) {
            return OwnFile{std::move(fd), candidate.path + "/" + name};
        }
        problem += (problem.empty() ? "" : "; ") + candidate.path + "/" + name + ": " + std::strerror(errno);
    }
    return Result::Failed(problem.empty() ? "no folder to look in" : problem);
}

ResultWith<OwnFile> openOwnFile(const std::string& name) {
    return openOwnFile(name, ownFolderCandidates(), ::getuid());
}
