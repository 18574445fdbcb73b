#include "service/ServiceHost.h"

#include "settings/AppError.h"
#include "settings/VtkModule.h"

namespace ServiceHost {
bool Installed(ServiceControl& NTService1, const std::string& fallback) {
    return VtkModule::LCase(NTService1.GetSetting("General", "Installed", fallback)) == "true";
}

void Configure(ServiceControl& NTService1) {
    NTService1.SetInteractive(true);
    NTService1.SetDisplayName(AppTitle);
    NTService1.SetStartMode(StartWithSystem);
    NTService1.SetControlsAccepted(AcceptStop);
}

void ServiceStartup(ServiceControl& NTService1, ServiceRequests& requests) {
    NTService1.Listen(requests);
    Configure(NTService1);
    if (Installed(NTService1, "False") && !NTService1.Running()) {
        NTService1.StartService();
    }
}

} // namespace ServiceHost
