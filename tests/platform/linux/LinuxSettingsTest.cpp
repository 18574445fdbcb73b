#include "settings/SettingsFixture.h"
#include "support/Done.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <grp.h>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void applyA() {
    modGlobals::AdminPassword = "password A";
    modGlobals::StartTime = "08:00:00";
    modGlobals::EndTime = "17:00:00";
    modGlobals::AlarmRaised = false;
    std::vector<std::string> ports;
    for (int i = 0; i < 40; ++i) {
        ports.push_back(std::to_string(1000 + i) + ", entry of A");
    }
    setPorts(ports);
}

void applyB() {
    modGlobals::AdminPassword = "password B, longer than A";
    modGlobals::StartTime = "22:00:00";
    modGlobals::EndTime = "06:00:00";
    modGlobals::AlarmRaised = true;
    setPorts({"25", "587"});
}

class LinuxSettings : public SettingsTest {
protected:
    std::string bytesAfterSaving(void (*apply)()) {
        apply();
        EXPECT_TRUE(done(modGlobals::SaveSettings()));
        return readBytes(settingsPath());
    }
    struct stat statOf(const std::string& path) const {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st;
    }
};

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

struct ChildRun {
    int exitCode; // -1 when it did not exit by itself
    std::string output;
};

// Runs body in a child process and gives its exit code and what it wrote to its standard output.
ChildRun inChild(const std::function<int()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {-1, "no pipe"};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        const int code = body();
        std::fflush(stdout);
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    std::string output;
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno != EINTR) {
            break;
        }
        output.append(chunk, static_cast<size_t>(n > 0 ? n : 0));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return {-1, output};
    }
    return {WEXITSTATUS(status), output};
}

// Root may write any folder; an ordinary user may not, which is what these saves meet.
int saveBAsNobody() {
    if (::setgroups(0, nullptr) != 0 || ::setgid(NoGroup) != 0 || ::setuid(Nobody) != 0) {
        std::printf("cannot become nobody");
        return 100;
    }
    applyB();
    const Result result = modGlobals::SaveSettings();
    std::printf("%s", result.reason().c_str());
    return result ? 0 : 1;
}

// Runs the probe as /app_path_probe: in a mount namespace of its own whose root directory is the
// folder root, holding the probe, the system's libraries and /proc.
int runProbeFromTheRoot(const std::string& root) {
    const auto bind = [&](const char* dir) {
        const std::string target = root + dir;
        return ::mkdir(target.c_str(), 0755) == 0 &&
               ::mount(dir, target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0;
    };
    const std::string proc = root + "/proc";
    // Private first, so that no mount made here reaches the machine's own tree.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        !bind("/usr") || !bind("/lib") || !bind("/lib64") || ::mkdir(proc.c_str(), 0555) != 0 ||
        ::mount("proc", proc.c_str(), "proc", 0, nullptr) != 0 || ::chroot(root.c_str()) != 0 || ::chdir("/") != 0) {
        std::printf("cannot make the root directory: %s", std::strerror(errno));
        return 100;
    }
    ::execl("/app_path_probe", "app_path_probe", static_cast<char*>(nullptr));
    std::printf("cannot run the probe: %s", std::strerror(errno));
    return 101;
}

// A program folder in which no new file can be made: saves write the old file in place.
class NoNewFiles : public RedirectedFileSystem {
public:
    using RedirectedFileSystem::RedirectedFileSystem;
    Result writeReplacement(const std::string&, const std::string&, const std::string&) override {
        return Result::Failed("no new file can be made here");
    }
};

// A file of root's outside the program's folder, as a user's link would aim at.
struct RootsFile {
    TempDir elsewhere;
    std::string path = elsewhere.file("roots-own.conf");
    RootsFile() {
        writeBytes(path, "root's own\n");
        EXPECT_EQ(::chmod(path.c_str(), 0440), 0);
    }
    bool untouched() const {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 07777) == 0440 && st.st_uid == 0 &&
               readBytes(path) == "root's own\n";
    }
};

// Names a user planted in a folder of theirs that root's program keeps its settings in.
void plantAsNobody(const std::string& dir, const std::function<void()>& plant) {
    ASSERT_EQ(::chown(dir.c_str(), Nobody, NoGroup), 0);
    plant();
}

} // namespace

TEST(AppPath, OfAProgramInTheRootDirectoryIsTheRootWithOneSeparator) {
    TempDir root;
    std::filesystem::copy_file(QW_APP_PATH_PROBE, root.file("app_path_probe"));
    const ChildRun run = inChild([&] { return runProbeFromTheRoot(root.str()); });
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "/");
}

TEST_F(LinuxSettings, ASaveKeepsTheFilesModeOwnerAndGroup) {
    bytesAfterSaving(applyA);
    ASSERT_EQ(::chown(settingsPath().c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(settingsPath().c_str(), 0640), 0);

    bytesAfterSaving(applyB);
    const struct stat st = statOf(settingsPath());
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    resetSettings();
    EXPECT_TRUE(done(modGlobals::LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, "password B, longer than A");
}

TEST_F(LinuxSettings, ANewFileIsTheOwnersAloneWhateverTheUmask) {
    const mode_t previousMask = ::umask(0);
    bytesAfterSaving(applyA);
    ::umask(previousMask);
    EXPECT_EQ(statOf(settingsPath()).st_mode & 07777, 0600u);
}

TEST_F(LinuxSettings, AReadOnlyFileIsReplacedAllTheSame) {
    const std::string a = bytesAfterSaving(applyA);
    ASSERT_EQ(::chmod(settingsPath().c_str(), 0444), 0);
    const std::string b = bytesAfterSaving(applyB);
    EXPECT_NE(a, b);
    resetSettings();
    EXPECT_TRUE(done(modGlobals::LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, "password B, longer than A");
    struct stat st {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR) << "the new file is an ordinary writable one";
}

// A process killed at any moment of a save leaves the old file or the new one, never a part.
TEST_F(LinuxSettings, AProcessKilledDuringSavesLeavesOneWholeFile) {
    const std::string a = bytesAfterSaving(applyA);
    const std::string b = bytesAfterSaving(applyB);
    ASSERT_NE(a, b);

    // Kills land anywhere from before the first save to a few saves in, however long a save takes
    // on this machine (its syncs to the disk dominate).
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        bytesAfterSaving(i % 2 == 0 ? applyA : applyB);
    }
    const auto perSave =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started) / 5;
    std::mt19937 random(12345);
    std::uniform_int_distribution<long> delayMicros(0, 3 * perSave.count() + 500);
    int sawA = 0;
    int sawB = 0;
    for (int round = 0; round < 150; ++round) {
        writeBytes(settingsPath(), a);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) {
                (i % 2 == 0 ? applyB : applyA)();
                static_cast<void>(modGlobals::SaveSettings()); // killed at any moment: only the file counts
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string after = readBytes(settingsPath());
        ASSERT_TRUE(after == a || after == b) << "round " << round << " left a partial file:\n" << after;
        sawA += after == a;
        sawB += after == b;
    }
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0) << "no save finished before a kill; the test proves nothing";
}

TEST_F(LinuxSettings, AFileItsFolderDoesNotLetBeReplacedIsWrittenInPlace) {
    bytesAfterSaving(applyA);
    ASSERT_EQ(::chmod(dir_.str().c_str(), 0755), 0);
    ASSERT_EQ(::chown(settingsPath().c_str(), Nobody, NoGroup), 0);
    ASSERT_EQ(::chmod(settingsPath().c_str(), 0640), 0);
    const ino_t inode = statOf(settingsPath()).st_ino;

    const ChildRun run = inChild(saveBAsNobody);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    resetSettings();
    EXPECT_TRUE(done(modGlobals::LoadSettings()));
    EXPECT_EQ(modGlobals::AdminPassword, "password B, longer than A");
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"25", "587"})) << "the longer old content was cut off";
    const struct stat st = statOf(settingsPath());
    EXPECT_EQ(st.st_ino, inode);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, Nobody);
    EXPECT_EQ(st.st_gid, NoGroup);
}

TEST_F(LinuxSettings, ASaveThatCannotReachTheDiskSaysWhy) {
    const std::string a = bytesAfterSaving(applyA); // root's alone
    ASSERT_EQ(::chmod(dir_.str().c_str(), 0755), 0);

    const ChildRun run = inChild(saveBAsNobody);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, settingsPath() + ": " + std::strerror(EACCES));
    EXPECT_EQ(readBytes(settingsPath()), a);
}

TEST_F(LinuxSettings, SettingsInAFolderThisUserMayNotEnterAreUnreadableNotAbsent) {
    bytesAfterSaving(applyA);
    ASSERT_EQ(::chmod(dir_.str().c_str(), 0700), 0); // as the Debian package keeps them: root's alone

    const ChildRun run = inChild([] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(NoGroup) != 0 || ::setuid(Nobody) != 0) {
            return 100;
        }
        resetSettings();
        std::printf("%s", modGlobals::LoadSettings().reason().c_str());
        return 0;
    });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "The settings could not be read.\r\n\r\n" + settingsPath() + ": " + std::strerror(EACCES));
}

TEST_F(LinuxSettings, ALinkPlantedAsTheNewFileIsRemovedAndNeverWrittenThrough) {
    bytesAfterSaving(applyA);
    RootsFile target;
    const std::string fresh = settingsPath() + ".new";
    const std::string nowhere = target.elsewhere.file("not-there-yet");
    for (const std::string& aim : {target.path, nowhere}) {
        SCOPED_TRACE(aim);
        plantAsNobody(dir_.str(), [&] {
            ASSERT_EQ(::symlink(aim.c_str(), fresh.c_str()), 0);
            ASSERT_EQ(::lchown(fresh.c_str(), Nobody, NoGroup), 0);
        });
        EXPECT_NE(bytesAfterSaving(applyB), "");
        EXPECT_TRUE(target.untouched());
        EXPECT_FALSE(std::filesystem::exists(nowhere));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(fresh)));
    }
}

TEST_F(LinuxSettings, ALinkPlantedAsTheSettingsFileIsReplacedOrRefusedNeverWrittenThrough) {
    RootsFile target;
    plantAsNobody(dir_.str(), [&] {
        ASSERT_EQ(::symlink(target.path.c_str(), settingsPath().c_str()), 0);
        ASSERT_EQ(::lchown(settingsPath().c_str(), Nobody, NoGroup), 0);
    });
    {
        NoNewFiles files(dir_.str());
        platform::ScopedInstall<FileSystem> useFiles(files);
        applyB();
        const Result result = modGlobals::SaveSettings();
        EXPECT_FALSE(result) << "written in place through the link";
        EXPECT_EQ(result.reason(), settingsPath() + ": " + std::strerror(ELOOP));
        EXPECT_TRUE(target.untouched());
    }
    applyB();
    EXPECT_TRUE(modGlobals::SaveSettings());
    EXPECT_TRUE(target.untouched());
    struct stat st {};
    ASSERT_EQ(::lstat(settingsPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link was replaced by the settings";
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "mode taken from the link's target";
    EXPECT_EQ(st.st_uid, 0u);
}

TEST_F(LinuxSettings, AFolderOrFileAnotherUserMayWriteIsNotSafe) {
    bytesAfterSaving(applyA);
    const std::string dir = dir_.str();
    const std::string file = settingsPath();
    const std::string inner = dir_.file("program");
    ASSERT_EQ(::mkdir(inner.c_str(), 0700), 0);
    struct Case {
        const std::string& changed;
        mode_t mode;
        uid_t owner;
        const std::string& checked;
        bool unsafe;
    };
    for (const Case& c : {Case{dir, 0700, 0, dir, false},
                          {dir, 0770, 0, dir, true},
                          {dir, 0702, 0, dir, true},
                          {dir, 01777, 0, dir, true},
                          {dir, 01777, 0, inner, false},
                          {dir, 0755, Nobody, dir, true},
                          {dir, 0755, Nobody, inner, true},
                          {dir, 0755, 0, inner, false},
                          {file, 0620, 0, file, true},
                          {file, 0600, Nobody, file, true},
                          {file, 0600, 0, file, false}}) {
        ASSERT_EQ(::chmod(c.changed.c_str(), c.mode), 0);
        ASSERT_EQ(::chown(c.changed.c_str(), c.owner, c.owner), 0);
        EXPECT_EQ(systemFileSystem().othersMayChange(c.checked), c.unsafe)
            << c.checked << " with " << c.changed << " " << std::oct << c.mode << std::dec << " of " << c.owner;
    }
    EXPECT_EQ(modGlobals::UnsafeSettingsWarning(), "");
    ASSERT_EQ(::chmod(dir.c_str(), 0770), 0);
    EXPECT_EQ(modGlobals::UnsafeSettingsWarning().rfind("The settings are not safe here", 0), 0u);
}

TEST_F(LinuxSettings, TheProfileWriterNeverWritesThroughALinkAndNoReadWaitsOnAFifo) {
    RootsFile target;
    const std::string serviceIni = dir_.file("service.ini");
    ASSERT_EQ(::symlink(target.path.c_str(), serviceIni.c_str()), 0);
    EXPECT_FALSE(systemProfileFile().writePrivateProfileString("General", "Installed", "True", serviceIni));
    EXPECT_TRUE(target.untouched());

    ASSERT_EQ(::mkfifo(settingsPath().c_str(), 0600), 0);
    const ChildRun run = inChild([] {
        ::alarm(10); // a read that waits for a writer ends the child here
        resetSettings();
        static_cast<void>(modGlobals::LoadSettings()); // what it read is the test's answer
        return modGlobals::AdminPassword.empty() ? 0 : 1;
    });
    EXPECT_EQ(run.exitCode, 0) << run.output;
}
