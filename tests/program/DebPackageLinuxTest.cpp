// The Debian package made from this build, installed as an administrator installs it, but into a root of
// the test's own with a package database of its own, so that the machine's own stays untouched: the
// installed program run headless in a network namespace, registered as the administration dialog
// registers it, then the package removed and purged.
#include "platform/linux/LinuxServiceControl.h"
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"
#include "support/Command.h"
#include "support/Done.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uint16_t ClosedPort = 2525;

class DebPackage : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        fs::create_directories(installed("/var/lib/dpkg"));
        fs::create_directories(installed("/var/log"));
        fs::create_directories(installed("/etc/systemd/system")); // systemd's package would have made it
        writeBytes(installed("/var/lib/dpkg/status"), "");
    }

    // dpkg on the root and its database. The maintainer scripts run on this machine with DPKG_ROOT set
    // (as for a chrootless bootstrap), where the programs they call are; the root has none of the
    // packages the program depends on, which this machine has.
    int dpkg(const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {"dpkg", "--root=" + root_.str(), "--log=" + installed("/var/log/dpkg.log"),
                                            "--force-script-chrootless", "--force-depends"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        output_.clear();
        return runCommand(command, output_);
    }

    std::string installed(const std::string& path) const { return root_.str() + path; }

    // This process and the programs it starts see the root's /var/lib as theirs, as in a chroot: the
    // packaged program's data folder is an absolute path.
    void seeTheRootsVarLib() const {
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << std::strerror(errno);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
        ASSERT_EQ(::mount(installed("/var/lib").c_str(), "/var/lib", nullptr, MS_BIND, nullptr), 0)
            << std::strerror(errno);
    }

    // Every file and link in the root outside dpkg's own database and log.
    std::vector<std::string> leftOver() const {
        std::vector<std::string> left;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_.path())) {
            const std::string path = "/" + fs::relative(entry.path(), root_.path()).string();
            if (!entry.is_directory() && !path.starts_with("/var/lib/dpkg/") && !path.starts_with("/var/log/")) {
                left.push_back(path);
            }
        }
        return left;
    }

    TempDir root_;
    std::string output_;
};

} // namespace

TEST_F(DebPackage, InstalledItEnforcesFromItsOwnPlacesAndRemovedAndPurgedItLeavesNothing) {
    ASSERT_EQ(dpkg({"--install", QW_DEB_PACKAGE}), 0) << output_;
    std::vector<std::string> programs = {"/usr/bin/quietwire"};
    if (QW_HAS_CTL) {
        programs.emplace_back("/usr/bin/quietwirectl");
    }
    for (const std::string& program : programs) {
        EXPECT_EQ(::access(installed(program).c_str(), X_OK), 0) << program;
    }
    for (const char* file : {"/usr/share/doc/quietwire/readme.txt", QW_SHIPPED_UNIT,
                             "/usr/share/applications/quietwire.desktop", "/etc/xdg/autostart/quietwire.desktop"}) {
        EXPECT_TRUE(fs::is_regular_file(installed(file))) << file;
    }
    EXPECT_NE(readBytes(installed(QW_SHIPPED_UNIT)).find("\nRuntimeDirectory=quietwire\n"), std::string::npos);
    struct stat data {};
    ASSERT_EQ(::stat(installed(QW_DATA_DIR).c_str(), &data), 0) << output_;
    EXPECT_TRUE(S_ISDIR(data.st_mode));
    EXPECT_EQ(data.st_mode & 07777, 0700u);
    EXPECT_EQ(data.st_uid, 0u);
    const std::string wants = installed("/etc/systemd/system/multi-user.target.wants/quietwire.service");
    EXPECT_FALSE(fs::exists(fs::symlink_status(wants))) << "installing enabled the service";

    // Registered as the administration dialog registers the packaged program.
    ::setenv("QUIETWIRE_UNIT_DIR", installed("/etc/systemd/system").c_str(), 1);
    LinuxServiceControl service([](int, std::function<void()>) { return std::unique_ptr<ReadableWatch>(); },
                                installed(QW_DATA_DIR "/service.ini"), installed("/usr/bin/quietwire"),
                                installed(QW_SHIPPED_UNIT));
    service.SetStartMode(2);
    ASSERT_TRUE(done(service.Install()));
    service.SaveSetting("General", "Installed", "True");
    ::unsetenv("QUIETWIRE_UNIT_DIR");
    EXPECT_TRUE(fs::is_symlink(wants));
    EXPECT_FALSE(fs::exists(installed("/etc/systemd/system/quietwire.service"))) << "a unit written over the package's";

    seeTheRootsVarLib();
    const ProgramFolder program(installed("/usr/bin/quietwire"), QW_DATA_DIR);
    program.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    const std::unique_ptr<Running> running = program.start();
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << program.log();
    running->signal(SIGTERM);
    EXPECT_EQ(running->endsWithin(5s), 0) << program.log();

    ASSERT_EQ(dpkg({"--remove", "quietwire"}), 0) << output_;
    for (const std::string& program : programs) {
        EXPECT_FALSE(fs::exists(installed(program))) << program;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(wants))) << "the service is still enabled";
    EXPECT_EQ(service.GetSetting("General", "Installed", "absent"), "False");
    EXPECT_TRUE(fs::exists(installed(QW_DATA_DIR "/settings.ini"))) << "removing deleted the settings";

    ASSERT_EQ(dpkg({"--purge", "quietwire"}), 0) << output_;
    EXPECT_FALSE(fs::exists(installed(QW_DATA_DIR)));
    EXPECT_EQ(leftOver(), std::vector<std::string>{});
}
