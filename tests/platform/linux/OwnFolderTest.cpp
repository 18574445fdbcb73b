// The folder where a user's locks live and the guess lock kept there, on the real file system (root
// gives folders to another user).
#include "platform/linux/OwnFolder.h"
#include "platform/GuessLock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t Nobody = 65534;

class OwnFolder : public ::testing::Test {
protected:
    void SetUp() override {
        if (::getuid() != 0) {
            GTEST_SKIP() << "needs root, to give folders to another user";
        }
    }

    // A folder in the test's directory with that mode and owner.
    std::string folder(const std::string& name, mode_t mode, uid_t owner) const {
        const std::string path = dir_.file(name);
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        EXPECT_EQ(::chown(path.c_str(), owner, static_cast<gid_t>(-1)), 0);
        return path;
    }
    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }

    TempDir dir_;
};

} // namespace

TEST_F(OwnFolder, IsTheUsersOwnOnlyWhenTheyOwnItAndNobodyElseMayWriteInIt) {
    EXPECT_TRUE(openOwnedFolder(folder("private", 0700, 0), 0, false).valid());
    EXPECT_TRUE(openOwnedFolder(folder("readable", 0755, 0), 0, false).valid());
    EXPECT_FALSE(openOwnedFolder(folder("group", 0770, 0), 0, false).valid());
    EXPECT_FALSE(openOwnedFolder(folder("sticky", 01777, 0), 0, false).valid()) << "as /tmp";
    EXPECT_FALSE(openOwnedFolder(folder("nobodys", 0700, Nobody), 0, false).valid());
    EXPECT_TRUE(openOwnedFolder(dir_.file("nobodys"), Nobody, false).valid());
    EXPECT_FALSE(openOwnedFolder(dir_.file("missing"), 0, false).valid());
    ASSERT_TRUE(openOwnedFolder(dir_.file("made/here"), 0, true).valid());
    EXPECT_EQ(modeOf(dir_.file("made/here")), 0700u);
    EXPECT_FALSE(openOwnedFolder(folder("planted", 0700, Nobody), 0, true).valid()) << "made first by another";
}

TEST_F(OwnFolder, ALockIsKeptInTheFirstFolderThatIsTheUsersOwnNeverInOnePlantedByAnother) {
    const std::string planted = folder("planted", 0700, Nobody);
    writeBytes(planted + "/quietwire.lock", "1\n");
    const std::string open = folder("open", 01777, 0);
    const std::string own = folder("own", 0700, 0);

    const OwnFile file = openOwnFile("quietwire.lock", {{planted}, {open}, {own}}, 0);
    ASSERT_TRUE(file.fd.valid()) << file.problem;
    EXPECT_EQ(file.path, own + "/quietwire.lock");
    EXPECT_EQ(modeOf(file.path), 0600u);

    const OwnFile none = openOwnFile("quietwire.lock", {{planted}, {open}}, 0);
    EXPECT_FALSE(none.fd.valid());
    EXPECT_NE(none.problem.find(planted), std::string::npos) << none.problem;
}

TEST_F(OwnFolder, OneTurnAtATimeAndAPenaltyOutlivesTheTurnThatSetIt) {
    const char* before = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("XDG_RUNTIME_DIR", folder("run", 0700, 0).c_str(), 1);
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
    EXPECT_EQ(modeOf(dir_.file("run/quietwire-guesses.lock")), 0600u);
    if (before != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}
