#pragma once

#include "platform/GuessLock.h"

#include <memory>
#include <stdexcept>
#include <vector>

// The user's turn, shared by every process: refused for as many tries as another process is said to
// hold it. Penalties are written down, not timed; one set is over by the time anyone reads it.
class FakeGuessLock : public GuessLock {
public:
    int heldElsewhere = 0;
    int penaltyLeft = 0; // left over by an earlier process
    std::vector<int> penalties;
    int turnsTaken = 0;

    std::unique_ptr<GuessTurn> TryTake() override {
        if (out_) {
            throw std::logic_error("the turn is asked for again while this process holds it: it would wait forever");
        }
        if (heldElsewhere > 0) {
            --heldElsewhere;
            return nullptr;
        }
        ++turnsTaken;
        return std::make_unique<Turn>(*this);
    }

private:
    struct Turn : GuessTurn {
        explicit Turn(FakeGuessLock& lock) : lock(lock) { lock.out_ = true; }
        ~Turn() override { lock.out_ = false; }
        int PenaltyLeft() override { return lock.penaltyLeft; }
        void SetPenalty(int milliseconds) override {
            lock.penalties.push_back(milliseconds);
            lock.penaltyLeft = 0;
        }
        FakeGuessLock& lock;
    };
    bool out_ = false;
};
