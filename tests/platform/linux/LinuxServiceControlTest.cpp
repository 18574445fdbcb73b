#include "platform/linux/LinuxServiceControl.h"
#include "platform/linux/SystemdUnit.h"
#include "platform/linux/UniqueFd.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "platform/qt/QtReadableWatch.h"
#include "support/Command.h"
#include "support/Done.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

// The Linux service control: its unit file checked by systemd's own tools, its requests delivered on
// the Qt event loop, its settings file.
namespace {

std::string ownPath() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

// Records the requests and the thread they came on; Stop, like the program's, ends the loop.
class Recorder final : public ServiceRequests {
public:
    explicit Recorder(bool answer = true) : answer_(answer) {}
    void Start(bool& success) override {
        record("Start");
        success = answer_;
        QCoreApplication::exit(0);
    }
    void Continue(bool& success) override {
        record("Continue");
        success = answer_;
    }
    void Stop() override {
        record("Stop");
        QCoreApplication::exit(0);
    }

    std::vector<std::string> heard;
    bool onLoopThread = true;

private:
    void record(const char* request) {
        heard.emplace_back(request);
        onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread_;
    }

    const bool answer_;
    const std::thread::id loopThread_ = std::this_thread::get_id();
};

// Runs the event loop until a request ends it, or gives up after half a minute.
void runLoop() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(30000);
    QCoreApplication::exec();
}

class LinuxService : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("QUIETWIRE_UNIT_DIR", units.str().c_str(), 1);
        ::unsetenv("NOTIFY_SOCKET");
    }
    void TearDown() override {
        ::unsetenv("QUIETWIRE_UNIT_DIR");
        ::unsetenv("NOTIFY_SOCKET");
    }

    std::string unitPath() const { return units.file("quietwire.service"); }
    std::string wantsLink() const { return units.file("multi-user.target.wants/quietwire.service"); }

    static int verify(const std::string& unit, std::string& output, const std::string& manual = "yes") {
        return runCommand({"systemd-analyze", "verify", "--man=" + manual, unit}, output);
    }

    TempDir units;
    TempDir data;
    LinuxServiceControl control{watchReadableOnQtLoop, data.file("service.ini"), ownPath(), ""};
};

TEST_F(LinuxService, InstallWritesAUnitThatSystemdAcceptsAndEnablesIt) {
    control.SetDisplayName("QWADMIN");
    control.SetStartMode(2);
    ASSERT_TRUE(done(control.Install()));
    std::string output;
    EXPECT_EQ(verify(unitPath(), output), 0) << output;
    EXPECT_NE(readBytes(unitPath()).find("\nExecStart=\"" + ownPath() + "\"\n"), std::string::npos);
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink(wantsLink(), error).string(), unitPath()) << error.message();
    // Not run by systemd (or, where systemd runs, never started by it): not running.
    EXPECT_FALSE(control.Running());
}

TEST_F(LinuxService, AServiceNotStartedWithTheSystemIsWrittenButNotEnabled) {
    control.SetStartMode(3);
    ASSERT_TRUE(done(control.Install()));
    EXPECT_TRUE(std::filesystem::exists(unitPath()));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wantsLink())));
}

TEST_F(LinuxService, AProgramPathWithBlanksAndSpecifiersReachesSystemdUnchanged) {
    const std::string folder = data.file("odd %n $HOME name");
    std::filesystem::create_directory(folder);
    const std::string program = folder + "/quietwire";
    writeBytes(program, "#!/bin/sh\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const std::optional<std::string> text =
        serviceUnitText({.description = "100% QWADMIN", .program = program, .programFolder = folder, .user = ""});
    ASSERT_TRUE(text);
    writeBytes(unitPath(), *text);
    std::string output;
    // verify fails when the command it reads is not an executable file.
    EXPECT_EQ(verify(unitPath(), output), 0) << output;
}

TEST_F(LinuxService, AProgramPathThatSystemdWouldRefuseGetsNoUnit) {
    for (const std::string name : {"say \"hi\"", "back\\slash", "it's", "new\nline"}) {
        EXPECT_FALSE(serviceUnitText({.description = "QWADMIN",
                                      .program = "/opt/" + name + "/quietwire",
                                      .programFolder = "/opt/" + name,
                                      .user = ""}))
            << name;
    }
}

TEST_F(LinuxService, UninstallRemovesTheUnitAndItsLinkAndThenHasNothingToRemove) {
    control.SetStartMode(2);
    ASSERT_TRUE(done(control.Install()));
    EXPECT_TRUE(done(control.Uninstall()));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(unitPath())));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wantsLink())));

    const Result removed = control.Uninstall();
    EXPECT_FALSE(removed);
    EXPECT_NE(removed.reason().find("Could not remove the service Quietwire"), std::string::npos) << removed.reason();
}

// As the Debian package installs the program: the unit comes with it, and registering only enables it.
class LinuxShippedService : public LinuxService {
protected:
    LinuxShippedService() {
        const std::optional<std::string> text = serviceUnitText(
            {.description = "QWADMIN", .program = ownPath(), .programFolder = data.str(), .user = "", .shipped = true});
        writeBytes(shipped, text.value_or(""));
        packaged.SetStartMode(2);
    }

    const std::string shipped = data.file("quietwire.service");
    LinuxServiceControl packaged{watchReadableOnQtLoop, data.file("service.ini"), ownPath(), shipped};
};

TEST_F(LinuxShippedService, InstallEnablesTheShippedUnitAndWritesNoneOfItsOwn) {
    std::string output;
    EXPECT_EQ(verify(shipped, output, "no"), 0) << output; // the manual it names comes with the package
    ASSERT_TRUE(done(packaged.Install()));
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink(wantsLink(), error).string(), shipped) << error.message();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(unitPath())));
}

TEST_F(LinuxShippedService, UninstallDisablesTheShippedUnitAndKeepsIt) {
    ASSERT_TRUE(done(packaged.Install()));
    EXPECT_TRUE(done(packaged.Uninstall()));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wantsLink())));
    EXPECT_TRUE(std::filesystem::exists(shipped));
}

TEST_F(LinuxShippedService, WithTheShippedUnitGoneInstallFailsAndSaysWhy) {
    std::filesystem::remove(shipped);
    const Result installed = packaged.Install();
    EXPECT_FALSE(installed);
    EXPECT_NE(installed.reason().find("Could not find the service Quietwire (" + shipped + "): "), std::string::npos)
        << installed.reason();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wantsLink())));
}

TEST_F(LinuxService, InstallIntoAFolderThatIsNotThereFailsAndSaysWhy) {
    ::setenv("QUIETWIRE_UNIT_DIR", data.file("missing").c_str(), 1);
    const Result installed = control.Install();
    EXPECT_FALSE(installed);
    EXPECT_NE(installed.reason().find("Could not write " + data.file("missing") + "/quietwire.service: "),
              std::string::npos)
        << installed.reason();
}

class LinuxServiceSignal : public LinuxService, public ::testing::WithParamInterface<int> {};

TEST_P(LinuxServiceSignal, BecomesTheStopRequestOnTheEventLoop) {
    Recorder recorder;
    control.Listen(recorder);
    // Sent to the whole process, as systemd or a terminal sends it, and taken by a thread other than the
    // loop's, which blocks it here.
    sigset_t signal;
    sigemptyset(&signal);
    sigaddset(&signal, GetParam());
    pthread_sigmask(SIG_BLOCK, &signal, nullptr);
    QTimer::singleShot(0, [&signal, number = GetParam()] {
        std::thread([&signal, number] {
            pthread_sigmask(SIG_UNBLOCK, &signal, nullptr);
            ::kill(::getpid(), number);
        }).join();
    });
    runLoop();
    pthread_sigmask(SIG_UNBLOCK, &signal, nullptr);
    EXPECT_EQ(recorder.heard, std::vector<std::string>{"Stop"});
    EXPECT_TRUE(recorder.onLoopThread);
}

INSTANTIATE_TEST_SUITE_P(TermIntAndHangUp, LinuxServiceSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    bool bound() const { return bound_; }
    // Every message sent so far, one per datagram.
    std::vector<std::string> messages() const {
        std::vector<std::string> all;
        char buffer[512];
        ssize_t n;
        while ((n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT)) >= 0) {
            all.emplace_back(buffer, static_cast<size_t>(n));
        }
        return all;
    }

private:
    UniqueFd fd_;
    bool bound_ = false;
};

class LinuxServiceUnderSystemd : public LinuxService {
protected:
    // Hands the program to a stand-in for systemd and runs the loop; what systemd was told.
    std::vector<std::string> startService(Recorder& recorder) {
        const NotifySocket systemd(data.file("notify"));
        EXPECT_TRUE(systemd.bound());
        control.Listen(recorder);
        control.StartService();
        EXPECT_TRUE(recorder.heard.empty()) << "StartService must return before the request is delivered";
        runLoop();
        EXPECT_TRUE(recorder.onLoopThread);
        return systemd.messages();
    }
};

TEST_F(LinuxServiceUnderSystemd, TheStartRequestComesFromTheLoopAndItsYesMakesTheServiceReady) {
    Recorder recorder(true);
    EXPECT_EQ(startService(recorder), std::vector<std::string>{"READY=1"});
    EXPECT_EQ(recorder.heard, std::vector<std::string>{"Start"});
}

TEST_F(LinuxServiceUnderSystemd, ARefusedStartEndsTheProgramWithoutReady) {
    Recorder recorder(false);
    const std::vector<std::string> told = startService(recorder);
    const std::vector<std::string> expected = {"Start", "Stop"};
    EXPECT_EQ(recorder.heard, expected);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].rfind("STATUS=", 0), 0u) << told[0];
    EXPECT_EQ(told[1], "STOPPING=1");
}

TEST_F(LinuxService, RunByHandStartServiceAsksNothing) {
    Recorder recorder;
    control.Listen(recorder);
    control.StartService();
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.heard.empty());
}

TEST_F(LinuxService, ASavedSettingReadsBackFromItsOwnFileAndAMissingOneGivesTheFallback) {
    control.SaveSetting("General", "Installed", "True");
    EXPECT_EQ(control.GetSetting("General", "Installed", "False"), "True");
    EXPECT_NE(readBytes(data.file("service.ini")).find("Installed=True"), std::string::npos);
    control.SaveSetting("General", "Installed", "False");
    EXPECT_EQ(control.GetSetting("General", "Installed", "True"), "False");
    EXPECT_EQ(control.GetSetting("General", "Absent", "fallback"), "fallback");
    EXPECT_EQ(control.GetSetting("Elsewhere", "Installed", "False"), "False");
}

} // namespace
