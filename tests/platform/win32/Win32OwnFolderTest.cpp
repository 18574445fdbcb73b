// The user's own folder for locks and the guess lock kept there, on the system (under Wine, its profile
// of the Wine prefix).
#include "platform/win32/Win32OwnFolder.h"
#include "platform/GuessLock.h"

#include <windows.h>
// after windows.h, which it needs
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

TEST(OwnFolder, ALockFileLivesInTheUsersLocalApplicationDataAndOneHandleAtATimeHoldsIt) {
    std::string problem;
    const UniqueHandle first = openOwnFile("quietwire-test.lock", problem);
    ASSERT_TRUE(first.valid()) << problem;
    const UniqueHandle second = openOwnFile("quietwire-test.lock", problem);
    ASSERT_TRUE(second.valid()) << problem << ": the user's other processes open it too";

    char local[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local)));
    EXPECT_NE(GetFileAttributesA((std::string(local) + "\\Quietwire\\quietwire-test.lock").c_str()),
              INVALID_FILE_ATTRIBUTES);

    bool held = false;
    ASSERT_TRUE(tryLockFile(first.get(), held));
    writeNumber(first.get(), 4242);
    EXPECT_FALSE(tryLockFile(second.get(), held));
    EXPECT_TRUE(held) << "refused because another handle holds it";
    EXPECT_EQ(readNumber(second.get()), 4242) << "the holder's number stays readable";
    unlockFile(first.get());
    EXPECT_TRUE(tryLockFile(second.get(), held));
    unlockFile(second.get());
}

TEST(OwnFolder, OneGuessTurnAtATimeAndAPenaltyOutlivesTheTurnThatSetIt) {
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
