#include "platform/linux/LinuxServiceControl.h"
#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"
#include "platform/linux/ProgramLayout.h"
#include "platform/linux/SystemdUnit.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr char UnitName[] = "quietwire.service";
constexpr char StartByte = 'S';
constexpr char StopByte = 'T';

// The write end of the listening control's request pipe, for the signal handler.
volatile sig_atomic_t signalPipe = -1;

void onStopSignal(int) {
    const int saved = errno;
    const char byte = StopByte;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe, &byte, 1);
    errno = saved;
}

std::string unitDirectory() {
    const char* dir = std::getenv("QUIETWIRE_UNIT_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/etc/systemd/system";
}

// The running systemd is asked only for its own unit directory; another one is the caller's.
bool systemdManagesUnits() {
    const char* dir = std::getenv("QUIETWIRE_UNIT_DIR");
    return (dir == nullptr || *dir == '\0') && sd_booted() > 0;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The owner of the program's folder, so that the service can write the settings there as the program
// run by hand does; empty for root.
std::string folderOwner(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || st.st_uid == 0) {
        return "";
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return entry.pw_name;
    }
    return std::to_string(st.st_uid);
}

// Written completely beside it, then moved over the old one: systemd never reads half a unit.
Result writeUnitFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out || ::chmod(temporary.c_str(), 0644) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return Result::Errno(error);
    }
    Result moved = systemFileSystem().replaceFile(temporary, path);
    if (!moved) {
        ::unlink(temporary.c_str());
    }
    return moved;
}

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;

class BusError {
public:
    BusError() = default;
    ~BusError() { sd_bus_error_free(&error_); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;

    sd_bus_error* get() { return &error_; }
    std::string text(int result) const { return error_.message != nullptr ? error_.message : std::strerror(-result); }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// Calls a method of systemd's manager.
template <class... Arguments>
Result callManager(sd_bus* bus, const char* method, const char* types, Arguments... arguments) {
    BusError error;
    sd_bus_message* reply = nullptr;
    const int result =
        sd_bus_call_method(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                           "org.freedesktop.systemd1.Manager", method, error.get(), &reply, types, arguments...);
    sd_bus_message_unref(reply);
    return result < 0 ? Result::Failed(error.text(result), -result) : Result::Done();
}

ResultWith<Bus> systemBus() {
    sd_bus* bus = nullptr;
    const int result = sd_bus_open_system(&bus);
    if (result < 0) {
        return Result::Failed(std::strerror(-result), -result);
    }
    return Bus(bus);
}

} // namespace

LinuxServiceControl::LinuxServiceControl(WatchReadable watch, std::string settingsPath, std::string programPath,
                                         std::string shippedUnit)
    : watch_(std::move(watch)), settingsPath_(std::move(settingsPath)), programPath_(std::move(programPath)),
      shippedUnit_(std::move(shippedUnit)) {}

std::string LinuxServiceControl::ProgramPath() {
    return systemFileSystem().executableDirectory() + "/quietwire";
}

std::string LinuxServiceControl::SettingsPath() {
    return systemFileSystem().dataDirectory() + "/service.ini";
}

std::string LinuxServiceControl::ShippedUnit() {
    return ProgramLayout::shippedUnit();
}

LinuxServiceControl::~LinuxServiceControl() {
    restoreSignals();
    watching_.reset();
}

void LinuxServiceControl::SetInteractive(bool) {}
void LinuxServiceControl::SetDisplayName(const std::string& name) {
    displayName_ = name;
}
void LinuxServiceControl::SetStartMode(int32_t mode) {
    startMode_ = mode;
}
void LinuxServiceControl::SetControlsAccepted(int32_t) {}

Result LinuxServiceControl::Install() {
    if (!shippedUnit_.empty()) {
        if (::access(shippedUnit_.c_str(), F_OK) != 0) {
            return Result::Failed("Could not find the service Quietwire (" + shippedUnit_ +
                                  "): " + std::strerror(errno));
        }
        return enable(shippedUnit_);
    }
    const std::string& program = programPath_;
    const std::string folder = folderOf(program);
    const std::string unitPath = unitDirectory() + "/" + UnitName;
    const ServiceUnit unit{
        .description = displayName_, .program = program, .programFolder = folder, .user = folderOwner(folder)};
    const std::optional<std::string> text = serviceUnitText(unit);
    if (!text) {
        return Result::Failed("systemd takes no quotation mark, backslash or control character in a command, as in " +
                              program);
    }
    if (const Result written = writeUnitFile(unitPath, *text); !written) {
        return Result::Failed("Could not write " + unitPath + ": " + written.reason());
    }
    Result enabled = enable(unitPath);
    if (!enabled) {
        ::unlink(unitPath.c_str());
    }
    return enabled;
}

// Started with the system (start mode 2): enabled, as `systemctl enable` does; otherwise only made known.
Result LinuxServiceControl::enable(const std::string& unitPath) {
    if (!systemdManagesUnits()) {
        if (startMode_ != 2) {
            return Result::Done();
        }
        const std::string wants = unitDirectory() + "/multi-user.target.wants";
        const std::string link = wants + "/" + UnitName;
        if ((::mkdir(wants.c_str(), 0755) != 0 && errno != EEXIST) ||
            (::unlink(link.c_str()) != 0 && errno != ENOENT) || ::symlink(unitPath.c_str(), link.c_str()) != 0) {
            return Result::Errno(errno, "Could not enable the service Quietwire (" + link + ")");
        }
        return Result::Done();
    }
    const ResultWith<Bus> bus = systemBus();
    if (!bus) {
        return Result::Failed("Could not reach systemd: " + bus.reason());
    }
    if (startMode_ == 2) {
        if (const Result enabled = callManager(bus->get(), "EnableUnitFiles", "asbb", 1, UnitName, 0, 1); !enabled) {
            return Result::Failed("Could not enable the service Quietwire: " + enabled.reason());
        }
    }
    const Result reloaded = callManager(bus->get(), "Reload", "");
    return reloaded ? reloaded : Result::Failed("Could not have systemd reload its units: " + reloaded.reason());
}

Result LinuxServiceControl::Uninstall() {
    const bool shipped = !shippedUnit_.empty();
    const std::string unitPath = shipped ? shippedUnit_ : unitDirectory() + "/" + UnitName;
    struct stat st {};
    if (::lstat(unitPath.c_str(), &st) != 0) {
        return Result::Errno(errno, "Could not remove the service Quietwire (" + unitPath + ")");
    }
    // A running service keeps running until it is stopped or the machine shuts down; then it is gone.
    Bus bus;
    if (systemdManagesUnits()) {
        ResultWith<Bus> reached = systemBus();
        if (!reached) {
            return Result::Failed("Could not reach systemd: " + reached.reason());
        }
        bus = std::move(*reached);
        if (const Result disabled = callManager(bus.get(), "DisableUnitFiles", "asb", 1, UnitName, 0); !disabled) {
            return Result::Failed("Could not disable the service Quietwire: " + disabled.reason());
        }
    } else {
        const std::string link = unitDirectory() + "/multi-user.target.wants/" + UnitName;
        if (::unlink(link.c_str()) != 0 && errno != ENOENT) {
            return Result::Errno(errno, "Could not disable the service Quietwire (" + link + ")");
        }
    }
    if (!shipped && ::unlink(unitPath.c_str()) != 0) {
        return Result::Errno(errno, "Could not remove the service Quietwire (" + unitPath + ")");
    }
    if (bus) {
        if (const Result reloaded = callManager(bus.get(), "Reload", ""); !reloaded) {
            return Result::Failed("Could not have systemd reload its units: " + reloaded.reason());
        }
    }
    return Result::Done();
}

bool LinuxServiceControl::Running() {
    if (sd_booted() <= 0) {
        return false;
    }
    const ResultWith<Bus> bus = systemBus();
    char* path = nullptr;
    if (!bus || sd_bus_path_encode("/org/freedesktop/systemd1/unit", UnitName, &path) < 0) {
        return false;
    }
    const std::unique_ptr<char, decltype(&std::free)> ownedPath(path, &std::free);
    BusError error;
    char* state = nullptr;
    if (sd_bus_get_property_string(bus->get(), "org.freedesktop.systemd1", path, "org.freedesktop.systemd1.Unit",
                                   "ActiveState", error.get(), &state) < 0) {
        return false;
    }
    const std::unique_ptr<char, decltype(&std::free)> ownedState(state, &std::free);
    return std::strcmp(state, "active") == 0 || std::strcmp(state, "reloading") == 0;
}

void LinuxServiceControl::Listen(ServiceRequests& requests) {
    requests_ = &requests;
    if (requestsRead_.valid()) {
        return;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    requestsRead_.reset(ends[0]);
    requestsWrite_.reset(ends[1]);
    watching_ = watch_(requestsRead_.get(), [this] { onRequests(); });

    signalPipe = requestsWrite_.get();
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // SIGHUP too: a closed terminal is a logging off, which ends the program with its save.
    for (auto& [signal, previous] : previous_) {
        sigaction(signal, nullptr, &previous);
        // A signal ignored by whoever started the program (a background job's SIGINT, nohup's SIGHUP)
        // stays ignored.
        if (previous.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
    handlingSignals_ = true;
}

void LinuxServiceControl::restoreSignals() {
    if (!handlingSignals_) {
        return;
    }
    for (const auto& [signal, previous] : previous_) {
        sigaction(signal, &previous, nullptr);
    }
    handlingSignals_ = false;
}

void LinuxServiceControl::StartService() {
    // Only systemd sets NOTIFY_SOCKET (Type=notify); run any other way there is no one to tell.
    if (started_ || std::getenv("NOTIFY_SOCKET") == nullptr) {
        return;
    }
    started_ = true;
    const char byte = StartByte;
    if (!requestsWrite_.valid() || ::write(requestsWrite_.get(), &byte, 1) != 1) {
        sd_notify(0, "READY=1"); // no one to ask: the program runs
    }
}

void LinuxServiceControl::onRequests() {
    char bytes[64];
    bool stop = false;
    ssize_t n;
    while ((n = ::read(requestsRead_.get(), bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] == StartByte) {
                deliverStart();
            } else {
                stop = true;
            }
        }
    }
    // Signals that arrived together are one request.
    if (stop) {
        deliverStop();
    }
}

void LinuxServiceControl::deliverStart() {
    bool success = false;
    requests_->Start(success);
    if (success) {
        sd_notify(0, "READY=1");
        return;
    }
    // A program that refuses to run as the service ends normally; as it never said READY=1, systemd
    // counts the start as failed (and Restart=on-failure tries again, within its start limit).
    sd_notify(0, "STATUS=The program refused to run as the service.");
    deliverStop();
}

void LinuxServiceControl::deliverStop() {
    sd_notify(0, "STOPPING=1");
    // A second signal ends a program that hangs on its way out, as the default action would.
    restoreSignals();
    requests_->Stop();
}

void LinuxServiceControl::SaveSetting(const std::string& section, const std::string& key, const std::string& value) {
    // Made root's alone (or its owner's) before anything is in it, as settings.ini beside it is.
    const UniqueFd created(::open(settingsPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    systemProfileFile().writePrivateProfileString(section, key, value, settingsPath_);
}

std::string LinuxServiceControl::GetSetting(const std::string& section, const std::string& key,
                                            const std::string& fallback) {
    char buffer[2048];
    const uint32_t n =
        systemProfileFile().getPrivateProfileString(section, key, fallback, buffer, sizeof buffer, settingsPath_);
    return std::string(buffer, n);
}

ServiceControl& programServiceControl() {
    // Never listens, so there is no loop to watch for requests.
    static LinuxServiceControl instance([](int, std::function<void()>) { return std::unique_ptr<ReadableWatch>(); },
                                        LinuxServiceControl::SettingsPath(), LinuxServiceControl::ProgramPath(),
                                        LinuxServiceControl::ShippedUnit());
    return instance;
}
