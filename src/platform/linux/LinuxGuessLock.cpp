#include "platform/GuessLock.h"
#include "platform/linux/OwnFolder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace {

// CLOCK_BOOTTIME: setting the clock moves no penalty, and a suspend does not stop one.
int64_t nowMs() {
    timespec t{};
    ::clock_gettime(CLOCK_BOOTTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int leftUntil(int64_t end) {
    return static_cast<int>(std::clamp<int64_t>(end - nowMs(), 0, INT_MAX));
}

// The penalty's end is kept in the lock file, where a guesser that ends its process early cannot take
// it along.
class FileTurn final : public GuessTurn {
public:
    explicit FileTurn(UniqueFd file) : file_(std::move(file)) {}

    int PenaltyLeft() override {
        char text[32] = {};
        if (::pread(file_.get(), text, sizeof text - 1, 0) <= 0) {
            return 0;
        }
        return leftUntil(std::strtoll(text, nullptr, 10));
    }

    void SetPenalty(int milliseconds) override {
        const std::string end = std::to_string(milliseconds > 0 ? nowMs() + milliseconds : 0) + "\n";
        if (::ftruncate(file_.get(), 0) == 0) {
            static_cast<void>(::pwrite(file_.get(), end.data(), end.size(), 0));
        }
    }

private:
    UniqueFd file_; // closing it gives the lock back
};

// Where the user has no folder of their own: the penalties of this process alone.
class ProcessTurn final : public GuessTurn {
public:
    int PenaltyLeft() override { return leftUntil(end_); }
    void SetPenalty(int milliseconds) override { end_ = milliseconds > 0 ? nowMs() + milliseconds : 0; }

private:
    static inline int64_t end_ = 0;
};

class LinuxGuessLock final : public GuessLock {
public:
    std::unique_ptr<GuessTurn> TryTake() override {
        ResultWith<OwnFile> file = openOwnFile("quietwire-guesses.lock");
        if (!file) {
            return std::make_unique<ProcessTurn>();
        }
        if (::flock(file->fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                return nullptr;
            }
            return std::make_unique<ProcessTurn>();
        }
        return std::make_unique<FileTurn>(std::move(file->fd));
    }
};

} // namespace

GuessLock& systemGuessLock() {
    static LinuxGuessLock instance;
    return instance;
}
