#include "platform/linux/InstanceLock.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

pid_t readHolder(int fd) {
    // The holder writes its id just after it took the lock: a reader may come in between.
    for (int attempt = 0; attempt < 40; ++attempt) {
        char text[32] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        if (n > 0) {
            const long id = std::strtol(text, nullptr, 10);
            return id > 0 ? static_cast<pid_t>(id) : 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

} // namespace

InstanceLock::InstanceLock(ResultWith<UniqueFd> file) {
    if (!file) {
        problem_ = file.reason();
        return;
    }
    file_ = std::move(*file);
    // flock, not a POSIX record lock: two opens of the file conflict in one process too, and closing
    // another descriptor of the file does not drop it.
    if (::flock(file_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            heldElsewhere_ = true;
            holder_ = readHolder(file_.get());
        } else {
            problem_ = std::string("the lock cannot be taken: ") + std::strerror(errno);
        }
        file_.reset();
        return;
    }
    const std::string id = std::to_string(::getpid()) + "\n";
    // A copy that cannot write its id holds the lock all the same; a second one ends without naming it.
    if (::ftruncate(file_.get(), 0) == 0) {
        static_cast<void>(::pwrite(file_.get(), id.data(), id.size(), 0));
    }
}
