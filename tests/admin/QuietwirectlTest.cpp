#include "admin/Quietwirectl.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeGuessLock.h"
#include "fakes/FakePacketFilter.h"
#include "fakes/FakeServiceControl.h"
#include "fakes/FakeTcpTable.h"
#include "fakes/FakeTerminal.h"
#include "fakes/FaultyFiles.h"
#include "fakes/RedirectedFileSystem.h"
#include "platform/ProgramProcesses.h"
#include "settings/CurfewWindow.h"
#include "settings/SettingsFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

class FakeProgramProcesses : public ProgramProcesses {
public:
    std::vector<ProgramCopy> copies{{.processId = 100, .user = "root", .mayClose = true, .stopped = false}};
    std::vector<ProgramCopy> RunningCopies() override { return copies; }
};

// settings.ini there, but not for this user.
class UnreadableSettings : public RedirectedFileSystem {
public:
    using RedirectedFileSystem::RedirectedFileSystem;
    bool canRead(const std::string&) override { return false; }
};

// The administrator at a shell: settings.ini with a password, a window from 22:00 to 06:00 and one
// closed port; the clock at noon.
class QuietwirectlTest : public SettingsTest {
protected:
    QuietwirectlTest() {
        writeRaw("SETUP", "PASSWORD", "Secret");
        writeRaw("SETUP", "START", "22:00:00");
        writeRaw("SETUP", "END", "06:00:00");
        writeRaw("SETUP", "ALARM", "False");
        writeRaw("PORTS", "OP_00", "25, SMTP");
        clock_.set(12, 0, 0);
    }

    int ctl(std::vector<std::string> arguments) {
        terminal_.out.clear();
        terminal_.err.clear();
        return Quietwirectl::Run(arguments);
    }
    // The same with the password on standard input, as a script gives it.
    int admin(std::vector<std::string> arguments, const std::string& password = "Secret") {
        terminal_.input.push_back(password);
        arguments.insert(arguments.end(), {"--password-file", "-"});
        return ctl(std::move(arguments));
    }
    std::vector<std::string> storedPorts() const {
        std::vector<std::string> entries;
        for (int i = 0; !readRaw("PORTS", modGlobals::PortKey(i)).empty(); ++i) {
            entries.push_back(VtkModule::Decrypt(readRaw("PORTS", modGlobals::PortKey(i)), modGlobals::RotationCount));
        }
        return entries;
    }
    std::string stored(const std::string& key) const {
        return VtkModule::Decrypt(readRaw("SETUP", key), modGlobals::RotationCount);
    }
    std::string refusal(const std::string& message) const { return "quietwirectl: " + message + "\n"; }

    FakeTerminal terminal_;
    FakeServiceControl service_;
    FakeClock clock_;
    FakeTcpTable table_;
    FakeProgramProcesses processes_;
    FakePacketFilter filter_;
    platform::ScopedInstall<PacketFilter> useFilter_{filter_};
    platform::ScopedInstall<Terminal> useTerminal_{terminal_};
    platform::ScopedInstall<ServiceControl> useService_{service_};
    platform::ScopedInstall<Clock> useClock_{clock_};
    platform::ScopedInstall<TcpTable> useTable_{table_};
    platform::ScopedInstall<ProgramProcesses> useProcesses_{processes_};
    FakeGuessLock guesses_;
    platform::ScopedInstall<GuessLock> useGuesses_{guesses_};
};

} // namespace

TEST_F(QuietwirectlTest, StatusAsksForNoPasswordAndSaysWhatTheTickWouldDoAndWhy) {
    struct Case {
        const char* start;
        const char* end;
        bool alarm;
        int hour;
        const char* line;
        const char* reason;
    };
    const Case cases[] = {
        {"22:00:00", "06:00:00", false, 12, "blocked: outside the window, open from 22:00:00 to 06:00:00",
         "\"ports\":\"blocked\",\"reason\":\"outside-window\""},
        {"22:00:00", "06:00:00", false, 23, "open: inside the window, 22:00:00 to 06:00:00",
         "\"ports\":\"open\",\"reason\":\"inside-window\""},
        {"22:00:00", "06:00:00", true, 23, "blocked at all hours: the clock was changed",
         "\"ports\":\"blocked\",\"reason\":\"alarm-raised\""},
        {"", "", false, 12, "open: no window set", "\"ports\":\"open\",\"reason\":\"no-window\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        writeRaw("SETUP", "START", c.start);
        writeRaw("SETUP", "END", c.end);
        writeRaw("SETUP", "ALARM", c.alarm ? "True" : "False");
        clock_.set(c.hour, 0, 0);
        ASSERT_EQ(ctl({"status"}), Quietwirectl::Success) << terminal_.err;
        EXPECT_NE(terminal_.out.find(c.line), std::string::npos) << terminal_.out;
        EXPECT_NE(terminal_.out.find("Program: running\n"), std::string::npos) << terminal_.out;
        ASSERT_EQ(ctl({"status", "--json"}), Quietwirectl::Success);
        EXPECT_NE(terminal_.out.find(c.reason), std::string::npos) << terminal_.out;
    }
    EXPECT_TRUE(terminal_.prompts.empty());
}

TEST_F(QuietwirectlTest, StatusTellsWhatIsInForceNotOnlyWhatIsSet) {
    processes_.copies.clear();
    ASSERT_EQ(ctl({"status", "--json"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("\"running\":false,\"copies\":0"), std::string::npos) << terminal_.out;
    EXPECT_NE(terminal_.out.find("\"ports\":\"open\",\"reason\":\"not-running\",\"curfew\":\"outside-window\""),
              std::string::npos)
        << terminal_.out;

    // A user who may not read settings.ini still learns what can be told, and that the rest cannot.
    processes_.copies = {{.processId = 100, .user = "root", .mayClose = true, .stopped = false}};
    UnreadableSettings hidden(dir_.str());
    const platform::ScopedInstall<FileSystem> useHidden(hidden);
    EXPECT_EQ(ctl({"status"}), Quietwirectl::Failure);
    EXPECT_NE(terminal_.out.find("Program: running\n"), std::string::npos) << terminal_.out;
    EXPECT_NE(terminal_.out.find("Service: cannot tell whether it is registered (the settings cannot be read), not "
                                 "running\nClosed ports: cannot tell: the settings cannot be read\n"),
              std::string::npos)
        << terminal_.out;
    EXPECT_EQ(terminal_.err.rfind("quietwirectl: The settings could not be read.", 0), 0u) << terminal_.err;
    // What the text cannot tell is null in JSON, never a false that reads as an answer.
    EXPECT_EQ(ctl({"status", "--json"}), Quietwirectl::Failure);
    EXPECT_NE(terminal_.out.find("\"service\":{\"registered\":null,\"running\":false},\"ports\":\"unknown\","
                                 "\"reason\":\"settings-unreadable\",\"curfew\":null,\"start\":null,\"end\":null,"
                                 "\"alarm\":null,\"closedPortEntries\":null,"),
              std::string::npos)
        << terminal_.out;

    terminal_.writable = false; // a full disk under a script's redirection
    EXPECT_EQ(ctl({"show", "--password-file", "-"}), Quietwirectl::Failure);
}

TEST_F(QuietwirectlTest, StatusNamesEachCopyAndSaysConnectionsAreClosedWhenOneRunningCopyMayCloseThem) {
    const ProgramCopy closer{.processId = 100, .user = "root", .mayClose = true, .stopped = false};
    const ProgramCopy lacking{.processId = 200, .user = "nobody", .mayClose = false, .stopped = false};
    const ProgramCopy stopped{.processId = 300, .user = "root", .mayClose = true, .stopped = true};
    const ProgramCopy unseen{.processId = 400, .knownByNameOnly = true, .otherNamespace = std::nullopt};
    const ProgramCopy stateUnknown{.processId = 600, .user = "PC\\Admin", .mayClose = true};
    const std::string blocked = "blocked: outside the window, open from 22:00:00 to 06:00:00";
    struct Case {
        std::vector<ProgramCopy> copies;
        std::string copyLines; // the Program line and one line per copy
        std::string ports;
        std::string closing;
        std::string closes; // in JSON
        std::string json;   // more of it
    };
    const Case cases[] = {
        {{lacking, closer},
         "Program: running (2 copies)\n  process 100 (root): can close connections, running\n"
         "  process 200 (nobody): cannot close connections, running\n",
         blocked,
         "yes, by process 100",
         "true",
         R"({"running":true,"copies":2,"processes":[{"pid":100,"user":"root","knownByNameOnly":false,)"
         R"("canCloseConnections":true,"otherNamespace":false,"stopped":false},{"pid":200,)"},
        {{stopped, lacking},
         "Program: running (2 copies, 1 stopped)\n  process 200 (nobody): cannot close connections, running\n"
         "  process 300 (root): can close connections, stopped\n",
         blocked,
         "no: process 300, which can close them, is stopped",
         "false",
         R"("stopped":true}],)"},
        {{stopped},
         "Program: stopped\n  process 300 (root): can close connections, stopped\n",
         "open: the program is stopped (while it runs: " + blocked + ")",
         "no: process 300, which can close them, is stopped",
         "false",
         R"("ports":"open","reason":"stopped",)"},
        {{unseen, lacking},
         "Program: running (2 copies)\n  process 200 (nobody): cannot close connections, running\n"
         "  process 400 (user unknown), known by its name only: cannot tell whether it can close connections, "
         "cannot tell whether it is running or stopped\n",
         blocked,
         "cannot tell: this user cannot see whether process 400 may close them (run status as root or as an "
         "administrator)",
         "null",
         R"({"pid":400,"user":null,"knownByNameOnly":true,"canCloseConnections":null,"otherNamespace":null,)"
         R"("stopped":null}],)"},
        {{stateUnknown},
         "Program: running\n  process 600 (PC\\Admin): can close connections, cannot tell whether it is running or "
         "stopped\n",
         blocked,
         "yes, by process 600 (unless it is stopped, which cannot be told here)",
         "true",
         R"("user":"PC\\Admin",)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.closing);
        processes_.copies = c.copies;
        ASSERT_EQ(ctl({"status"}), Quietwirectl::Success) << terminal_.err;
        EXPECT_EQ(terminal_.out, c.copyLines + "Service: not registered\nClosed ports (1 entry): " + c.ports +
                                     "\nClosing connections: " + c.closing +
                                     "\nIn-line block: not chosen; rules none in force\n");
        ASSERT_EQ(ctl({"status", "--json"}), Quietwirectl::Success);
        EXPECT_NE(terminal_.out.find(c.json), std::string::npos) << terminal_.out;
        EXPECT_NE(terminal_.out.find("\"canCloseConnections\":" + c.closes + ",\"closing\":\"" + c.closing + "\","),
                  std::string::npos)
            << terminal_.out;
    }
}

TEST_F(QuietwirectlTest, AWrongPasswordChangesNothingAndCostsItsUserASecond) {
    const std::string before = readBytes(settingsPath());
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"show"}, {"set-window", "08:00", "09:00"}, {"add-port", "23"}, {"reset-alarm"}, {"register-service"}}) {
        SCOPED_TRACE(command[0]);
        terminal_.waits.clear();
        EXPECT_EQ(admin(command, "secret"), Quietwirectl::Failure);
        EXPECT_EQ(terminal_.err, refusal("Invalid password!"));
        EXPECT_EQ(terminal_.waits, std::vector<int>{1000});
        EXPECT_TRUE(terminal_.out.empty());
    }
    EXPECT_EQ(readBytes(settingsPath()), before);
    EXPECT_TRUE(service_.calls.empty());

    // The second is the user's, whichever process pays it: a guess made while another process of the
    // same user answers one waits for that one first.
    guesses_.heldElsewhere = 2;
    terminal_.waits.clear();
    EXPECT_EQ(admin({"show"}, "secret"), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.waits, (std::vector<int>{50, 50, 1000}));
    terminal_.waits.clear();
    EXPECT_EQ(admin({"show"}), Quietwirectl::Success);
    EXPECT_TRUE(terminal_.waits.empty()) << "the right password is answered at once";
}

TEST_F(QuietwirectlTest, ThePasswordIsTypedUnseenOrReadExactlyFromTheFirstLineOfAFile) {
    terminal_.typed = {"Secret"};
    ASSERT_EQ(ctl({"show"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(terminal_.prompts, std::vector<std::string>{"Password: "});

    writeRaw("SETUP", "PASSWORD", " two words ");
    const std::string file = dir_.file("password");
    for (const char* content : {" two words \r\nsecond line", " two words "}) {
        std::ofstream(file, std::ios::binary) << content;
        EXPECT_EQ(ctl({"show", "--password-file", file}), Quietwirectl::Success) << content << terminal_.err;
    }
    EXPECT_EQ(ctl({"show", "--password-file=" + file + ".missing"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err.rfind("quietwirectl: Could not read " + file + ".missing: ", 0), 0u) << terminal_.err;

    EXPECT_EQ(ctl({"show", "--password-file", dir_.str()}), Quietwirectl::Failure);
    EXPECT_NE(terminal_.err.find("it is a folder"), std::string::npos) << terminal_.err;

    // No terminal and no file: it says how to give the password instead of hanging or guessing.
    EXPECT_EQ(ctl({"show"}), Quietwirectl::Failure);
    EXPECT_NE(terminal_.err.find("--password-file"), std::string::npos);
}

TEST_F(QuietwirectlTest, ShowListsTheSettingsAndLeavesARaisedAlarmForResetAlarm) {
    writeRaw("SETUP", "ALARM", "True");
    writeRaw("PORTS", "OP_01", "21, \"FTP\"");
    ASSERT_EQ(admin({"show"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(terminal_.out, "Window: open from 22:00:00 to 06:00:00\nAlarm: raised\nService: not registered\n"
                             "In-line block: off (rules none in force)\nClosed ports:\n  25, SMTP\n  21, \"FTP\"\n");
    ASSERT_EQ(admin({"show", "--json"}), Quietwirectl::Success);
    EXPECT_EQ(terminal_.out, "{\"start\":\"22:00:00\",\"end\":\"06:00:00\",\"closedPorts\":[\"25, SMTP\",\"21, "
                             "\\\"FTP\\\"\"],\"alarm\":true,\"serviceRegistered\":false,\"block\":false,"
                             "\"blockRulesInForce\":[]}\n");
    EXPECT_EQ(stored("ALARM"), "True");

    ASSERT_EQ(admin({"reset-alarm"}), Quietwirectl::Success);
    EXPECT_EQ(terminal_.out, "Alarm has been reset!\n");
    EXPECT_EQ(stored("ALARM"), "False");
    EXPECT_EQ(storedPorts(), (std::vector<std::string>{"25, SMTP", "21, \"FTP\""}));

    // Linux keeps UTF-8, Windows its ANSI code page: each comes out as the characters it holds, in ASCII.
    writeRaw("PORTS", "OP_00", "21, Malm\xc3\xb6");
    writeRaw("PORTS", "OP_01", "22, Malm\xf6");
    ASSERT_EQ(admin({"show", "--json"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("[\"21, Malm\\u00f6\",\"22, Malm\\u00f6\"]"), std::string::npos) << terminal_.out;
}

TEST_F(QuietwirectlTest, WhatTheFileHoldsOnceThePasswordIsInIsWhatIsChanged) {
    terminal_.typed = {"Secret"};
    terminal_.whileTyping = [this] { writeRaw("SETUP", "ALARM", "True"); }; // the program saw the clock change
    ASSERT_EQ(ctl({"add-port", "23"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(stored("ALARM"), "True");
    EXPECT_EQ(storedPorts(), (std::vector<std::string>{"25, SMTP", "23"}));
}

TEST_F(QuietwirectlTest, SetWindowStoresTheLongTimesAndABadTimeChangesNothing) {
    ASSERT_EQ(admin({"set-window", " 7:30 ", "9:15 PM"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(stored("START"), "07:30:00");
    EXPECT_EQ(stored("END"), "21:15:00");

    EXPECT_EQ(admin({"set-window", "24:00", "06:00"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err, refusal("Invalid time format for [START], please use time format HH:MM"));
    EXPECT_EQ(admin({"set-window", "08:00", ""}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err, refusal("Invalid time format for [END], please use time format HH:MM"));
    EXPECT_EQ(stored("START"), "07:30:00");
}

TEST_F(QuietwirectlTest, SetDayGivesADayItsOwnWindowsWhichShowListsAndStatusCountsTheNextChangeBy) {
    clock_.weekday = 4; // a Friday, 12:00
    ASSERT_EQ(admin({"set-day", "FRI", "13:00 - 9 PM, 8:00-12:00"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(terminal_.out, "fri: open 08:00:00-12:00:00,13:00:00-21:00:00\n");
    ASSERT_EQ(admin({"set-day", "sat", "closed"}), Quietwirectl::Success);
    EXPECT_EQ(VtkModule::Decrypt(readRaw("WEEK", "SAT"), modGlobals::RotationCount), "closed");
    // Refused windows change nothing.
    EXPECT_EQ(admin({"set-day", "fri", "08:00-12:00,11:00-13:00"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err, refusal("Nothing changed: the windows 08:00:00-12:00:00 and 11:00:00-13:00:00 overlap."));
    EXPECT_EQ(admin({"set-day", "someday", "closed"}), Quietwirectl::Usage);
    std::string many; // more than a value settings.ini gives back whole
    for (int second = 0; second < 450; second += 3) {
        many += (many.empty() ? "" : ",") + FormatLongTime({second}) + "-" + FormatLongTime({second + 1});
    }
    EXPECT_EQ(admin({"set-day", "fri", many}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err,
              refusal("Nothing changed: these windows are more than settings.ini can keep for one day."));

    ASSERT_EQ(admin({"set-warning", "01"}), Quietwirectl::Success);
    EXPECT_EQ(terminal_.out, "Each tray warns 1 minute before the closed ports close.\n");
    ASSERT_EQ(admin({"set-warning", "5"}), Quietwirectl::Success);
    EXPECT_EQ(admin({"set-warning", "five"}), Quietwirectl::Usage);
    EXPECT_EQ(stored("WARN"), "5");
    ASSERT_EQ(admin({"show"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("Warning: 5 minutes before the ports close\n"), std::string::npos);
    EXPECT_NE(terminal_.out.find("Week:\n  mon: as every day\n"), std::string::npos) << terminal_.out;
    EXPECT_NE(terminal_.out.find("  fri: open 08:00:00-12:00:00,13:00:00-21:00:00\n  sat: closed all day\n"),
              std::string::npos);
    ASSERT_EQ(admin({"show", "--json"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find(R"("week":{"mon":"daily")"), std::string::npos) << terminal_.out;
    EXPECT_NE(terminal_.out.find(R"("sat":"closed")"), std::string::npos);
    ASSERT_EQ(ctl({"status"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("open until 12:00\n"), std::string::npos) << "the end is inside" << terminal_.out;
    clock_.set(12, 30, 0);
    ASSERT_EQ(ctl({"status"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("closed until 13:00"), std::string::npos) << terminal_.out;
    clock_.set(21, 30, 0); // Saturday is closed, Sunday keeps to 22:00–06:00
    ASSERT_EQ(ctl({"status"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("closed until Sunday 22:00"), std::string::npos) << terminal_.out;

    ASSERT_EQ(admin({"set-day", "fri", "daily"}), Quietwirectl::Success);
    EXPECT_EQ(terminal_.out, "fri: as every day (the window 22:00:00 to 06:00:00)\n");
}

TEST_F(QuietwirectlTest, PortEntriesAreKeptAsTypedAndOnlyAnExactDuplicateIsRefused) {
    ASSERT_EQ(admin({"add-port", "21, FTP PORT"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(admin({"add-port", "21, FTP PORT"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err, refusal("Port already on list!"));
    ASSERT_EQ(admin({"add-port", "21, ftp port"}), Quietwirectl::Success);
    EXPECT_EQ(admin({"add-port", ""}), Quietwirectl::Failure);
    // Text settings.ini would not give back as typed: a tab, more than a read takes.
    for (const std::string& unkept : {std::string("80\tweb"), std::string(2046, '8')}) {
        EXPECT_EQ(admin({"add-port", unkept}), Quietwirectl::Failure);
        EXPECT_EQ(terminal_.err.rfind("quietwirectl: This entry cannot be kept in settings.ini", 0), 0u);
    }
    EXPECT_EQ(storedPorts(), (std::vector<std::string>{"25, SMTP", "21, FTP PORT", "21, ftp port"}));

    // An edit is not compared with the other entries, as in the dialog.
    ASSERT_EQ(admin({"edit-port", "21, ftp port", "25, SMTP"}), Quietwirectl::Success);
    ASSERT_EQ(admin({"remove-port", "25, SMTP"}), Quietwirectl::Success);
    EXPECT_EQ(storedPorts(), (std::vector<std::string>{"21, FTP PORT", "25, SMTP"}));
    for (const std::vector<std::string>& missing :
         std::vector<std::vector<std::string>>{{"remove-port", "25"}, {"edit-port", "21", "22"}}) {
        EXPECT_EQ(admin(missing), Quietwirectl::Failure);
        EXPECT_EQ(terminal_.err.rfind("quietwirectl: Port not on list!", 0), 0u) << terminal_.err;
    }

    ASSERT_EQ(admin({"remove-port", "21, FTP PORT"}), Quietwirectl::Success);
    ASSERT_EQ(admin({"remove-port", "25, SMTP"}), Quietwirectl::Success);
    EXPECT_TRUE(storedPorts().empty());
    ASSERT_EQ(admin({"show"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("Closed ports: none\n"), std::string::npos);
}

TEST_F(QuietwirectlTest, SetPasswordAsksTwiceUnseenAndTwoDifferentAnswersChangeNothing) {
    terminal_.typed = {"Secret", "new one", "new one"};
    ASSERT_EQ(ctl({"set-password"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(terminal_.prompts,
              (std::vector<std::string>{"Password: ", "Enter new password: ", "Re-enter new password: "}));
    EXPECT_EQ(terminal_.out, "Password changed!\n");
    EXPECT_EQ(stored("PASSWORD"), "new one");

    terminal_.typed = {"new one", "again", "Again"};
    EXPECT_EQ(ctl({"set-password"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err, refusal("Error, First and second typing wasn't equal, please set again!"));
    EXPECT_EQ(stored("PASSWORD"), "new one");

    terminal_.input = {"new one", "from a script"};
    ASSERT_EQ(ctl({"set-password", "--password-file", "-", "--new-password-file", "-"}), Quietwirectl::Success);
    EXPECT_EQ(stored("PASSWORD"), "from a script");

    // One that could never be typed back would lock the administrator out.
    terminal_.input = {"from a script", "tab\there"};
    EXPECT_EQ(ctl({"set-password", "--password-file", "-", "--new-password-file", "-"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err.rfind("quietwirectl: This password cannot be kept in settings.ini", 0), 0u);
    EXPECT_EQ(stored("PASSWORD"), "from a script");
}

TEST_F(QuietwirectlTest, TheServiceCommandsRegisterAsTheDialogDoesAndFollowTheInstalledFlag) {
    ASSERT_EQ(admin({"register-service"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(terminal_.out,
              "Service successfully Registered! You must restart the computer now, to apply the changes\n");
    EXPECT_EQ(service_.store["General/Installed"], "True");
    // Registered from outside the program, the service gets the settings the program gives it.
    EXPECT_EQ(service_.registered, (FakeServiceControl::Registration{"QWADMIN", 2, 1}));

    EXPECT_EQ(admin({"register-service"}), Quietwirectl::Failure);
    EXPECT_NE(terminal_.err.find("registered already"), std::string::npos);

    service_.uninstalls = false;
    EXPECT_EQ(admin({"unregister-service"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err, refusal("UnRegistration failed! Access is denied."));
    EXPECT_EQ(service_.store["General/Installed"], "True");

    service_.uninstalls = true;
    ASSERT_EQ(admin({"unregister-service"}), Quietwirectl::Success);
    EXPECT_EQ(service_.store["General/Installed"], "False");
    EXPECT_FALSE(service_.registered);

    // Registered, but the flag that says so could not be written: a failure, not a success.
    service_.storeWritable = false;
    EXPECT_EQ(admin({"register-service", "--force"}), Quietwirectl::Failure);
    EXPECT_NE(terminal_.err.find("could not be written"), std::string::npos) << terminal_.err;
}

TEST_F(QuietwirectlTest, ACommandLineItCannotReadIsAUsageErrorAndAsksForNothing) {
    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{},
                                               {"start"},
                                               {"add-port"},
                                               {"set-window", "08:00"},
                                               {"add-port", "21", "--json"},
                                               {"status", "--password-file", "-"},
                                               {"show", "--password", "Secret"},
                                               {"show", "--password-file"}}) {
        SCOPED_TRACE(::testing::PrintToString(wrong));
        EXPECT_EQ(ctl(wrong), Quietwirectl::Usage);
        EXPECT_NE(terminal_.err.find("--help"), std::string::npos) << terminal_.err;
    }
    EXPECT_TRUE(terminal_.prompts.empty());
    ASSERT_EQ(ctl({"add-port", "--help"}), Quietwirectl::Success);
    EXPECT_EQ(terminal_.out.rfind("Usage: quietwirectl add-port ENTRY [--password-file FILE]\n", 0), 0u);
    // An entry that begins with a dash is given after --.
    terminal_.input = {"Secret"};
    ASSERT_EQ(ctl({"add-port", "--password-file", "-", "--", "-1"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(storedPorts().back(), "-1");
}

TEST_F(QuietwirectlTest, ASaveThatDoesNotReachTheDiskFailsWithTheReason) {
    FaultyFiles broken(dir_.str(), FaultyFiles::Fault::Crash, 1);
    const platform::ScopedInstall<FileSystem> useFiles(broken);
    const platform::ScopedInstall<ProfileFile> useProfile(broken);
    EXPECT_EQ(admin({"add-port", "23"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err.rfind("quietwirectl: The settings could not be written. ", 0), 0u) << terminal_.err;
    EXPECT_TRUE(terminal_.out.empty());
}

TEST_F(QuietwirectlTest, SetBlockStoresTheChoiceAndStatusAndShowSayWhatTheSystemHoldsNow) {
    EXPECT_EQ(ctl({"status"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("In-line block: not chosen; rules none in force\n"), std::string::npos)
        << terminal_.out;
    EXPECT_EQ(ctl({"set-block", "maybe"}), Quietwirectl::Usage);

    ASSERT_EQ(admin({"set-block", "on"}), Quietwirectl::Success) << terminal_.err;
    EXPECT_EQ(stored("BLOCK"), "True");
    filter_.inForce = {25};
    ASSERT_EQ(ctl({"status", "--json"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("\"block\":{\"chosen\":true,\"rulesInForce\":[25]}"), std::string::npos)
        << terminal_.out;
    ASSERT_EQ(admin({"show"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("In-line block: on (rules in force on 25)\n"), std::string::npos) << terminal_.out;

    ASSERT_EQ(admin({"set-block", "off"}), Quietwirectl::Success);
    EXPECT_EQ(readRaw("SETUP", "BLOCK"), "");
    EXPECT_EQ(filter_.inForce, std::vector<uint16_t>{25}) << "a running copy lifts them itself at its next tick";

    processes_.copies.clear();
    ASSERT_EQ(ctl({"status"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("blocked by the in-line block's rules a copy left in force"), std::string::npos)
        << "a killed copy's rules keep the ports closed:\n"
        << terminal_.out;
    filter_.askable = false;
    ASSERT_EQ(admin({"set-block", "off"}), Quietwirectl::Success);
    EXPECT_TRUE(filter_.inForce.empty()) << "with no copy running, what a killed copy left is lifted";
    EXPECT_NE(terminal_.out.find("were lifted"), std::string::npos) << terminal_.out;
    ASSERT_EQ(ctl({"status", "--json"}), Quietwirectl::Success);
    EXPECT_NE(terminal_.out.find("\"rulesInForce\":null"), std::string::npos) << "cannot tell is null";

    filter_.inForce = {25};
    filter_.refusal = "nftables refused the rules (Operation not permitted)";
    EXPECT_EQ(ctl({"lift-block"}), Quietwirectl::Failure);
    EXPECT_EQ(terminal_.err, refusal("The rules could not be lifted: nftables refused the rules (Operation not "
                                     "permitted)."));
}
