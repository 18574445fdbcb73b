#include "admin/QuietwirectlCommands.h"

#include "admin/Administration.h"
#include "admin/EnforcerLink.h"
#include "admin/Quietwirectl.h"
#include "admin/QuietwirectlOutput.h"
#include "platform/Clock.h"
#include "platform/ControlChannel.h"
#include "platform/FileSystem.h"
#include "platform/PacketFilter.h"
#include "platform/Platform.h"
#include "platform/ProgramProcesses.h"
#include "platform/ServiceControl.h"
#include "platform/TcpTable.h"
#include "platform/Terminal.h"
#include "service/ServiceHost.h"
#include "settings/CurfewWindow.h"
#include "settings/Journal.h"
#include "settings/WeekSchedule.h"
#include "settings/modGlobals.h"

#include <algorithm>
#include <memory>

namespace Quietwirectl {

namespace {

[[noreturn]] void fail(const std::string& message) {
    throw Refusal(Failure, message);
}

Terminal& terminal() {
    return platform::get<Terminal>();
}

// ---- the enforcer ----

// The running enforcer, when one answers on the channel: it then checks the password and keeps the settings,
// and nobody needs the rights to settings.ini to administer the machine. Asked once.
EnforcerLink* enforcer() {
    static std::unique_ptr<EnforcerLink> link;
    static bool asked = false;
    if (!asked) {
        asked = true;
        if (platform::Slot<ControlClient>::current != nullptr) {
            link = std::make_unique<EnforcerLink>(platform::get<ControlClient>(),
                                                  [](int milliseconds) { terminal().Wait(milliseconds); });
            if (!link->Connect(ControlMessages::ClientRole::Tool)) {
                link.reset();
            }
        }
    }
    return link.get();
}

// ---- settings ----

// The settings afresh, as the program's start-up reads them; why they could not be read, or nothing.
std::string loadFresh() {
    modGlobals::LastPortIndex = -1;
    modGlobals::ClosedPorts.clear();
    return oneLine(modGlobals::LoadSettings().reason());
}

void load() {
    if (const std::string problem = loadFresh(); !problem.empty()) {
        fail(problem);
    }
}

void save() {
    if (EnforcerLink* link = enforcer()) {
        if (const Result stored = link->Store(); !stored) {
            fail(oneLine(stored.reason()));
        }
        return;
    }
    const Result saved = modGlobals::SaveSettings();
    Journal::SettingsChanged(Journal::Quietwirectl); // with no enforcer, this is the one that changes them
    if (!saved) {
        fail(oneLine(modGlobals::SaveFailureMessage(saved)));
    }
}

// ---- passwords ----

// The first line of a file ("-": of standard input), without its line end; blanks are part of it.
std::string passwordFrom(const std::string& file) {
    if (file == "-") {
        const std::optional<std::string> line = terminal().ReadLine();
        if (!line) {
            fail("No password on standard input.");
        }
        return *line;
    }
    const ResultWith<std::string> content = platform::get<FileSystem>().readFirstLine(file);
    if (!content) {
        fail("Could not read " + file + ": " + content.reason());
    }
    std::string line = content->substr(0, content->find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::string askSecret(const std::string& prompt) {
    const std::optional<std::string> typed = terminal().ReadSecret(prompt);
    if (!typed) {
        fail("No password given: there is no terminal to ask on, or its input ended. Give it with --password-file "
             "FILE (- for standard input).");
    }
    return *typed;
}

// The password first, the settings after: a command changes what the file holds once the password is
// in, not what it held while someone was typing (another change, or an alarm the program raised).
std::string typedPassword(const Options& options) {
    return options.passwordFile ? passwordFrom(*options.passwordFile) : askSecret("Password: ");
}

void loadChecked(const std::string& typed) {
    const auto wait = [](int milliseconds) { terminal().Wait(milliseconds); };
    if (EnforcerLink* link = enforcer()) {
        const ResultWith<bool> right = link->CheckPassword(typed, wait);
        if (!right) {
            fail(oneLine(right.reason()));
        }
        if (!*right) {
            fail(Administration::InvalidPassword);
        }
        if (const Result fetched = link->Fetch(); !fetched) {
            fail(oneLine(fetched.reason()));
        }
        return;
    }
    Journal::Enable(true);
    if (!Administration::CheckPassword(typed, wait, load)) {
        Journal::WrongPassword(Journal::Quietwirectl);
        fail(Administration::InvalidPassword);
    }
    Journal::SettingsKnown();
}

void loadAsAdministrator(const Options& options) {
    loadChecked(typedPassword(options));
}

// ---- the closed-port list ----

void refuseUnkept(const std::string& entry) {
    if (entry.empty()) {
        fail("An empty entry cannot be listed."); // it would end the list when the file is read again
    }
    if (!modGlobals::Keeps(entry)) {
        fail(Administration::EntryNotKept);
    }
}

std::vector<std::string>::iterator findEntry(std::vector<std::string>& entries, const std::string& entry) {
    const auto found = std::find(entries.begin(), entries.end(), entry);
    if (found == entries.end()) {
        fail("Port not on list! (" + entry + ")");
    }
    return found;
}

// ---- the in-line block ----

// With no copy running, nothing else would ever lift what a killed copy left in force.
bool noCopyRuns() {
    const std::vector<ProgramCopy> copies = platform::get<ProgramProcesses>().RunningCopies();
    return std::all_of(copies.begin(), copies.end(), [](const ProgramCopy& copy) { return copy.stopped == true; });
}

void liftRules() {
    if (const Result lifted = platform::get<PacketFilter>().Refuse({}); !lifted) {
        fail("The rules could not be lifted: " + lifted.reason() + ".");
    }
}

// When the week the facts hold (the file's, or the enforcer's as it said it) next opens or closes the ports,
// from now; "" where no day has its own rule.
std::string nextChange(const Facts& facts) {
    const WeekPlan plan = PlanOf(facts.week, facts.start, facts.end);
    if (!plan.ownDays) {
        return "";
    }
    const LocalMoment now = MomentNow();
    return NextChangeText(OpenByWeek(plan.week, plan.daily, now), NextChangeByWeek(plan.week, plan.daily, now),
                          now.day);
}

// What the settings just loaded hold, what the service's own store says, and the block's rules as the
// system holds them now, not as the settings say they should be.
Facts settingsFacts() {
    return {.serviceRegistered = ServiceHost::Installed(platform::get<ServiceControl>(), "false"),
            .start = modGlobals::StartTime,
            .end = modGlobals::EndTime,
            .entries = Administration::ClosedPortList(),
            .alarm = modGlobals::AlarmRaised,
            .blockChosen = modGlobals::BlockChosen,
            .rulesInForce = platform::get<PacketFilter>().InForce(),
            .week = modGlobals::WeekDays,
            .warn = modGlobals::WarnMinutes};
}

// The dialog offers only the button the Installed flag allows; --force offers both, as its debug mode.
void changeService(const Options& options, bool registering) {
    loadAsAdministrator(options);
    ServiceControl& NTService1 = platform::get<ServiceControl>();
    EnforcerLink* link = enforcer();
    if (link == nullptr) {
        ServiceHost::Configure(NTService1);
    }
    Administration::SettingsKeeper& keeper =
        link != nullptr ? static_cast<Administration::SettingsKeeper&>(*link) : Administration::Keeper();
    if (!options.force && keeper.ServiceRegistered() == registering) {
        fail(registering ? "The service is registered already (--force registers it all the same)."
                         : "The service is not registered (--force unregisters it all the same).");
    }
    const Administration::ServiceOutcome outcome = keeper.ChangeService(registering);
    if (!outcome.done) {
        fail(oneLine(outcome.message));
    }
    say(oneLine(outcome.message) + "\n");
}

} // namespace

[[noreturn]] void usage(const std::string& message) {
    throw Refusal(Usage, message + " (quietwirectl --help)");
}

void say(const std::string& text) {
    if (!terminal().Out(text)) {
        fail("Could not write to standard output.");
    }
}

// Needs no password: what the tray icon shows anyone, and whether it is in force at all: each copy that
// runs, and whether one of them closes connections. Without settings it can read, it says what it can
// (what it cannot tell is null in JSON) and fails.
void status(const Options& options) {
    std::vector<ProgramCopy> copies = platform::get<ProgramProcesses>().RunningCopies();
    std::sort(copies.begin(), copies.end(),
              [](const ProgramCopy& a, const ProgramCopy& b) { return a.processId < b.processId; });
    EnforcerLink* link = enforcer();
    const std::string unreadable = link != nullptr ? std::string() : loadFresh();
    Facts facts = settingsFacts();
    if (link != nullptr) {
        // What the enforcer says of its settings, which this user may not be able to read.
        const ControlMessages::StateEvent& state = *link->State();
        facts.serviceRegistered = state.registered;
        facts.start = state.start;
        facts.end = state.end;
        facts.entries.assign(state.entries, std::string());
        facts.alarm = state.alarm;
        facts.blockChosen = state.block;
        facts.week = {};
        std::copy_n(state.week.begin(), std::min(state.week.size(), facts.week.size()), facts.week.begin());
    }
    // The enforcer's own word needs no right to look into its process.
    for (ProgramCopy& copy : copies) {
        if (link != nullptr && link->State()->enforced && copy.processId == link->State()->process &&
            copy.otherNamespace != true) {
            copy.mayClose = true;
        }
    }
    facts.copies = std::move(copies);
    facts.serviceRunning = platform::get<ServiceControl>().Running();
    // Where the enforcer answered, what this user may not do says nothing of whether connections are closed.
    facts.cannotCloseHere = link != nullptr ? std::string() : platform::get<TcpTable>().DeletionPossible().reason();
    facts.settingsRead = unreadable.empty();
    facts.next = nextChange(facts);
    facts.curfew =
        link != nullptr ? CurfewReasonNamed(link->State()->curfew).value_or(CurfewReason::NoWindow) : CurfewNow();
    say(options.json ? statusJson(facts) : statusText(facts));
    if (!facts.settingsRead) {
        fail(unreadable);
    }
}

void show(const Options& options) {
    loadAsAdministrator(options);
    const Facts facts = settingsFacts();
    say(options.json ? showJson(facts) : showText(facts));
}

void setWindow(const Options& options) {
    loadAsAdministrator(options);
    const std::optional<std::string> start = Administration::LongTime(options.operands[0]);
    if (!start) {
        fail(Administration::InvalidStartTime);
    }
    const std::optional<std::string> end = Administration::LongTime(options.operands[1]);
    if (!end) {
        fail(Administration::InvalidEndTime);
    }
    modGlobals::StartTime = *start;
    modGlobals::EndTime = *end;
    save();
    say("Window set: open from " + windowText(*start, *end) + "\n");
}

void setDay(const Options& options) {
    const std::optional<int> day = DayNamed(options.operands[0]);
    if (!day) {
        usage("set-day takes a day as mon, tue, wed, thu, fri, sat or sun, not \"" + options.operands[0] + "\"");
    }
    loadAsAdministrator(options);
    const DayRuleRead read = ReadDayRule(options.operands[1]);
    if (!read.rule) {
        fail("Nothing changed: " + read.reason + ".");
    }
    const std::string kept = DayRuleText(*read.rule);
    if (!modGlobals::Keeps(kept)) {
        fail("Nothing changed: these windows are more than settings.ini can keep for one day.");
    }
    modGlobals::WeekDays[static_cast<size_t>(*day)] = kept;
    save();
    const std::string name = DayNames[static_cast<size_t>(*day)];
    say(name + ": " +
        (kept.empty()       ? "as every day (the window " + windowText(modGlobals::StartTime, modGlobals::EndTime) + ")"
         : kept == "closed" ? std::string("closed all day")
                            : "open " + kept) +
        "\n");
}

void setWarning(const Options& options) {
    const std::string& text = options.operands[0];
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) > modGlobals::MostWarnMinutes) {
        usage("set-warning takes minutes from 0 to " + std::to_string(modGlobals::MostWarnMinutes) + ", not \"" + text +
              "\"");
    }
    loadAsAdministrator(options);
    modGlobals::WarnMinutes = std::stoi(text);
    save();
    say(modGlobals::WarnMinutes == 0
            ? std::string("No warning before the closed ports close.\n")
            : "Each tray warns " + minutesText(modGlobals::WarnMinutes) + " before the closed ports close.\n");
}

void addPort(const Options& options) {
    loadAsAdministrator(options);
    const std::string& entry = options.operands[0];
    refuseUnkept(entry);
    std::vector<std::string> entries = Administration::ClosedPortList();
    if (Administration::OnList(entries, entry)) {
        fail(Administration::PortAlreadyOnList);
    }
    entries.push_back(entry);
    Administration::SetClosedPortList(entries);
    save();
    say("Added: " + entry + "\n");
}

void removePort(const Options& options) {
    loadAsAdministrator(options);
    std::vector<std::string> entries = Administration::ClosedPortList();
    entries.erase(findEntry(entries, options.operands[0]));
    Administration::SetClosedPortList(entries);
    save();
    say("Removed: " + options.operands[0] + "\n");
}

void editPort(const Options& options) {
    loadAsAdministrator(options);
    const std::string& replacement = options.operands[1];
    refuseUnkept(replacement);
    std::vector<std::string> entries = Administration::ClosedPortList();
    *findEntry(entries, options.operands[0]) = replacement; // not compared with the others, as in the dialog
    Administration::SetClosedPortList(entries);
    save();
    say("Changed: " + options.operands[0] + " to " + replacement + "\n");
}

void setPassword(const Options& options) {
    const std::string typed = typedPassword(options);
    loadChecked(typed);
    std::string chosen;
    if (options.newPasswordFile) {
        chosen = passwordFrom(*options.newPasswordFile);
    } else {
        chosen = askSecret("Enter new password: ");
        if (askSecret("Re-enter new password: ") != chosen) {
            fail(Administration::PasswordsDiffer);
        }
    }
    if (!modGlobals::Keeps(chosen)) {
        fail(Administration::PasswordNotKept);
    }
    loadChecked(typed); // afresh: the new password was being typed meanwhile
    modGlobals::AdminPassword = chosen;
    save();
    say(std::string(Administration::PasswordChanged) + "\n");
}

void resetAlarm(const Options& options) {
    loadAsAdministrator(options);
    if (!modGlobals::AlarmRaised) {
        say("The alarm is not raised.\n");
        return;
    }
    modGlobals::AlarmRaised = false;
    save();
    say(std::string(Administration::AlarmHasBeenReset) + "\n");
}

void setBlock(const Options& options) {
    const std::string& choice = options.operands[0];
    if (choice != "on" && choice != "off") {
        usage("set-block takes on or off, not \"" + choice + "\"");
    }
    loadAsAdministrator(options);
    modGlobals::BlockChosen = choice == "on";
    save();
    say(std::string("The in-line block is ") + choice +
        (noCopyRuns() ? ".\n" : "; the running copy takes it over within a second.\n"));
    const std::optional<std::vector<uint16_t>> left = platform::get<PacketFilter>().InForce();
    if (!modGlobals::BlockChosen && noCopyRuns() && (!left || !left->empty())) {
        liftRules();
        say("The rules a copy left in force were lifted.\n");
    }
}

// For the package's removal and the uninstaller, which end the program first: what a killed copy left goes
// too. No password: whoever may run this as root or administrator may lift the rules with the system's
// own tools as well.
void liftBlock(const Options&) {
    liftRules();
    say("No rules of the program's own are in force.\n");
}

void registerService(const Options& options) {
    changeService(options, true);
}

void unregisterService(const Options& options) {
    changeService(options, false);
}

} // namespace Quietwirectl
