#pragma once

#include "platform/win32/ServiceHandle.h"

#include <windows.h>

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
