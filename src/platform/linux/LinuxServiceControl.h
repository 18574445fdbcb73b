#pragma once

#include <array>
#include <csignal>
#include <utility>

#include "platform/ServiceControl.h"
#include "platform/linux/ReadableWatch.h"
#include "platform/linux/UniqueFd.h"

#include <csignal>
#include <memory>
#include <string>

// The program as a systemd service. Install writes quietwire.service into the unit directory
// (/etc/systemd/system, or QUIETWIRE_UNIT_DIR) and enables it: through systemd's D-Bus interface when
// systemd runs the machine, and by the link `systemctl enable` would make when it does not or when the
// directory is one of the caller's own (tests, images), whose units the running systemd never sees.
// Where a package installed the unit with the program, Install only enables that one and Uninstall
// only disables it: a copy written into /etc would override the package's.
// SIGTERM and SIGINT become the stop request; the start request is the program's own answer to
// StartService, after which systemd hears READY=1. The settings live in an INI file of its own.
class LinuxServiceControl final : public ServiceControl {
public:
    // watch: how the event loop is told of the requests' descriptor; settingsPath: the INI file;
    // programPath: the executable the service runs; shippedUnit: the unit file installed with it, or "".
    LinuxServiceControl(WatchReadable watch, std::string settingsPath, std::string programPath,
                        std::string shippedUnit);
    ~LinuxServiceControl() override;
    LinuxServiceControl(const LinuxServiceControl&) = delete;
    LinuxServiceControl& operator=(const LinuxServiceControl&) = delete;

    // A system service has no desktop to interact with; ignored.
    void SetInteractive(bool interactive) override;
    void SetDisplayName(const std::string& name) override;
    void SetStartMode(int32_t mode) override;
    // systemd's stop is always a signal; ignored.
    void SetControlsAccepted(int32_t controls) override;
    Result Install() override;
    Result Uninstall() override;
    bool Running() override;
    void Listen(ServiceRequests& requests) override;
    void StartService() override;
    void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override;
    std::string GetSetting(const std::string& section, const std::string& key, const std::string& fallback) override;

    // The program's: quietwire beside the running executable (the program, or its administration tool),
    // its service settings in its data folder, and the unit installed with it.
    static std::string ProgramPath();
    static std::string SettingsPath();
    static std::string ShippedUnit();

private:
    Result enable(const std::string& unitPath);
    void onRequests();
    void deliverStart();
    void deliverStop();
    void restoreSignals();

    WatchReadable watch_;
    std::string settingsPath_;
    std::string programPath_;
    std::string shippedUnit_;
    std::string displayName_ = "Quietwire";
    int32_t startMode_ = 3;

    ServiceRequests* requests_ = nullptr;
    // The signal handler and StartService write one byte per request; the loop reads them.
    UniqueFd requestsRead_;
    UniqueFd requestsWrite_;
    std::unique_ptr<ReadableWatch> watching_;
    // The stop signals and how they were handled before.
    std::array<std::pair<int, struct sigaction>, 3> previous_{{{SIGTERM, {}}, {SIGINT, {}}, {SIGHUP, {}}}};
    bool handlingSignals_ = false;
    bool started_ = false;
};
