#include "service/ServiceHost.h"

#include "settings/AppError.h"

namespace ServiceHost {
namespace {

bool isTrue(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text == "true";
}

} // namespace

bool Installed(ServiceControl& NTService1, const std::string& fallback) {
    return isTrue(NTService1.GetSetting("General", "Installed", fallback));
}

void ServiceStartup(ServiceControl& NTService1, ServiceRequests& requests) {
    NTService1.Listen(requests);
    NTService1.SetInteractive(true);
    NTService1.SetDisplayName(AppTitle);
    NTService1.SetStartMode(StartWithSystem);
    NTService1.SetControlsAccepted(AcceptStop);
    if (Installed(NTService1, "False") && !NTService1.Running()) {
        NTService1.StartService();
    }
}

} // namespace ServiceHost
