#pragma once

#include "platform/win32/ServiceHandle.h"

#include <windows.h>

#include <string>
#include <vector>

// The Quietwire service as the tests see it through the service control manager.
namespace servicemanager {

inline const ServiceHandle& manager() {
    static const ServiceHandle handle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return handle;
}

inline ServiceHandle openQuietwire(DWORD access = SERVICE_ALL_ACCESS) {
    return ServiceHandle(OpenServiceA(manager().get(), "Quietwire", access));
}

inline DWORD currentState(const ServiceHandle& service) {
    SERVICE_STATUS status{};
    return QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

// The service's registration as the manager keeps it; all zero when it cannot be read.
struct ServiceConfig {
    DWORD type = 0;
    DWORD start = 0;
    std::string command;
    std::string displayName;
};
inline ServiceConfig configOf(const ServiceHandle& service) {
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                             static_cast<DWORD>(buffer.size()), &needed)) {
        return {};
    }
    const auto& config = *reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data());
    return {config.dwServiceType, config.dwStartType, config.lpBinaryPathName, config.lpDisplayName};
}

inline SERVICE_STATUS_PROCESS statusOf(const ServiceHandle& service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                         &needed);
    return status;
}

// Polls until the service reaches the state or a minute has passed; returns the state it is in.
inline DWORD waitFor(const ServiceHandle& service, DWORD state) {
    for (int i = 0; i < 600 && currentState(service) != state; ++i) {
        Sleep(100);
    }
    return currentState(service);
}

// The prefix is the tests' own: whatever an earlier, interrupted run registered may go.
inline void removeLeftover() {
    const ServiceHandle service = openQuietwire();
    if (!service) {
        return;
    }
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    waitFor(service, SERVICE_STOPPED);
    DeleteService(service.get());
}

} // namespace servicemanager
