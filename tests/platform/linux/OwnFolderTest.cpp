// The folder where a user's locks live, on the real file system (root gives folders to another user).
#include "platform/linux/OwnFolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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

TEST_F(OwnFolder, ALockGoesInTheFirstFolderTheUserOwnsAloneNeverInOneAnotherMadeOrAllMayWrite) {
    const std::string planted = folder("planted", 0700, Nobody);
    writeBytes(planted + "/quietwire.lock", "1\n");
    const std::string group = folder("group", 0770, 0);
    const std::string open = folder("open", 01777, 0); // as /tmp
    const std::string own = folder("own", 0755, 0);
    const ResultWith<OwnFile> file =
        openOwnFile("quietwire.lock", {{planted, true}, {group}, {open}, {dir_.file("gone")}, {own}}, 0);
    ASSERT_TRUE(file) << file.reason();
    EXPECT_TRUE(file->fd.valid());
    EXPECT_EQ(file->path, own + "/quietwire.lock");
    EXPECT_EQ(modeOf(file->path), 0600u);
    EXPECT_TRUE(openOwnedFolder(planted, Nobody, false).valid()) << "the other user's own";
    // A runtime directory named in the environment must be private: root owns /etc as well.
    const std::string runtime = folder("runtime", 0700, 0);
    EXPECT_EQ(openOwnFile("quietwire.lock", {{own, false, true}, {runtime}}, 0)->path, runtime + "/quietwire.lock");

    EXPECT_TRUE(openOwnFile("quietwire.lock", {{dir_.file("made/here"), true}}, 0));
    EXPECT_EQ(modeOf(dir_.file("made/here")), 0700u);
    const ResultWith<OwnFile> none = openOwnFile("quietwire.lock", {{planted}, {open}}, 0);
    EXPECT_FALSE(none);
    EXPECT_NE(none.reason().find(planted), std::string::npos) << none.reason();
}
