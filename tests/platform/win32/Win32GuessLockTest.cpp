// The guess lock in the user's own folder, on the system (under Wine, the profile of the Wine prefix).
#include "platform/GuessLock.h"

#include <gtest/gtest.h>

#include <memory>

TEST(GuessLock, OneTurnAtATimeAndAPenaltyOutlivesTheTurnThatSetIt) {
    GuessLock& lock = systemGuessLock();
    {
        const std::unique_ptr<GuessTurn> first = lock.TryTake();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(lock.TryTake(), nullptr) << "a second turn while the first is out";
        first->SetPenalty(1000); // and given back at once, as by a guesser ended during its second
    }
    const std::unique_ptr<GuessTurn> next = lock.TryTake();
    ASSERT_NE(next, nullptr);
    EXPECT_GT(next->PenaltyLeft(), 0);
    EXPECT_LE(next->PenaltyLeft(), 1000);
    next->SetPenalty(0);
    EXPECT_EQ(next->PenaltyLeft(), 0);
}
