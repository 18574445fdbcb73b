#pragma once

#include "platform/GuessLock.h"

#include <memory>
#include <stdexcept>
#include <vector>

// The user's turn as one lock that every process shares: a turn is refused while another is out, and
// for as many more tries as another process is said to hold it. Penalties are written down, not timed.
class FakeGuessLock : public GuessLock {
public:
    int heldElsewhere = 0;      // tries refused because another process has the turn
    int penaltyLeft = 0;        // what the stored penalty has left, as the next turn reads it
    std::vector<int> penalties; // every penalty set, in order
    bool out = false;           // a turn is taken and not given back
    int turnsTaken = 0;

    std::unique_ptr<GuessTurn> TryTake() override {
        if (out) {
            throw std::logic_error("the turn is asked for again while this process holds it: it would wait forever");
        }
        if (heldElsewhere > 0) {
            --heldElsewhere;
            return nullptr;
        }
        out = true;
        ++turnsTaken;
        return std::make_unique<Turn>(*this);
    }

private:
    class Turn : public GuessTurn {
    public:
        explicit Turn(FakeGuessLock& lock) : lock_(lock) {}
        ~Turn() override { lock_.out = false; }
        int PenaltyLeft() override { return lock_.penaltyLeft; }
        void SetPenalty(int milliseconds) override {
            lock_.penalties.push_back(milliseconds);
            lock_.penaltyLeft = 0; // served by the time anyone else reads it
        }

    private:
        FakeGuessLock& lock_;
    };
};
