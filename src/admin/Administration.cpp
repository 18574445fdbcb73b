#include "admin/Administration.h"

#include "core/CurfewWindow.h"
#include "service/ServiceHost.h"
#include "settings/AppError.h"
#include "settings/modGlobals.h"

#include <algorithm>

namespace Administration {

namespace {

constexpr const char* RestartNotice = "\r\n\r\nYou must restart the computer now, to apply the changes";

// The service control's own words on a failure, after the message the administrator knows.
std::string withReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + "\r\n\r\n" + reason;
}

} // namespace

bool PasswordMatches(const std::string& typed) {
    return typed == modGlobals::AdminPassword;
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
    if (!NTService1.Install()) {
        return {false, withReason("Registration failed!", NTService1.LastError())};
    }
    return recorded(NTService1, true, "Service successfully Registered!");
}

ServiceOutcome UnregisterService(ServiceControl& NTService1) {
    if (!NTService1.Uninstall()) {
        return {false, withReason("UnRegistration failed!", NTService1.LastError())};
    }
    return recorded(NTService1, false, "Service successfully UnRegistered!");
}

} // namespace Administration
