#pragma once

#include "platform/Result.h"
#include "platform/ServiceControl.h"
#include "service/ControlMessages.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The administrator's rules, one set for every way in: the administration dialog and quietwirectl.
// Each works on the live settings (modGlobals); saving is the caller's.
namespace Administration {

inline constexpr const char* InvalidPassword = "Invalid password!";
inline constexpr const char* AlarmHasBeenReset = "Alarm has been reset!";
inline constexpr const char* InvalidStartTime = "Invalid time format for [START], please use time format HH:MM";
inline constexpr const char* InvalidEndTime = "Invalid time format for [END], please use time format HH:MM";
inline constexpr const char* PortAlreadyOnList = "Port already on list!";
inline constexpr const char* PasswordsDiffer = "Error, First and second typing wasn't equal, please set again!";
inline constexpr const char* PasswordChanged = "Password changed!";
// What settings.ini cannot give back as it was typed is refused, or it would be lost or changed.
inline constexpr const char* EntryNotKept =
    "This entry cannot be kept in settings.ini: it may hold no control character (such as a tab) and at most "
    "2045 characters.";
inline constexpr const char* PasswordNotKept =
    "This password cannot be kept in settings.ini: it may hold no control character (such as a tab) and at "
    "most 2045 characters.";

// True when typed is the administrator password: exact, letter case and blanks included. The time it
// takes tells nothing of where the two differ, nor of the stored password's length.
bool PasswordMatches(const std::string& typed);

// What a wrong password costs its user, in whichever process it was given.
inline constexpr int WrongPasswordPenaltyMs = 1000;

// PasswordMatches in the user's turn (platform/GuessLock.h), so that one user's guesses made in parallel
// processes are answered one after another: it waits while another process of the same user has the
// turn or the penalty of a wrong password runs, and answers a wrong password only after its own
// penalty. pass lets the time go by (the prompt keeps its window answering, the tool sleeps); load, when
// given, reads the settings afresh once the turn is had, before comparing.
bool CheckPassword(const std::string& typed, const std::function<void(int milliseconds)>& pass,
                   const std::function<void()>& load = {});

struct ServiceOutcome {
    bool done = false;
    std::string message;
};

// The live settings as the channel carries them, and such settings made live.
ControlMessages::AdminSettings LiveSettings();
void MakeLive(const ControlMessages::AdminSettings& settings);

// Who checks the administrator password and keeps the settings that the dialog shows and changes: this
// copy, on settings.ini; or, in a companion, the enforcer over the local channel.
class SettingsKeeper {
public:
    virtual ~SettingsKeeper() = default;
    // Whether typed is the password, a wrong one costing its user the penalty; pass lets time go by. A failure:
    // the keeper could not be asked (its reason fit to show).
    virtual ResultWith<bool> CheckPassword(const std::string& typed,
                                           const std::function<void(int milliseconds)>& pass) = 0;
    // The live settings made what is kept now. A failure's reason is fit to show the administrator.
    virtual Result Fetch() = 0;
    // The live settings kept. A failure's reason is fit to show the administrator; the settings stay in
    // force in memory.
    virtual Result Store() = 0;
    // Whether the program is registered as a service, and registering or removing it (RegisterService,
    // UnregisterService below, where the keeper runs).
    virtual bool ServiceRegistered() = 0;
    virtual ServiceOutcome ChangeService(bool registering) = 0;
};

// The keeper in use: settings.ini's, unless a companion put the enforcer's in (nullptr puts it back).
SettingsKeeper& Keeper();
void UseKeeper(SettingsKeeper* keeper);

// The time an administrator typed, in the long form the settings keep (7:30 gives 07:30:00); nothing
// when it is not a time.
std::optional<std::string> LongTime(const std::string& typed);

// The closed-port entries in order, and the list replaced as a whole (an empty one keeps one spare
// empty entry and LastPortIndex -1, as the dialog leaves it).
std::vector<std::string> ClosedPortList();
void SetClosedPortList(const std::vector<std::string>& entries);

// True when the list holds exactly this text (case and blanks count: "21" and "21, FTP" differ).
bool OnList(const std::vector<std::string>& entries, const std::string& entry);

// Registers or removes the program as a service and, when that worked, records it in the Installed
// flag. The message is the one the administrator is shown, with the control's reason on a failure;
// a registration whose Installed flag could not be saved is a failure too.
ServiceOutcome RegisterService(ServiceControl& NTService1);
ServiceOutcome UnregisterService(ServiceControl& NTService1);

} // namespace Administration
