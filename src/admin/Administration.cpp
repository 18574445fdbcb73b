#include "admin/Administration.h"

#include "platform/GuessLock.h"
#include "platform/Platform.h"
#include "service/ServiceHost.h"
#include "settings/AppError.h"
#include "settings/CurfewWindow.h"
#include "settings/modGlobals.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace Administration {

namespace {

constexpr const char* RestartNotice = "\r\n\r\nYou must restart the computer now, to apply the changes";

// The service control's own words on a failure, after the message the administrator knows.
std::string withReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + "\r\n\r\n" + reason;
}

// The turn a check further down this thread's stack holds while it waits: a prompt opened from the
// waiting one's event loop shares it, for neither could end if it waited for the other.
GuessTurn* turnHeldHere = nullptr;

class HeldHere {
public:
    explicit HeldHere(GuessTurn* turn) : previous_(std::exchange(turnHeldHere, turn)) {}
    ~HeldHere() { turnHeldHere = previous_; }
    HeldHere(const HeldHere&) = delete;
    HeldHere& operator=(const HeldHere&) = delete;

private:
    GuessTurn* previous_;
};

} // namespace

bool PasswordMatches(const std::string& typed) {
    // Every typed character is compared, whether or not an earlier one differed, and the stored text is
    // walked round for as long as the typed one lasts: the time follows the guess, not the secret.
    const std::string& stored = modGlobals::AdminPassword;
    const size_t length = stored.size();
    unsigned difference = typed.size() != length ? 1U : 0U;
    for (size_t i = 0; i < typed.size(); ++i) {
        const unsigned char want = length != 0 ? static_cast<unsigned char>(stored[i % length]) : 0;
        difference |= static_cast<unsigned char>(typed[i]) ^ want;
    }
    return difference == 0;
}

bool CheckPassword(const std::string& typed, const std::function<void(int milliseconds)>& pass,
                   const std::function<void()>& load) {
    constexpr int TurnPollMs = 50;
    std::unique_ptr<GuessTurn> taken;
    GuessTurn* turn = turnHeldHere;
    if (turn == nullptr) {
        GuessLock& lock = platform::get<GuessLock>();
        taken = lock.TryTake();
        while (!taken) {
            pass(TurnPollMs);
            taken = lock.TryTake();
        }
        turn = taken.get();
    }
    const HeldHere holding(turn);
    // The penalty of a guesser that ended its process before the answer still stands.
    if (const int left = std::min(turn->PenaltyLeft(), WrongPasswordPenaltyMs); left > 0) {
        pass(left);
    }
    if (load) {
        load();
    }
    // Set before comparing, so that ending the process on seeing no answer at once does not shorten it.
    turn->SetPenalty(WrongPasswordPenaltyMs);
    if (PasswordMatches(typed)) {
        turn->SetPenalty(0);
        return true;
    }
    // Served here whatever the lock could keep: a turn that cannot be stored never shortens it.
    pass(WrongPasswordPenaltyMs);
    return false;
}

namespace {

// settings.ini, read and written by this copy.
class FileKeeper final : public SettingsKeeper {
public:
    ResultWith<bool> CheckPassword(const std::string& typed,
                                   const std::function<void(int milliseconds)>& pass) override {
        return Administration::CheckPassword(typed, pass);
    }
    Result Fetch() override {
        modGlobals::FollowSettingsFile(); // whoever saved it last
        return Result::Done();
    }
    Result Store() override {
        const Result saved = modGlobals::SaveSettings();
        return saved ? saved : Result::Failed(modGlobals::SaveFailureMessage(saved), saved.code());
    }
    bool ServiceRegistered() override { return ServiceHost::Installed(platform::get<ServiceControl>(), "false"); }
    ServiceOutcome ChangeService(bool registering) override {
        ServiceControl& NTService1 = platform::get<ServiceControl>();
        return registering ? RegisterService(NTService1) : UnregisterService(NTService1);
    }
};

FileKeeper fileKeeper;
SettingsKeeper* keeperInUse = &fileKeeper;

} // namespace

ControlMessages::AdminSettings LiveSettings() {
    return {modGlobals::AdminPassword,
            modGlobals::StartTime,
            modGlobals::EndTime,
            ClosedPortList(),
            modGlobals::AlarmRaised,
            modGlobals::BlockChosen,
            {modGlobals::WeekDays.begin(), modGlobals::WeekDays.end()},
            static_cast<std::size_t>(modGlobals::WarnMinutes)};
}

void MakeLive(const ControlMessages::AdminSettings& settings) {
    modGlobals::AdminPassword = settings.password;
    modGlobals::StartTime = settings.start;
    modGlobals::EndTime = settings.end;
    SetClosedPortList(settings.ports);
    modGlobals::AlarmRaised = settings.alarm;
    modGlobals::BlockChosen = settings.block;
    modGlobals::WarnMinutes = static_cast<int32_t>(std::min<std::size_t>(settings.warn, modGlobals::MostWarnMinutes));
    modGlobals::WeekDays = {};
    std::copy_n(settings.week.begin(), std::min(settings.week.size(), modGlobals::WeekDays.size()),
                modGlobals::WeekDays.begin());
}

SettingsKeeper& Keeper() {
    return *keeperInUse;
}

void UseKeeper(SettingsKeeper* keeper) {
    keeperInUse = keeper != nullptr ? keeper : &fileKeeper;
}

std::optional<std::string> LongTime(const std::string& typed) {
    try {
        return FormatLongTime(ParseTime(typed));
    } catch (const AppError&) {
        return std::nullopt;
    }
}

std::vector<std::string> ClosedPortList() {
    const size_t count = std::min(static_cast<size_t>(modGlobals::LastPortIndex + 1), modGlobals::ClosedPorts.size());
    return {modGlobals::ClosedPorts.begin(), modGlobals::ClosedPorts.begin() + static_cast<ptrdiff_t>(count)};
}

void SetClosedPortList(const std::vector<std::string>& entries) {
    if (entries.empty()) {
        modGlobals::ClosedPorts.assign(1, "");
        modGlobals::LastPortIndex = -1;
        return;
    }
    modGlobals::ClosedPorts = entries;
    modGlobals::LastPortIndex = static_cast<int32_t>(entries.size()) - 1;
}

bool OnList(const std::vector<std::string>& entries, const std::string& entry) {
    for (const std::string& listed : entries) {
        if (listed == entry) {
            return true;
        }
    }
    return false;
}

namespace {

// The flag the buttons and the start-up follow; a store that would not take it is said, not hidden.
ServiceOutcome recorded(ServiceControl& NTService1, bool installed, const std::string& success) {
    NTService1.SaveSetting("General", "Installed", installed ? "True" : "False");
    if (ServiceHost::Installed(NTService1, installed ? "false" : "true") != installed) {
        return {false, success + "\r\n\r\nBut the service settings could not be written, so the program does not "
                                 "know it (the Installed flag is unchanged)."};
    }
    return {true, success + RestartNotice};
}

} // namespace

ServiceOutcome RegisterService(ServiceControl& NTService1) {
    NTService1.SetInteractive(true);
    if (const Result installed = NTService1.Install(); !installed) {
        return {false, withReason("Registration failed!", installed.reason())};
    }
    return recorded(NTService1, true, "Service successfully Registered!");
}

ServiceOutcome UnregisterService(ServiceControl& NTService1) {
    if (const Result removed = NTService1.Uninstall(); !removed) {
        return {false, withReason("UnRegistration failed!", removed.reason())};
    }
    return recorded(NTService1, false, "Service successfully UnRegistered!");
}

} // namespace Administration
