#include "platform/GuessLock.h"
#include "platform/win32/Win32OwnFolder.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>

namespace {

// Milliseconds since the machine started: setting the clock moves no penalty.
int leftUntil(int64_t end) {
    return static_cast<int>(std::clamp<int64_t>(end - static_cast<int64_t>(GetTickCount64()), 0, INT_MAX));
}

int64_t endAfter(int milliseconds) {
    return milliseconds > 0 ? static_cast<int64_t>(GetTickCount64()) + milliseconds : 0;
}

// The penalty's end is kept in the lock file, where a guesser that ends its process early cannot take
// it along.
class FileTurn final : public GuessTurn {
public:
    explicit FileTurn(UniqueHandle file) : file_(std::move(file)) {}
    ~FileTurn() override { unlockFile(file_.get()); }
    FileTurn(const FileTurn&) = delete;
    FileTurn& operator=(const FileTurn&) = delete;

    int PenaltyLeft() override { return leftUntil(readNumber(file_.get())); }
    void SetPenalty(int milliseconds) override { writeNumber(file_.get(), endAfter(milliseconds)); }

private:
    UniqueHandle file_;
};

// Where the user has no folder of their own: the penalties of this process alone.
class ProcessTurn final : public GuessTurn {
public:
    int PenaltyLeft() override { return leftUntil(end_); }
    void SetPenalty(int milliseconds) override { end_ = endAfter(milliseconds); }

private:
    static inline int64_t end_ = 0;
};

class Win32GuessLock final : public GuessLock {
public:
    std::unique_ptr<GuessTurn> TryTake() override {
        ResultWith<UniqueHandle> file = openOwnFile("quietwire-guesses.lock");
        if (!file) {
            return std::make_unique<ProcessTurn>();
        }
        if (const Result locked = tryLockFile(file->get()); !locked) {
            if (locked.code() == ERROR_LOCK_VIOLATION) {
                return nullptr;
            }
            return std::make_unique<ProcessTurn>();
        }
        return std::make_unique<FileTurn>(std::move(*file));
    }
};

} // namespace

GuessLock& systemGuessLock() {
    static Win32GuessLock instance;
    return instance;
}
