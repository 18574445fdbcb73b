#pragma once

#include <memory>

// One user's turn at comparing an administrator password, shared by every process of the program and
// of quietwirectl that runs as that user (the process's real identity), so that guesses made in
// parallel processes wait for each other. Another user has a turn of their own.
class GuessTurn {
public:
    virtual ~GuessTurn() = default; // gives the turn back
    // Milliseconds until the penalty last set in this user's turn is over; 0 when none is running. It
    // counts also when the process that set it has ended.
    virtual int PenaltyLeft() = 0;
    // A penalty that ends milliseconds from now (0 ends the running one).
    virtual void SetPenalty(int milliseconds) = 0;
};

class GuessLock {
public:
    virtual ~GuessLock() = default;
    // The user's turn, or nothing while another process of the same user holds it. Where the system
    // offers no place for a lock of the user's own, a turn of this process alone.
    virtual std::unique_ptr<GuessTurn> TryTake() = 0;
};

GuessLock& systemGuessLock();
