// The record of the built Linux program read back from a real systemd journal: a journald of the test's
// own, in a mount namespace where /run is a fresh tmpfs (the machine's journal, if any, is never touched).
#include "platform/Record.h"
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"
#include "support/Command.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr uint16_t ClosedPort = 2525;
constexpr const char* Journald = "/lib/systemd/systemd-journald";

// Why a journald of this process's own could not be set up, or nothing.
std::string enterOwnJournal() {
    if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
        return why;
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
        return std::string("no mount namespace with /run of its own: ") + std::strerror(errno);
    }
    // /var/log/journal would take the entries once flushed there; kept out of reach likewise.
    if (std::filesystem::is_directory("/var/log/journal") &&
        ::mount("tmpfs", "/var/log/journal", "tmpfs", 0, "mode=0755") != 0) {
        return std::string("/var/log/journal could not be covered: ") + std::strerror(errno);
    }
    std::filesystem::create_directories("/run/systemd/journal");
    return {};
}

// The entries of one kind, as journalctl finds them by their MESSAGE_ID, once there are `count`.
std::vector<nlohmann::json> entriesOf(RecordKind kind, std::size_t count) {
    std::vector<nlohmann::json> entries;
    const auto until = std::chrono::steady_clock::now() + 10s;
    do {
        entries.clear();
        std::string output;
        runCommand({"journalctl", "--no-pager", "-o", "json", std::string("MESSAGE_ID=") + RecordKindId(kind)}, output);
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            if (nlohmann::json entry = nlohmann::json::parse(line, nullptr, false); entry.is_object()) {
                entries.push_back(std::move(entry));
            }
        }
        if (entries.size() >= count) {
            break;
        }
        std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < until);
    return entries;
}

} // namespace

TEST(ProgramRecordLinuxTest, ClosedConnectionsAndAChangeOfTheSettingsAreFoundInTheJournalByTheirIds) {
    ASSERT_EQ(enterOwnJournal(), "");
    ProgramFolder folder;
    Running journald({Journald}, {}, folder.file("journald.txt"));
    for (int i = 0; i < 100 && !std::filesystem::exists("/run/systemd/journal/socket"); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(std::filesystem::exists("/run/systemd/journal/socket")) << readBytes(folder.file("journald.txt"));

    folder.writeSettings(hoursFromNow(1), hoursFromNow(2), false);
    auto program = folder.start(); // started by hand, as from a shell: no unit, no JOURNAL_STREAM
    char ownName[16] = {};
    ::prctl(PR_GET_NAME, ownName);
    ::prctl(PR_SET_NAME, "x); uid 9, p"); // a name that would pass for a second owner, written plainly
    EXPECT_TRUE(loopback::killedWithinATick(ClosedPort)) << folder.log();
    ::prctl(PR_SET_NAME, ownName);
    std::ofstream(folder.file("password")) << "Secret\n";
    const auto added = folder.quietwirectl({"add-port", "9090, WEB", "--password-file", folder.file("password")});
    EXPECT_EQ(added.status, 0) << added.output;

    const std::vector<nlohmann::json> closed = entriesOf(RecordKind::ConnectionsClosed, 1);
    ASSERT_FALSE(closed.empty()) << folder.log();
    EXPECT_EQ(closed[0].value("SYSLOG_IDENTIFIER", ""), "quietwire");
    EXPECT_NE(closed[0].value("QW_PORTS", "").find(std::to_string(ClosedPort)), std::string::npos) << closed[0];
    EXPECT_NE(closed[0].value("QW_ADDRESSES", "").find("127.0.0.1"), std::string::npos) << closed[0];
    EXPECT_EQ(closed[0].value("_PID", ""), std::to_string(program->pid()));
    // Both ends of the connection are this test's: the process that held the one closed is named.
    EXPECT_NE(closed[0]
                  .value("QW_OWNERS", "")
                  .find("uid 0, process " + std::to_string(::getpid()) + " (x\\x29\\x3b uid 9\\x2c p)"),
              std::string::npos)
        << closed[0];

    const std::vector<nlohmann::json> changed = entriesOf(RecordKind::SettingChanged, 1);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].value("QW_SETTING", ""), "closed ports");
    EXPECT_EQ(changed[0].value("QW_USER", ""), "root");
    EXPECT_EQ(changed[0].value("QW_VALUE", ""), "2525, TEST; 9090, WEB");
    EXPECT_EQ(changed[0].dump().find("Secret"), std::string::npos);

    program->signal(SIGTERM);
    EXPECT_EQ(program->endsWithin(2s), 0) << folder.log();
    EXPECT_EQ(entriesOf(RecordKind::Ended, 1).size(), 1u);
}
