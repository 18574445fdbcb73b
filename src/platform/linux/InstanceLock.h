#pragma once

#include "platform/Result.h"
#include "platform/linux/UniqueFd.h"

#include <string>
#include <sys/types.h>

// The lock a running copy of the program holds for its user from its first question until it ends, in
// a file of the user's own folder (OwnFolder.h). The holder writes its process id into the file, so that
// a second copy can name it.
class InstanceLock {
public:
    // Takes the lock of the open file, or holds none where there is no file (nowhere to keep a lock).
    explicit InstanceLock(ResultWith<UniqueFd> file);

    // True when another process holds the lock.
    bool heldElsewhere() const { return heldElsewhere_; }
    // That process's id; 0 when it cannot be told.
    pid_t holder() const { return holder_; }
    // Why no lock is held although no other holder was found; empty while this process holds it.
    const std::string& problem() const { return problem_; }

private:
    UniqueFd file_;
    bool heldElsewhere_ = false;
    pid_t holder_ = 0;
    std::string problem_;
};
