#pragma once

#include "platform/ServiceControl.h"

#include <string>

// The program's use of its service control (NTService1): set up at every start, and handed to the
// service manager when the program registered itself as a service.
namespace ServiceHost {

inline constexpr const char* ServiceName = "Quietwire";
inline constexpr int32_t StartWithSystem = 2;
inline constexpr int32_t AcceptStop = 1;

// The Installed flag of the control's store ("General", "Installed"), read without regard to case;
// absent reads as fallback.
bool Installed(ServiceControl& NTService1, const std::string& fallback);

// Gives the control the program's service settings: interactive, its display name, started with the
// system, the stop request only. What a registration made from outside the program needs too.
void Configure(ServiceControl& NTService1);

// Configures the control and, when the program registered itself and no copy runs as the service yet,
// hands the process to the service manager. Requests go to requests from now on.
void ServiceStartup(ServiceControl& NTService1, ServiceRequests& requests);

} // namespace ServiceHost
