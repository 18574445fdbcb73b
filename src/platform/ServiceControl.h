#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <string>

// The service manager's requests to the program, delivered on the user-interface thread, from its
// event loop, never on another thread.
class ServiceRequests {
public:
    virtual ~ServiceRequests() = default;
    virtual void Start(bool& success) = 0; // the service was started: success tells the manager it runs
    virtual void Continue(bool& success) = 0;
    virtual void Stop() = 0; // end the program normally
};

// The program as an automatically started service ("Quietwire"): registration, the flag kept in the
// control's own settings store, and the hand-over to the service manager.
class ServiceControl {
public:
    virtual ~ServiceControl() = default;
    virtual void SetInteractive(bool interactive) = 0;
    virtual void SetDisplayName(const std::string& name) = 0;
    virtual void SetStartMode(int32_t mode) = 0;            // 2: started with the system
    virtual void SetControlsAccepted(int32_t controls) = 0; // 1: the stop request only
    // Done: registered; else why not, in words for an administrator, with the system's error code.
    virtual Result Install() = 0;
    virtual Result Uninstall() = 0; // done: removed; else why not, as Install says it
    virtual bool Running() = 0;     // true: the service is already running
    // Where the requests go from now on (also the stop request that ends a program not run as a
    // service: on Linux SIGTERM and SIGINT). Called once at start-up, before StartService.
    virtual void Listen(ServiceRequests& requests) = 0;
    // Hands the process to the service manager; its Start request follows. Returns at once: where the
    // program was not started by the manager, nothing follows and the program runs on as it is.
    virtual void StartService() = 0;
    virtual void SaveSetting(const std::string& section, const std::string& key, const std::string& value) = 0;
    virtual std::string GetSetting(const std::string& section, const std::string& key, const std::string& fallback) = 0;
};

ServiceControl& systemServiceControl();

// The service control of the program beside this executable, for a tool that administers it: it
// registers that program, shares its settings store, and is never handed to the service manager.
ServiceControl& programServiceControl();
