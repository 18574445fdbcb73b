#pragma once

#include "platform/Result.h"
#include "platform/linux/UniqueFd.h"

#include <string>
#include <sys/types.h>
#include <vector>

// Where this process's user keeps a lock: a folder in which no other user can create, rename or remove
// names, so that nobody else can plant the lock first (and stop the user's program, or skip a wait) or
// take it away. The user is the process's real identity, never what the environment says.

// The folder at path, open, when it is a directory that uid owns and neither group nor others may
// write to; create makes it (0700), and its parent, first when they are missing. A private folder
// admits group and others to nothing at all (0700), as a runtime directory must be: root owns /etc too.
UniqueFd openOwnedFolder(const std::string& path, uid_t uid, bool create, bool privateOnly = false);

struct OwnFolderCandidate {
    std::string path;
    bool create = false;
    bool privateOnly = false;
};

// Where to look, best first: $XDG_RUNTIME_DIR; then for root /run/quietwire (made) and the program's
// data folder; for another user /run/user/UID and quietwire in the .cache of the home the password
// database gives (made). Every one is checked with openOwnedFolder before it is used.
std::vector<OwnFolderCandidate> ownFolderCandidates();

// The file name in the first candidate that is uid's own and in which it can be opened for reading and
// writing (made 0600 when new); or why there is none.
struct OwnFile {
    UniqueFd fd;
    std::string path;
};
ResultWith<OwnFile> openOwnFile(const std::string& name, const std::vector<OwnFolderCandidate>& candidates, uid_t uid);
ResultWith<OwnFile> openOwnFile(const std::string& name);
