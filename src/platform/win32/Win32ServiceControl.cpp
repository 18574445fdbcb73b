#include "platform/FileSystem.h"
#include "platform/ServiceControl.h"
#include "platform/win32/ServiceHandle.h"
#include "platform/win32/SystemWords.h"

#include <windows.h>
// <winsvc.h> maps StartService to StartServiceA, which would rename the interface's method here.
#undef StartService

#include <mutex>
#include <string>
#include <utility>

namespace {

constexpr char ServiceName[] = "Quietwire";
constexpr char SettingsKey[] = "SOFTWARE\\Quietwire\\";
constexpr char RequestWindowClass[] = "QuietwireServiceRequests";

constexpr UINT StartRequest = WM_APP + 1;
constexpr UINT ContinueRequest = WM_APP + 2;
constexpr UINT StopRequest = WM_APP + 3;

// How long Uninstall waits for a running service to stop before it removes the registration anyway
// (the manager then deletes the service when it stops).
constexpr DWORD StopWaitMs = 30000;
constexpr DWORD PendingHintMs = 30000;
// The dispatcher returns once the service has reported that it stopped.
constexpr DWORD DispatcherEndWaitMs = 10000;

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string ownPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool queryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                &needed) != 0;
}

class Win32ServiceControl final : public ServiceControl {
public:
    explicit Win32ServiceControl(std::string programPath) : programPath_(std::move(programPath)) {}
    ~Win32ServiceControl() override {
        // The process is ending its run: the manager must see a service that stopped, not one that died.
        report(SERVICE_STOPPED);
        if (dispatcher_ != nullptr) {
            WaitForSingleObject(dispatcher_, DispatcherEndWaitMs);
            CloseHandle(dispatcher_);
        }
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }

    void SetInteractive(bool interactive) override { interactive_ = interactive; }
    void SetDisplayName(const std::string& name) override { displayName_ = name; }
    void SetStartMode(int32_t mode) override { startMode_ = mode; }
    void SetControlsAccepted(int32_t controls) override { controlsAccepted_ = controls; }

    Result Install() override {
        const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
        if (!manager) {
            return fail("Could not open the service control manager");
        }
        const DWORD type = SERVICE_WIN32_OWN_PROCESS | (interactive_ ? SERVICE_INTERACTIVE_PROCESS : 0);
        const DWORD start = startMode_ == 2 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
        // Quoted, or a path with blanks could start another program (C:\Program.exe).
        const std::string command = "\"" + programPath_ + "\"";
        const ServiceHandle service(CreateServiceA(manager.get(), ServiceName, displayName_.c_str(),
                                                   SERVICE_QUERY_STATUS, type, start, SERVICE_ERROR_NORMAL,
                                                   command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!service) {
            return fail("Could not register the service Quietwire");
        }
        return Result::Done();
    }

    Result Uninstall() override {
        const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager) {
            return fail("Could not open the service control manager");
        }
        const ServiceHandle service(
            OpenServiceA(manager.get(), ServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
        if (!service) {
            return fail("Could not open the service Quietwire");
        }
        SERVICE_STATUS_PROCESS status{};
        // The service's own process cannot wait for itself to stop: its stop request would only be
        // handled after this returns. The manager deletes the service when that process ends.
        if (queryStatus(service.get(), status) && status.dwCurrentState != SERVICE_STOPPED &&
            status.dwProcessId != GetCurrentProcessId()) {
            SERVICE_STATUS ignored{};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
            for (DWORD waited = 0;
                 waited < StopWaitMs && queryStatus(service.get(), status) && status.dwCurrentState != SERVICE_STOPPED;
                 waited += 200) {
                Sleep(200);
            }
        }
        if (!DeleteService(service.get())) {
            return fail("Could not remove the service Quietwire");
        }
        return Result::Done();
    }

    bool Running() override {
        const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const ServiceHandle service(manager ? OpenServiceA(manager.get(), ServiceName, SERVICE_QUERY_STATUS) : nullptr);
        SERVICE_STATUS_PROCESS status{};
        return service && queryStatus(service.get(), status) && status.dwCurrentState == SERVICE_RUNNING;
    }

    void Listen(ServiceRequests& requests) override {
        requests_ = &requests;
        if (window_ != nullptr) {
            return;
        }
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = RequestWindowClass;
        RegisterClassA(&windowClass);
        // A message-only window: the manager's threads post to it, the program's own loop dispatches.
        window_ = CreateWindowExA(0, RequestWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    void StartService() override {
        if (dispatcher_ != nullptr) {
            return;
        }
        serving = this;
        // StartServiceCtrlDispatcherA keeps its thread until the service stops; started by anything but
        // the manager it fails at once (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) and nothing follows.
        dispatcher_ = CreateThread(nullptr, 0, DispatcherThread, nullptr, 0, nullptr);
    }

    void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override {
        RegistryKey settings;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (SettingsKey + section).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            settings.out(), nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(settings.get(), key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
        }
    }

    std::string GetSetting(const std::string& section, const std::string& key, const std::string& fallback) override {
        const std::string subkey = SettingsKey + section;
        DWORD size = 0;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, subkey.c_str(), key.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS) {
            return fallback;
        }
        std::string value(size, '\0');
        if (RegGetValueA(HKEY_LOCAL_MACHINE, subkey.c_str(), key.c_str(), RRF_RT_REG_SZ, nullptr, value.data(),
                         &size) != ERROR_SUCCESS) {
            return fallback;
        }
        value.resize(size > 0 ? size - 1 : 0);
        return value;
    }

private:
    static Result fail(const std::string& what) {
        const DWORD error = GetLastError();
        return Result::Failed(what + ": " + systemWords(error), static_cast<int>(error));
    }

    // Thread-safe; a service that has stopped stays stopped.
    void report(DWORD state, DWORD serviceExitCode = 0) {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        if (statusHandle_ == nullptr || status_.dwCurrentState == SERVICE_STOPPED) {
            return;
        }
        status_.dwServiceType =
            SERVICE_WIN32_OWN_PROCESS | (interactive_ ? static_cast<DWORD>(SERVICE_INTERACTIVE_PROCESS) : 0);
        status_.dwCurrentState = state;
        const bool settled = state == SERVICE_RUNNING || state == SERVICE_PAUSED;
        status_.dwControlsAccepted =
            settled ? static_cast<DWORD>(controlsAccepted_) &
                          (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN)
                    : 0;
        status_.dwWin32ExitCode = serviceExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
        status_.dwServiceSpecificExitCode = serviceExitCode;
        const bool pending = !settled && state != SERVICE_STOPPED;
        status_.dwCheckPoint = pending ? status_.dwCheckPoint + 1 : 0;
        status_.dwWaitHint = pending ? PendingHintMs : 0;
        SetServiceStatus(statusHandle_, &status_);
    }

    // The manager's threads only post; the requests run on the thread that called Listen.
    bool post(UINT request) { return window_ != nullptr && PostMessageA(window_, request, 0, 0) != 0; }

    static DWORD WINAPI DispatcherThread(void*) {
        SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(ServiceName), ServiceMain}, {nullptr, nullptr}};
        StartServiceCtrlDispatcherA(table);
        return 0;
    }

    static void WINAPI ServiceMain(DWORD, char**) {
        Win32ServiceControl& self = *serving;
        {
            const std::lock_guard<std::mutex> lock(self.statusMutex_);
            self.statusHandle_ = RegisterServiceCtrlHandlerExA(ServiceName, ControlHandler, &self);
        }
        self.report(SERVICE_START_PENDING);
        if (!self.post(StartRequest)) {
            self.report(SERVICE_STOPPED, 1);
        }
    }

    static DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void* context) {
        auto& self = *static_cast<Win32ServiceControl*>(context);
        switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            self.report(SERVICE_STOP_PENDING);
            self.post(StopRequest);
            return NO_ERROR;
        case SERVICE_CONTROL_PAUSE:
            // The program has no pause request: a paused service just waits for its continue.
            self.report(SERVICE_PAUSED);
            return NO_ERROR;
        case SERVICE_CONTROL_CONTINUE:
            self.report(SERVICE_CONTINUE_PENDING);
            self.post(ContinueRequest);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Win32ServiceControl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self == nullptr || self->requests_ == nullptr || message < StartRequest || message > StopRequest) {
            return DefWindowProcA(window, message, wParam, lParam);
        }
        bool success = false;
        switch (message) {
        case StartRequest:
            self->requests_->Start(success);
            // A refused start ends the service with an exit code of its own; the program runs on.
            if (success) {
                self->report(SERVICE_RUNNING);
            } else {
                self->report(SERVICE_STOPPED, 1);
            }
            break;
        case ContinueRequest:
            self->requests_->Continue(success);
            self->report(success ? SERVICE_RUNNING : SERVICE_PAUSED);
            break;
        default:
            self->requests_->Stop();
            break;
        }
        return 0;
    }

    static inline Win32ServiceControl* serving = nullptr;

    std::string programPath_;
    bool interactive_ = false;
    std::string displayName_ = ServiceName;
    int32_t startMode_ = SERVICE_DEMAND_START;
    int32_t controlsAccepted_ = SERVICE_ACCEPT_STOP;

    ServiceRequests* requests_ = nullptr;
    HWND window_ = nullptr;
    HANDLE dispatcher_ = nullptr;
    std::mutex statusMutex_;
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    SERVICE_STATUS status_{};
};

} // namespace

ServiceControl& systemServiceControl() {
    static Win32ServiceControl instance(ownPath());
    return instance;
}

ServiceControl& programServiceControl() {
    static Win32ServiceControl instance(systemFileSystem().executableDirectory() + "\\quietwire.exe");
    return instance;
}
