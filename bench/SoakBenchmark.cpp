// The built Linux program under churn for a long run, measured from outside. Run as root:
//   build/linux/bench/soak_benchmark [--seconds 600] [--rate 50] [--headless]
// The program runs in a network namespace (and a mount namespace) of the benchmark's own, on an X server
// of its own (Xvfb, with trayer as the tray host: the benchmark starts itself again under dbus-run-session
// and xvfb-run when there is no DISPLAY), or with --headless on none. Meanwhile about --rate connections
// a second are opened over the loopback interface, IPv4 and IPv6, on closed ports (on the program's list)
// and open ones (not on it), most held for seconds and some for minutes, while the program's window
// opens and closes again. Also during the run: the settings folder made read-only around a save, the
// program stopped for five seconds, and (on the display) the tray host killed and started again.
// Goals are reported beside the figures; the exit status is not 0 only when the benchmark could not run.
#include "ProcessFigures.h"
#include "admin/AdminLayouts.h"
#include "platform/linux/Loopback.h"
#include "platform/linux/TimeChangeTimer.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramDisplay.h"
#include "program/ProgramFolder.h"

#include <QGuiApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <sched.h>
#include <string>
#include <sys/epoll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A closed list as an administrator keeps one; connections go to the first three and to three ports
// not on it.
const std::vector<std::string> ClosedList = {"2525, TEST", "25, SMTP", "445, SMB", "3389, RDP", "5900, VNC"};
const std::vector<uint16_t> ClosedPorts = {2525, 25, 445};
const std::vector<uint16_t> OpenPorts = {80, 443, 8080};
constexpr double ClosedShare = 0.4;
constexpr double IPv6Share = 0.25;
constexpr double LongShare = 0.15;

constexpr auto Goal = 505ms;       // the longest a connection owed its close may live
constexpr auto GiveUp = 10s;       // owed and still alive this long after its deadline: not closed
constexpr auto StopFor = 5s;       // the program held with SIGSTOP
constexpr auto Warmup = 8s;        // the program started and its icon in the tray before the churn
constexpr auto TrayWait = 10000ms; // for the icon in a tray, before giving up

struct Options {
    int seconds = 600;
    int rate = 50;
    bool headless = false;
};

[[noreturn]] void quit(const std::string& why) {
    quitBenchmark("soak_benchmark", why);
}

Options parse(int argc, char** argv) {
    Options options;
    readOptions(argc, argv, "soak_benchmark", "[--seconds N (at least 30)] [--rate N] [--headless]",
                {{"--seconds", &options.seconds}, {"--rate", &options.rate}}, {{"--headless", &options.headless}});
    if (options.seconds < 30) {
        quit("--seconds must be at least 30: the window opens and closes within the run");
    }
    return options;
}

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string format(const char* pattern, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// When things happen, on the steady clock. The window is set in whole seconds of the wall clock: its
// start bound is its first second, its end bound its last, both included. A setting of the system
// clock (by anyone on the machine) while the program's icon is in the tray raises its alarm: the closed
// ports are then closed at all hours until the administration dialog clears it.
struct Schedule {
    Clock::time_point begin;
    std::chrono::seconds length{};
    Clock::time_point opens;  // the first moment inside the window
    Clock::time_point closes; // the first moment outside it again
    std::string startBound;
    std::string endBound;

    Schedule(Clock::time_point begin, int runSeconds) : begin(begin), length(runSeconds) {
        const auto wallNow = std::chrono::system_clock::now();
        const Clock::time_point now = Clock::now();
        const auto wallBegin = wallNow + (begin - now);
        const std::time_t start =
            std::chrono::system_clock::to_time_t(wallBegin + std::chrono::milliseconds(runSeconds * 350)) + 1;
        const int open = std::max(1, static_cast<int>(std::lround(runSeconds * 0.3)));
        opens = now + (std::chrono::system_clock::from_time_t(start) - wallNow);
        closes = opens + std::chrono::seconds(open);
        startBound = timeOfDayAt(start);
        endBound = timeOfDayAt(start + open - 1);
    }
    Clock::time_point at(double fraction) const {
        return begin + std::chrono::duration_cast<Clock::duration>(length * fraction);
    }
    double since(Clock::time_point t) const { return seconds(t - begin); }
    bool inside(Clock::time_point t) const { return t >= opens && t < closes; }
    // From when a connection on a closed port made at `made` is owed its close.
    Clock::time_point deadline(Clock::time_point made) const {
        const Clock::time_point byWindow = inside(made) ? closes : made;
        const std::lock_guard lock(alarmsGuard_);
        for (const auto& [raised, cleared] : alarms_) {
            if (raised < cleared && byWindow > raised && made < cleared) {
                return std::max(made, raised);
            }
        }
        return byWindow;
    }
    void raiseAlarm(Clock::time_point t) {
        const std::lock_guard lock(alarmsGuard_);
        if (alarms_.empty() || alarms_.back().second != Clock::time_point::max()) {
            alarms_.emplace_back(t, Clock::time_point::max());
        }
    }
    void clearAlarm(Clock::time_point t) {
        const std::lock_guard lock(alarmsGuard_);
        if (!alarms_.empty() && alarms_.back().second == Clock::time_point::max()) {
            alarms_.back().second = t;
        }
    }
    std::vector<std::pair<Clock::time_point, Clock::time_point>> alarms() const {
        const std::lock_guard lock(alarmsGuard_);
        return alarms_;
    }

private:
    mutable std::mutex alarmsGuard_;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> alarms_; // raised, cleared (or max)
};

enum class End {
    Killed,     // reset or aborted
    ClosedByUs, // its time was up, or the run was, and it was not owed a close
    NotClosed,  // owed, and alive GiveUp past its deadline
    Otherwise,  // ended without a reset: nothing here ends a connection that way
};

struct Outcome {
    uint16_t port = 0;
    bool closedPort = false;
    Clock::time_point made;
    Clock::time_point ended;
    End end = End::ClosedByUs;
};

// The connections: opened at random at `rate` a second, watched for resets, closed when their time is
// up. Runs on a thread of its own; the outcomes are read once it has returned.
class Churn {
public:
    // `alarms`: whether a setting of the clock raises the program's alarm (its icon is in a tray).
    Churn(Schedule& schedule, int rate, bool alarms)
        : schedule_(schedule), rate_(rate), alarms_(alarms), random_(20240611) {
        epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
        if (const Result opened = clockWatch_.open(); !opened) {
            throw std::runtime_error("cannot watch the clock: " + opened.reason());
        }
        watch(clockWatch_.fd(), ClockTag);
        std::vector<uint16_t> ports = ClosedPorts;
        ports.insert(ports.end(), OpenPorts.begin(), OpenPorts.end());
        for (const uint16_t port : ports) {
            UniqueFd listener = loopback::listenOn(AF_INET6, "::", port, true);
            ::fcntl(listener.get(), F_SETFL, ::fcntl(listener.get(), F_GETFL) | O_NONBLOCK);
            watch(listener.get(), ListenerTag | port);
            listeners_[port] = std::move(listener);
        }
    }

    // Until `stop`, then every connection not owed a close is closed and the owed ones are waited for.
    void run(const std::atomic<bool>& stop) {
        std::exponential_distribution<double> gap(rate_);
        auto nextOpen = Clock::now();
        std::vector<epoll_event> events(256);
        bool stopping = false;
        while (!stopping || !live_.empty()) {
            if (!stopping && stop.load()) {
                stopping = true;
                closeAllNotOwed(Clock::now());
            }
            const Clock::time_point next =
                std::min(stopping ? Clock::time_point::max() : nextOpen,
                         timers_.empty() ? Clock::time_point::max() : timers_.begin()->first);
            const auto wait = std::clamp(next - Clock::now(), Clock::duration::zero(), Clock::duration(50ms));
            const int n = ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()),
                                       static_cast<int>(std::ceil(millis(wait))));
            const Clock::time_point now = Clock::now();
            for (int i = 0; i < n; ++i) {
                const uint64_t tag = events[static_cast<size_t>(i)].data.u64;
                if (tag == ClockTag) {
                    clockSet(now);
                } else if ((tag & ListenerTag) != 0) {
                    acceptAll(static_cast<uint16_t>(tag & 0xffff));
                } else {
                    ended(tag, now);
                }
            }
            runTimers(now);
            while (!stopping && Clock::now() >= nextOpen) {
                open();
                nextOpen += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gap(random_)));
            }
        }
    }

    std::vector<Outcome> outcomes;
    int connectFailures = 0;
    std::atomic<int> live{0};
    std::atomic<int> made{0};
    std::atomic<int> clockSets{0};
    std::atomic<Clock::rep> lastClockSet{0}; // since the steady clock's epoch

private:
    static constexpr uint64_t ListenerTag = 1ull << 63;
    static constexpr uint64_t ClockTag = 1ull << 62;

    void clockSet(Clock::time_point now) {
        if (!clockWatch_.takeChange()) {
            return;
        }
        if (alarms_) {
            schedule_.raiseAlarm(now);
        }
        lastClockSet = now.time_since_epoch().count();
        ++clockSets;
    }

    struct Live {
        UniqueFd client;
        UniqueFd server;
        uint64_t acceptKey = 0;
        Clock::time_point due; // when its time is up, or when waiting for its close is given up
        bool held = false;     // owed a close when its time was up, so kept for the program to close
        Outcome outcome;
    };

    static uint64_t acceptKey(uint16_t port, uint16_t peerPort, bool ipv6) {
        return (static_cast<uint64_t>(port) << 17) | (static_cast<uint64_t>(peerPort) << 1) | (ipv6 ? 1 : 0);
    }

    void watch(int fd, uint64_t tag) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = tag;
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event);
    }

    void open() {
        std::uniform_real_distribution<double> share(0, 1);
        const bool closedPort = share(random_) < ClosedShare;
        const std::vector<uint16_t>& ports = closedPort ? ClosedPorts : OpenPorts;
        const uint16_t port = ports[std::uniform_int_distribution<size_t>(0, ports.size() - 1)(random_)];
        const bool ipv6 = share(random_) < IPv6Share;
        const double run = static_cast<double>(schedule_.length.count());
        const double life = share(random_) < LongShare
                                ? std::uniform_real_distribution<double>(run / 10, run * 2 / 5)(random_)
                                : std::uniform_real_distribution<double>(1, 5)(random_);
        Live c;
        try {
            c.client = loopback::connectTo(ipv6 ? AF_INET6 : AF_INET, ipv6 ? "::1" : "127.0.0.1", port);
        } catch (const std::exception&) {
            ++connectFailures;
            return;
        }
        const Clock::time_point now = Clock::now();
        c.outcome = {port, closedPort, now, now, End::ClosedByUs};
        c.acceptKey = acceptKey(port, loopback::localPort(c.client.get()), ipv6);
        c.due = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(life));
        const uint64_t id = nextId_++;
        watch(c.client.get(), id);
        timers_.emplace(c.due, id);
        waitingForAccept_[c.acceptKey] = id;
        live_.emplace(id, std::move(c));
        ++made;
        live = static_cast<int>(live_.size());
        acceptAll(port);
    }

    void acceptAll(uint16_t port) {
        for (;;) {
            sockaddr_in6 peer{};
            socklen_t length = sizeof peer;
            UniqueFd server(
                ::accept4(listeners_[port].get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
            if (!server.valid()) {
                return;
            }
            const auto waiting =
                waitingForAccept_.find(acceptKey(port, ntohs(peer.sin6_port), !IN6_IS_ADDR_V4MAPPED(&peer.sin6_addr)));
            if (waiting != waitingForAccept_.end()) {
                live_.at(waiting->second).server = std::move(server);
                waitingForAccept_.erase(waiting);
            }
        }
    }

    void finish(std::unordered_map<uint64_t, Live>::iterator it, End end, Clock::time_point now) {
        it->second.outcome.end = end;
        it->second.outcome.ended = now;
        outcomes.push_back(it->second.outcome);
        waitingForAccept_.erase(it->second.acceptKey);
        live_.erase(it); // closes both ends; the client's leaves the epoll set with it
        live = static_cast<int>(live_.size());
    }

    void ended(uint64_t id, Clock::time_point now) {
        const auto it = live_.find(id);
        if (it != live_.end()) {
            finish(it, wasReset(it->second.client.get()) ? End::Killed : End::Otherwise, now);
        }
    }

    bool owed(const Live& c, Clock::time_point now) const {
        return c.outcome.closedPort && schedule_.deadline(c.outcome.made) <= now;
    }

    void runTimers(Clock::time_point now) {
        while (!timers_.empty() && timers_.begin()->first <= now) {
            const uint64_t id = timers_.begin()->second;
            timers_.erase(timers_.begin());
            const auto it = live_.find(id);
            if (it == live_.end() || it->second.due > now) {
                continue;
            }
            Live& c = it->second;
            if (c.held) {
                finish(it, End::NotClosed, now);
            } else if (owed(c, now)) {
                c.held = true;
                c.due = std::max(schedule_.deadline(c.outcome.made), now) + GiveUp;
                timers_.emplace(c.due, id);
            } else {
                finish(it, End::ClosedByUs, now);
            }
        }
    }

    void closeAllNotOwed(Clock::time_point now) {
        for (auto it = live_.begin(); it != live_.end();) {
            const auto next = std::next(it);
            if (!owed(it->second, now)) {
                finish(it, End::ClosedByUs, now);
            } else if (!it->second.held) {
                it->second.held = true;
                it->second.due = std::max(schedule_.deadline(it->second.outcome.made), now) + GiveUp;
                timers_.emplace(it->second.due, it->first);
            }
            it = next;
        }
    }

    Schedule& schedule_;
    const int rate_;
    const bool alarms_;
    std::mt19937_64 random_;
    UniqueFd epoll_;
    TimeChangeTimer clockWatch_;
    std::map<uint16_t, UniqueFd> listeners_;
    std::unordered_map<uint64_t, Live> live_;
    std::unordered_map<uint64_t, uint64_t> waitingForAccept_;
    std::multimap<Clock::time_point, uint64_t> timers_;
    uint64_t nextId_ = 0;
};

// A span of the run, from..to; empty until it has happened.
struct Span {
    std::optional<Clock::time_point> from;
    std::optional<Clock::time_point> to;
    bool holds(Clock::time_point t) const { return from && to && t >= *from && t <= *to; }
};

struct Sample {
    Clock::time_point at;
    long residentKb = -1;
    std::vector<std::string> descriptors;
    CpuTime cpu;
    int connections = 0;
    xcb_window_t icon = 0; // the program's icon window in the tray, on the display
};

// Sleeps until `until`, keeping the display's events flowing when there is one.
void pauseUntil(Clock::time_point until) {
    while (Clock::now() < until) {
        if (qApp != nullptr) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), 10ms));
    }
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds time = 5000ms) {
    return waitUntil(done, static_cast<int>(time.count()));
}

// The namespaces every process of the run lives in: its own network, and its own mounts so that the
// settings folder can be made read-only for the program alone.
std::string enterNamespaces() {
    if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
        return why;
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("cannot make a mount namespace: ") + std::strerror(errno);
    }
    return "";
}

// The folder read-only for every process of the run, root's included (a mode would not stop root): a
// read-only bind mount of it over itself, removed when this goes out of scope.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::string folder) : folder_(std::move(folder)) {
        if (::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            problem_ = std::string("bind mount: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
        if (::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            problem_ = std::string("read-only remount: ") + std::strerror(errno);
        }
    }
    ~ReadOnlyFolder() {
        if (mounted_) {
            ::umount2(folder_.c_str(), MNT_DETACH); // detached even while the program reads through it
        }
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    const std::string& problem() const { return problem_; }

private:
    std::string folder_;
    std::string problem_;
    bool mounted_ = false;
};

// Which version of a file is there: its inode and its time of change.
std::pair<ino_t, long long> fileVersion(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) {
        return {0, 0};
    }
    return {s.st_ino, static_cast<long long>(s.st_mtim.tv_sec) * 1000000000LL + s.st_mtim.tv_nsec};
}

struct SaveInjection {
    Span session; // from the first step to the last
    Span readOnly;
    std::string how;                    // which save was tried
    std::string said;                   // what the saver said while the folder was read-only
    std::string effect;                 // on settings.ini, and on the dialog
    std::string afterwards;             // what happened to the save once the folder was writable again
    std::string problem;                // why the injection could not be made, or empty
    std::vector<std::string> alsoShown; // message boxes the program showed on the way, closed as a user would
};

std::string oneLine(std::string text) {
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            line += line.empty() || line.back() == ' ' ? "" : " ";
        } else if (c != '\r') {
            line += c;
        }
    }
    return line;
}

const char* const AdminTitle = "Vesk Quietwire - Administration";

// Closes the program's message boxes as a user would (Return), each one's text kept.
// Closes the program's message boxes as a user would (Return), each one's text kept. The box that says
// the alarm was reset holds the reset back until it is closed: the schedule learns of it then.
void closeMessageBoxes(pid_t program, Schedule& schedule, std::vector<std::string>& seen) {
    WId box = 0;
    // A box the program holds behind the one closed (a second setting of the clock) shows a moment later.
    while (waitFor([&] { return (box = messageBox(program)) != 0; }, 500ms)) {
        seen.push_back(oneLine(messageBoxText(box)));
        const Clock::time_point closing = Clock::now();
        xdotool({"key", "Return"});
        if (seen.back() == "Alarm has been reset!") {
            schedule.clearAlarm(closing);
        }
        if (!waitFor([&] { return messageBox(program) != box; })) {
            return;
        }
    }
}

// The administration dialog opened as the administrator opens it: message boxes in the way closed,
// the tray icon's menu, "Administration...", the password. The dialog, or 0 with the reason in
// `problem`.
WId openAdministration(pid_t program, qint64 host, Schedule& schedule, std::vector<std::string>& shown,
                       std::string& problem) {
    XWindows windows;
    xcb_window_t menu = 0;
    // A message box the program shows meanwhile keeps the icon from opening its menu.
    for (int attempt = 0; attempt < 3 && menu == 0; ++attempt) {
        closeMessageBoxes(program, schedule, shown);
        const xcb_window_t icon = windows.shownInside(program, host);
        if (icon == 0) {
            problem = "the icon is not in the tray";
            return 0;
        }
        const QSize iconSize = windows.size(icon);
        clickAt(icon, iconSize.width() / 2, iconSize.height() / 2, 3);
        waitFor([&] { return (menu = windows.popup(program)) != 0; }, 2000ms);
    }
    if (menu == 0) {
        problem = "no menu at the icon";
        return 0;
    }
    clickAt(menu, windows.size(menu).width() / 2, 10); // "Administration..."
    if (!waitFor([&] { return programWindow(program, "Vesk Quietwire") != 0; })) {
        problem = "no password prompt";
        return 0;
    }
    xdotool({"type", "Secret"});
    xdotool({"key", "Return"});
    WId dialog = 0;
    waitFor([&] { return (dialog = programWindow(program, AdminTitle)) != 0 || messageBox(program) != 0; });
    if (dialog == 0) {
        closeMessageBoxes(program, schedule, shown);
    }
    if (dialog == 0 && !waitFor([&] { return (dialog = programWindow(program, AdminTitle)) != 0; })) {
        problem = "the password did not open the administration dialog";
    }
    return dialog;
}

struct ClockChange {
    Clock::time_point at;
    std::string warning; // what the program showed, empty for nothing
    bool alarmStored = false;
    Span shown;          // from the warning until the administrator's dialog closed
    std::string cleared; // how the administrator fared clearing the alarm
};

// A setting of the system clock, seen at `at`. On the display the program's warning is read and its
// stored alarm checked; then the administrator, called as the warning asks, clears the alarm by
// opening the administration dialog and closing it with OK, so that the window goes on deciding.
ClockChange answerClockChange(const ProgramFolder& folder, Schedule& schedule, pid_t program, qint64 host,
                              Clock::time_point at, bool display) {
    ClockChange change{at, "", false, {}, ""};
    if (!display) {
        return change;
    }
    WId box = 0;
    change.shown.from = at;
    if (waitFor([&] { return (box = messageBox(program)) != 0; }, 3000ms)) {
        change.warning = oneLine(messageBoxText(box));
    }
    change.alarmStored = folder.stored().alarm;
    if (!change.alarmStored) {
        schedule.clearAlarm(at); // the icon was not in a tray just then: nothing was raised
    }
    pauseUntil(Clock::now() + 1s); // read
    std::vector<std::string> shown;
    std::string problem;
    const WId dialog = openAdministration(program, host, schedule, shown, problem);
    if (dialog != 0) {
        XWindows().clickControl(dialog, frmAdminLayout(), "Command4"); // OK
        waitFor([&] { return programWindow(program, AdminTitle) == 0; });
    }
    change.shown.to = Clock::now();
    const bool reset = std::find(shown.begin(), shown.end(), "Alarm has been reset!") != shown.end();
    change.cleared = !problem.empty() ? "the administrator could not clear it: " + problem
                     : reset          ? format("the administrator cleared it through the dialog after %.1f s",
                                               seconds(change.shown.to.value() - at))
                                      : "the dialog said nothing of an alarm";
    return change;
}

// Runs `save` with the program's folder read-only, the span kept in the result; false when the folder
// could not be made read-only.
bool whileReadOnly(const ProgramFolder& folder, SaveInjection& result, const std::function<void()>& save) {
    result.readOnly.from = Clock::now();
    {
        const ReadOnlyFolder readOnly(folder.file(""));
        if (readOnly.problem().empty()) {
            save();
        } else {
            result.problem = "cannot make the folder read-only: " + readOnly.problem();
        }
    }
    result.readOnly.to = Clock::now();
    return result.problem.empty();
}

// Whether settings.ini was saved since `before`, with the window and the list the run set.
std::string savedSince(const ProgramFolder& folder, std::pair<ino_t, long long> before, const Schedule& schedule) {
    if (fileVersion(folder.file("settings.ini")) == before) {
        return "settings.ini NOT saved";
    }
    const StoredSettings stored = folder.stored();
    return stored.start == schedule.startBound && stored.end == schedule.endBound && stored.ports == ClosedList
               ? "settings.ini saved, window and list as before"
               : "settings.ini saved with OTHER settings";
}

// The administrator's save: the dialog opened from the tray icon, OK clicked while the folder is
// read-only, the program's message read and closed, the folder writable again, OK clicked again.
SaveInjection saveThroughTheDialog(const ProgramFolder& folder, Schedule& schedule, pid_t program, qint64 host) {
    SaveInjection result;
    result.how = "the administration dialog's OK (the program's own save)";
    result.session.from = Clock::now();
    const WId dialog = openAdministration(program, host, schedule, result.alsoShown, result.problem);
    if (dialog == 0) {
        return result;
    }
    XWindows windows;
    const FormLayout layout = frmAdminLayout();
    const std::string settings = folder.file("settings.ini");
    const bool readOnly = whileReadOnly(folder, result, [&] {
        const auto before = fileVersion(settings);
        windows.clickControl(dialog, layout, "Command4"); // OK
        WId box = 0;
        if (waitFor([&] { return (box = messageBox(program)) != 0; })) {
            result.said = "a message box: \"" + oneLine(messageBoxText(box)) + "\"";
            pauseUntil(Clock::now() + 2s); // left open a while, as a user reads it
            xdotool({"key", "Return"});
            waitFor([&] { return messageBox(program) == 0; });
        } else {
            result.said = "nothing";
        }
        result.effect =
            std::string(fileVersion(settings) == before ? "settings.ini untouched" : "settings.ini CHANGED") +
            (programWindow(program, AdminTitle) != 0 ? ", the dialog stayed open" : ", the dialog CLOSED");
    });
    if (!readOnly || programWindow(program, AdminTitle) == 0) {
        return result;
    }
    const auto before = fileVersion(settings);
    windows.clickControl(dialog, layout, "Command4");
    const bool closed = waitFor([&] { return programWindow(program, AdminTitle) == 0; });
    result.afterwards = std::string(closed ? "OK again: the dialog closed, " : "OK again: the dialog STAYED OPEN, ") +
                        savedSince(folder, before, schedule);
    return result;
}

// Without a display: a save by the settings code from outside, as another copy of the program saves;
// the program follows the file.
SaveInjection saveFromOutside(const ProgramFolder& folder, const Schedule& schedule) {
    SaveInjection result;
    result.how = "a save from outside by the settings code (the program follows the file)";
    result.session.from = Clock::now();
    const std::string settings = folder.file("settings.ini");
    const auto save = [&] { return folder.saveSettings(schedule.startBound, schedule.endBound, false, ClosedList); };
    const bool readOnly = whileReadOnly(folder, result, [&] {
        // Read-only for about as long as the dialog's save takes on a display.
        pauseUntil(Clock::now() + 1s);
        const auto before = fileVersion(settings);
        const Result saved = save();
        result.said = saved ? "saved" : "\"" + oneLine(saved.reason()) + "\"";
        result.effect = fileVersion(settings) == before ? "settings.ini untouched" : "settings.ini CHANGED";
        pauseUntil(Clock::now() + 2s);
    });
    if (!readOnly) {
        return result;
    }
    const auto before = fileVersion(settings);
    const Result saved = save();
    result.afterwards = saved ? savedSince(folder, before, schedule) : "NOT saved: " + saved.reason();
    return result;
}

struct TrayInjection {
    Clock::time_point killed;
    std::optional<Clock::time_point> trayOwned; // the new tray host took the selection
    std::optional<Clock::time_point> iconBack;  // the program's icon shown inside the new tray host
    // Seen over the seconds after: the icon gone from the new tray, and a new icon window in it.
    std::optional<Clock::time_point> gone;
    std::optional<Clock::time_point> replaced;
    std::string problem;
};

// The tray host killed (SIGKILL) and a new one started at once.
TrayInjection restartTheTray(HelperProcess& host, HelperProcess& newHost, pid_t program) {
    TrayInjection result;
    XWindows windows;
    result.killed = Clock::now();
    host.stop();
    // X reuses a departed client's window ids: the new tray's window may carry the old one's.
    waitFor([&] { return windows.trayOwner() == 0; }, 1000ms);
    if (!newHost.start()) {
        result.problem = "trayer did not start again";
        return result;
    }
    const qint64 newPid = newHost.process().processId();
    waitFor(
        [&] {
            if (!result.trayOwned && windows.trayOwner() != 0) {
                result.trayOwned = Clock::now();
            }
            if (windows.shownInside(program, newPid) != 0) {
                result.iconBack = Clock::now();
            }
            return result.iconBack.has_value();
        },
        TrayWait);
    if (!result.iconBack) {
        result.problem =
            "the icon did not come back into the new tray within " + std::to_string(TrayWait.count()) + " ms";
        return result;
    }
    // The program checks its tray every second and may put its icon in afresh.
    const xcb_window_t icon = windows.shownInside(program, newPid);
    waitFor(
        [&] {
            const xcb_window_t now = windows.shownInside(program, newPid);
            if (now == 0 && !result.gone) {
                result.gone = Clock::now();
            }
            if (now != 0 && now != icon) {
                result.replaced = Clock::now();
            }
            return result.replaced.has_value();
        },
        3000ms);
    return result;
}

// What each connection's end was worth, knowing the window and when the program was stopped.
class Verdicts {
public:
    Verdicts(const Schedule& schedule, const std::vector<Outcome>& outcomes, Span stopped)
        : schedule_(schedule), outcomes_(outcomes), stopped_(stopped), alarms_(schedule.alarms()) {}

    // Connections on closed ports owed a close: from their deadline, or from SIGCONT for those whose
    // deadline fell while the program was stopped (or just before, too late for its last tick).
    struct Owed {
        int count = 0;
        int closed = 0;
        std::vector<double> latencies; // ms, ascending
    };
    enum class Group { Running, Stopped };
    Group groupOf(const Outcome& o) const {
        const Clock::time_point d = schedule_.deadline(o.made);
        return stopped_.from && stopped_.to && d > *stopped_.from - Goal && d < *stopped_.to &&
                       (o.end != End::Killed || o.ended >= *stopped_.from)
                   ? Group::Stopped
                   : Group::Running;
    }
    // Made while the rules changed under it: less than a tick before the window opened, or about when
    // the administrator cleared the alarm (the program clears it a moment after its box is closed).
    bool raced(const Outcome& o) const {
        if (o.made < schedule_.opens && schedule_.opens - o.made < Goal) {
            return true;
        }
        for (const auto& [raised, cleared] : alarms_) {
            if (raised < cleared && cleared != Clock::time_point::max() && o.made > cleared - Goal &&
                o.made < cleared + Goal) {
                return true;
            }
        }
        return false;
    }
    // Whether a connection on a closed port is owed a close at all, and its deadline.
    std::optional<Clock::time_point> owedFrom(const Outcome& o) const {
        const Clock::time_point d = schedule_.deadline(o.made);
        if (!o.closedPort || raced(o) || o.end == End::ClosedByUs || o.ended < d) {
            return std::nullopt;
        }
        return d;
    }
    Owed owed(Group group, const std::function<bool(Clock::time_point deadline)>& within = nullptr) const {
        Owed result;
        for (const Outcome& o : outcomes_) {
            const auto d = owedFrom(o);
            if (!d || groupOf(o) != group || (within && !within(*d))) {
                continue;
            }
            ++result.count;
            if (o.end == End::Killed) {
                ++result.closed;
                const Clock::time_point from = group == Group::Stopped ? *stopped_.to : *d;
                result.latencies.push_back(millis(o.ended - from));
            }
        }
        std::sort(result.latencies.begin(), result.latencies.end());
        return result;
    }

    // Killed though it was not owed a close: on an open port, or on a closed port inside the window.
    std::vector<const Outcome*> wronglyClosed() const {
        std::vector<const Outcome*> wrong;
        for (const Outcome& o : outcomes_) {
            if (o.end == End::Killed && (!o.closedPort || (!raced(o) && o.ended < schedule_.deadline(o.made)))) {
                wrong.push_back(&o);
            }
        }
        return wrong;
    }

private:
    const Schedule& schedule_;
    const std::vector<Outcome>& outcomes_;
    Span stopped_;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> alarms_;
};

std::string latencyFigures(const Verdicts::Owed& owed) {
    if (owed.latencies.empty()) {
        return "none closed";
    }
    return format("worst %.1f ms, median %.1f ms, 99th %.1f ms", owed.latencies.back(), percentile(owed.latencies, 0.5),
                  percentile(owed.latencies, 0.99));
}

// Starts this benchmark again on an X server and a session bus of its own.
void restartOnADisplay(int argc, char** argv) {
    if (std::getenv("QW_SOAK_STARTED_XVFB") != nullptr) {
        quit("xvfb-run gave no DISPLAY");
    }
    ::setenv("QW_SOAK_STARTED_XVFB", "1", 1);
    std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::vector<std::string> words = {"dbus-run-session", "--", "xvfb-run", "-a", "-s", "-screen 0 800x600x24", self};
    words.insert(words.end(), argv + 1, argv + argc);
    std::vector<char*> args;
    for (std::string& w : words) {
        args.push_back(w.data());
    }
    args.push_back(nullptr);
    std::fflush(stdout);
    ::execvp(args[0], args.data());
    quit(std::string("cannot start dbus-run-session and xvfb-run (") + std::strerror(errno) +
         "); install xvfb, trayer and xdotool (scripts/install-deps.sh), or pass --headless");
}

// One run: the program started, the connections churned and the faults injected on schedule, then the
// figures.
class Soak {
public:
    explicit Soak(const Options& options)
        : options_(options), display_(!options.headless), loadBefore_(commandOutput("uptime")),
          machineBefore_(machineJiffies()), schedule_(Clock::now() + Warmup, options.seconds) {}

    // The settings written, the tray host and the program started; quits when it cannot.
    void start() {
        const Result saved = folder_.saveSettings(schedule_.startBound, schedule_.endBound, false, ClosedList);
        const StoredSettings stored = folder_.stored();
        if (!saved || stored.start != schedule_.startBound || stored.end != schedule_.endBound ||
            stored.ports != ClosedList) {
            quit("cannot write the settings: " + saved.reason());
        }
        if (display_ && !host_->start()) {
            quit("cannot start trayer (scripts/install-deps.sh installs it)");
        }
        program_ = folder_.start(display_ ? displayEnvironment() : std::vector<std::string>{});
        if (!program_->started()) {
            quit("cannot start " + folder_.file("quietwire"));
        }
        if (display_) {
            const auto started = Clock::now();
            XWindows windows;
            if (waitFor([&] { return windows.shownInside(pid(), host_->process().processId()) != 0; },
                        std::chrono::duration_cast<std::chrono::milliseconds>(schedule_.begin - started))) {
                iconAfterStart_ = millis(Clock::now() - started);
            }
        }
        pauseUntil(schedule_.begin);
    }

    void run() {
        std::printf("soak_benchmark: %s for %d s, about %d connections a second, %s; %ld CPUs\n"
                    "   window %s..%s (inside from +%.0f s to +%.0f s of the run); closed list %zu ports\n"
                    "   before: %s\n",
                    folder_.file("quietwire").c_str(), options_.seconds, options_.rate,
                    display_ ? "on Xvfb with trayer as the tray host" : "headless", ::sysconf(_SC_NPROCESSORS_ONLN),
                    schedule_.startBound.c_str(), schedule_.endBound.c_str(), schedule_.since(schedule_.opens),
                    schedule_.since(schedule_.closes), ClosedList.size(), loadBefore_.c_str());
        std::fflush(stdout);

        churn_ = std::make_unique<Churn>(schedule_, options_.rate, display_);
        std::atomic<bool> stop{false};
        std::string failure;
        std::thread churning([&] {
            try {
                churn_->run(stop);
            } catch (const std::exception& e) {
                failure = e.what();
            }
        });
        struct Step {
            double fraction;
            std::function<void()> act;
        };
        std::vector<Step> steps = {{0.15, [&] { stopTheProgram(); }}, {0.75, [&] { saveReadOnly(); }}};
        if (display_) {
            steps.push_back({0.85, [&] { tray_ = restartTheTray(*host_, *newHost_, pid()); }});
        }
        for (int step = 0; step <= SampleCount; ++step) {
            steps.push_back({static_cast<double>(step) / SampleCount, [&] { takeSample(); }});
        }
        std::stable_sort(steps.begin(), steps.end(),
                         [](const Step& a, const Step& b) { return a.fraction < b.fraction; });
        for (const Step& step : steps) {
            pauseAnswering(schedule_.at(step.fraction));
            step.act();
        }
        finished_ = Clock::now();
        stop = true;
        churning.join();
        if (!failure.empty()) {
            quit("the connections failed: " + failure);
        }
        machineAfter_ = machineJiffies();
        loadAfter_ = commandOutput("uptime");
        program_->signal(SIGTERM);
        status_ = program_->endsWithin(5s);
    }

    void report() const;

private:
    static constexpr int SampleCount = 20;

    pid_t pid() const { return program_->pid(); }
    qint64 currentHost() const { return (tray_ ? newHost_ : host_)->process().processId(); }

    // Waits until `until`, answering the program's warning when someone on the machine sets the clock.
    void pauseAnswering(Clock::time_point until) {
        do {
            while (answered_ < churn_->clockSets.load()) {
                answered_ = churn_->clockSets.load();
                const Clock::time_point at{Clock::duration(churn_->lastClockSet.load())};
                clockChanges_.push_back(answerClockChange(folder_, schedule_, pid(), currentHost(), at, display_));
            }
            pauseUntil(std::min(until, Clock::now() + 100ms));
        } while (Clock::now() < until);
    }

    void takeSample() {
        Sample s{Clock::now(), residentKb(pid()), descriptorTargets(pid()), cpuTimeOf(pid()), churn_->live.load(), 0};
        if (display_) {
            s.icon = XWindows().shownInside(pid(), currentHost());
        }
        samples_.push_back(std::move(s));
    }

    void stopTheProgram() {
        program_->signal(SIGSTOP);
        stopped_.from = Clock::now();
        pauseUntil(*stopped_.from + StopFor);
        program_->signal(SIGCONT);
        stopped_.to = Clock::now();
    }

    void saveReadOnly() {
        save_ = display_ ? saveThroughTheDialog(folder_, schedule_, pid(), currentHost())
                         : saveFromOutside(folder_, schedule_);
        save_->session.to = Clock::now();
    }

    // What happened when, by name: the injections, the clock's warnings and the window's bounds.
    std::vector<std::pair<Span, std::string>> events() const {
        std::vector<std::pair<Span, std::string>> all = {{{schedule_.opens, schedule_.opens}, "the window opened"},
                                                         {{schedule_.closes, schedule_.closes}, "the window closed"},
                                                         {stopped_, "the stop"}};
        for (const ClockChange& c : clockChanges_) {
            all.push_back({c.shown.to ? c.shown : Span{c.at, c.at + 3s}, "a clock warning and its dialog"});
        }
        if (save_) {
            all.push_back({save_->session, display_ ? "the save's dialog" : "the save"});
        }
        if (tray_) {
            all.push_back({{tray_->killed, tray_->killed + TrayWait}, "the new tray"});
        }
        return all;
    }

    const Options options_;
    const bool display_;
    const std::string loadBefore_;
    const std::pair<double, double> machineBefore_;
    Schedule schedule_;
    ProgramFolder folder_;
    // trayer, and the one started when it was killed
    std::unique_ptr<HelperProcess> host_{new HelperProcess(trayer())};
    std::unique_ptr<HelperProcess> newHost_{new HelperProcess(trayer())};
    std::unique_ptr<Running> program_;
    std::optional<double> iconAfterStart_;
    std::unique_ptr<Churn> churn_;
    int answered_ = 0;

    std::vector<Sample> samples_;
    Span stopped_;
    std::optional<SaveInjection> save_;
    std::optional<TrayInjection> tray_;
    std::vector<ClockChange> clockChanges_;
    Clock::time_point finished_;
    std::pair<double, double> machineAfter_;
    std::string loadAfter_;
    std::optional<int> status_;
};

void Soak::report() const {
    const Verdicts verdicts(schedule_, churn_->outcomes, stopped_);
    const auto deadlineAt = [&](Clock::time_point at) {
        return verdicts.owed(Verdicts::Group::Running, [at](Clock::time_point d) { return d == at; });
    };
    const Verdicts::Owed running = verdicts.owed(Verdicts::Group::Running);
    const Verdicts::Owed whileStopped = verdicts.owed(Verdicts::Group::Stopped);
    const auto wrong = verdicts.wronglyClosed();
    int openPort = 0, insideTheWindow = 0, raced = 0, racedClosed = 0, otherwise = 0;
    for (const Outcome& o : churn_->outcomes) {
        openPort += !o.closedPort;
        insideTheWindow += o.closedPort && schedule_.inside(o.made) && o.ended < schedule_.closes;
        otherwise += o.end == End::Otherwise;
        if (o.closedPort && verdicts.raced(o)) {
            ++raced;
            racedClosed += o.end == End::Killed;
        }
    }
    const int owedCount = running.count + whileStopped.count;
    const int owedClosed = running.closed + whileStopped.closed;
    const double runSeconds = seconds(finished_ - schedule_.begin);
    const auto alarms = schedule_.alarms();

    std::printf("\nsoak_benchmark: %.0f s run, %d connections made (%.1f a second), %d connect() failures\n",
                runSeconds, churn_->made.load(), churn_->made.load() / runSeconds, churn_->connectFailures);
    Table report;
    report.row("closed ports, owed a close (outside the window): closed",
               format("%d of %d (not closed: %d)", owedClosed, owedCount, owedCount - owedClosed), "all",
               owedClosed == owedCount && owedCount > 0);
    report.row("  time to close, from the deadline (the stop apart)", latencyFigures(running), "worst <= 505 ms",
               !running.latencies.empty() && running.latencies.back() <= millis(Goal));
    report.row("  over 505 ms", format("%ld of %zu",
                                       std::count_if(running.latencies.begin(), running.latencies.end(),
                                                     [](double ms) { return ms > millis(Goal); }),
                                       running.latencies.size()));
    const Verdicts::Owed atTheEnd = deadlineAt(schedule_.closes);
    report.row("  held across the window's end",
               format("%d of %d closed; ", atTheEnd.closed, atTheEnd.count) + latencyFigures(atTheEnd));
    for (const auto& [raised, cleared] : alarms) {
        if (raised < cleared) {
            const Verdicts::Owed atTheAlarm = deadlineAt(raised);
            report.row(format("  inside the window when the alarm came (+%.1f s)", schedule_.since(raised)),
                       format("%d of %d closed; ", atTheAlarm.closed, atTheAlarm.count) + latencyFigures(atTheAlarm));
        }
    }
    report.row("  raced a change (made < 505 ms before the opening, or about when an alarm was cleared)",
               format("%d (closed anyway: %d), not counted", raced, racedClosed));
    report.row("wrongly closed (open port, or closed port inside the window)",
               format("%zu (open-port connections %d, closed-port inside the window %d)", wrong.size(), openPort,
                      insideTheWindow),
               "0", wrong.empty());
    report.row("ended without a reset (unexpected)", format("%d", otherwise));

    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    // Memory grows in steps where something first happens (the first message box loads Qt's styles,
    // fonts and icon themes; the most connections closed in one tick set the allocator's high-water
    // mark), and stays there; a leak grows a little in every interval.
    constexpr long StepKb = 256;
    constexpr long NoiseKb = 64;
    std::string steps;
    long rest = 0;
    int quiet = 0;
    const auto happenings = events();
    for (size_t i = 1; i < samples_.size(); ++i) {
        const Sample& a = samples_[i - 1];
        const Sample& b = samples_[i];
        const long kb = b.residentKb - a.residentKb;
        std::string what;
        for (const auto& [span, name] : happenings) {
            if (span.from && span.to && *span.from <= b.at && *span.to >= a.at &&
                what.find(name) == std::string::npos) {
                what += (what.empty() ? "" : ", ") + name;
            }
        }
        if (what.empty() && std::abs(kb) <= StepKb) {
            rest += kb;
            ++quiet;
            continue;
        }
        if (std::abs(kb) <= NoiseKb) {
            continue;
        }
        steps += format("%s%+ld kB at +%.0f..+%.0f s (%s)", steps.empty() ? "" : "; ", kb, schedule_.since(a.at),
                        schedule_.since(b.at), what.empty() ? "nothing injected" : what.c_str());
    }
    report.row(
        "resident memory (VmRSS), start -> end",
        format("%ld kB -> %ld kB (%+ld kB)", first.residentKb, last.residentKb, last.residentKb - first.residentKb),
        "flat");
    report.row(format("  steps between samples: over %ld kB, or over %ld kB with something happening", StepKb, NoiseKb),
               steps.empty() ? "none" : steps);
    report.row(format("  the rest: %d intervals of %.0f s with nothing happening", quiet, runSeconds / SampleCount),
               format("%+ld kB", rest), "flat", rest <= StepKb);
    std::vector<std::string> atStart = first.descriptors, atEnd = last.descriptors;
    std::sort(atStart.begin(), atStart.end());
    std::sort(atEnd.begin(), atEnd.end());
    std::string differ;
    for (const auto& [from, to, sign] : {std::tuple{&atStart, &atEnd, "-"}, std::tuple{&atEnd, &atStart, "+"}}) {
        std::vector<std::string> targets;
        std::set_difference(from->begin(), from->end(), to->begin(), to->end(), std::back_inserter(targets));
        for (const std::string& target : targets) {
            differ += std::string(" ") + sign + target;
        }
    }
    report.row("open descriptors, start -> end",
               format("%zu -> %zu", first.descriptors.size(), last.descriptors.size()) + differ, "flat");
    const double cpu = last.cpu.ticked - first.cpu.ticked;
    report.row("CPU, utime+stime over the run",
               format("%.2f s (%.2f%% of one core; %.2f s by the scheduler's run time)", cpu, 100 * cpu / runSeconds,
                      last.cpu.precise - first.cpu.precise));

    if (stopped_.to) {
        report.row("(b) SIGSTOP 5 s, SIGCONT: first kill after SIGCONT",
                   whileStopped.latencies.empty() ? "none owed" : format("%.1f ms", whileStopped.latencies.front()),
                   "at once, within a tick", !whileStopped.latencies.empty() && whileStopped.latencies.front() <= 500);
        report.row("  owed during the stop: closed; time from SIGCONT",
                   format("%d of %d; ", whileStopped.closed, whileStopped.count) + latencyFigures(whileStopped));
    }
    if (save_) {
        report.row("(a) settings folder read-only around a save", save_->how);
        if (!save_->problem.empty()) {
            report.row("  NOT DONE", save_->problem);
        }
        for (const std::string& shown : save_->alsoShown) {
            report.row("  first closed a message box", "\"" + shown + "\"");
        }
        if (save_->readOnly.to) {
            report.row(
                format("  read-only for %.1f s; the save said", seconds(*save_->readOnly.to - *save_->readOnly.from)),
                save_->said);
            report.row("  then", save_->effect);
            report.row("  writable again", save_->afterwards);
        }
        const Verdicts::Owed during =
            verdicts.owed(Verdicts::Group::Running, [&](Clock::time_point d) { return save_->session.holds(d); });
        report.row(format("  enforcement over its %.1f s: closed; time to close",
                          seconds(*save_->session.to - *save_->session.from)),
                   format("%d of %d; ", during.closed, during.count) + latencyFigures(during), "all",
                   during.closed == during.count);
    }
    if (display_) {
        report.row("icon in the tray after the program's start",
                   iconAfterStart_ ? format("%.0f ms", *iconAfterStart_) : "NEVER");
    }
    if (tray_) {
        const bool back = tray_->iconBack && tray_->trayOwned;
        report.row("(c) tray host killed and started again: icon back",
                   back ? format("%.0f ms after the new tray took the selection (%.0f ms after the kill)",
                                 millis(*tray_->iconBack - *tray_->trayOwned), millis(*tray_->iconBack - tray_->killed))
                        : tray_->problem,
                   "within 1 s", back && *tray_->iconBack - *tray_->trayOwned <= 1s);
        if (tray_->replaced) {
            report.row("  then the program put its icon in afresh",
                       format("%.0f ms after the kill", millis(*tray_->replaced - tray_->killed)) +
                           (tray_->gone
                                ? format(", gone from the tray for %.0f ms", millis(*tray_->replaced - *tray_->gone))
                                : ", never gone from the tray"));
        } else if (tray_->gone) {
            report.row("  then the icon went from the tray", "and was not back within 3 s");
        }
        if (tray_->iconBack) {
            const Verdicts::Owed during = verdicts.owed(Verdicts::Group::Running, [&](Clock::time_point d) {
                return d >= tray_->killed && d <= *tray_->iconBack + 1s;
            });
            report.row("  enforcement meanwhile",
                       format("%d of %d closed; ", during.closed, during.count) + latencyFigures(during));
        }
    }
    for (const ClockChange& c : clockChanges_) {
        report.row(format("system clock set by another process at +%.1f s", schedule_.since(c.at)),
                   !display_           ? "nothing to see headless: no icon in a tray, no alarm"
                   : c.warning.empty() ? std::string("no warning shown") + (c.alarmStored ? ", alarm stored" : "")
                                       : "the program warned \"" + c.warning + "\"" +
                                             (c.alarmStored ? ", alarm stored" : ", NO alarm stored"));
        if (!c.cleared.empty()) {
            report.row("  then", c.cleared);
        }
    }
    for (const auto& [raised, cleared] : alarms) {
        if (raised < cleared) {
            report.row("  closed ports closed at all hours (the alarm)",
                       cleared == Clock::time_point::max()
                           ? format("from +%.1f s to the end", schedule_.since(raised))
                           : format("from +%.1f s until the administrator cleared it at +%.1f s",
                                    schedule_.since(raised), schedule_.since(cleared)));
        }
    }
    report.row("program ended by SIGTERM", status_ ? format("exit status %d", *status_) : "NOT within 5 s", "0",
               status_ && *status_ == 0);
    report.row("machine: all CPUs busy meanwhile",
               format("%.0f%%", 100 * (machineAfter_.first - machineBefore_.first) /
                                    (machineAfter_.second - machineBefore_.second)));
    report.print();

    std::printf("\nsamples of the program (+s: since the churn began)\n"
                "|     +s | VmRSS kB | fds | CPU s (utime+stime) | live connections | icon window |\n"
                "|--------|----------|-----|---------------------|------------------|-------------|\n");
    for (const Sample& s : samples_) {
        std::printf("| %6.1f | %8ld | %3zu | %19.2f | %16d | %11s |\n", schedule_.since(s.at), s.residentKb,
                    s.descriptors.size(), s.cpu.ticked, s.connections, display_ ? format("0x%x", s.icon).c_str() : "-");
    }
    if (!wrong.empty()) {
        std::printf("\nwrongly closed (first 10): port, made, ended (+s), window +%.3f..+%.3f s\n",
                    schedule_.since(schedule_.opens), schedule_.since(schedule_.closes));
        for (size_t i = 0; i < std::min<size_t>(wrong.size(), 10); ++i) {
            std::printf("   %5u  +%.3f  +%.3f\n", wrong[i]->port, schedule_.since(wrong[i]->made),
                        schedule_.since(wrong[i]->ended));
        }
    }
    std::printf("\nbefore: %s\nafter:  %s\n", loadBefore_.c_str(), loadAfter_.c_str());
    if (const std::string log = folder_.log(); !log.empty()) {
        std::printf("\nthe program's output:\n%s\n", log.c_str());
    }
}

void soak(const Options& options) {
    // Before any thread: a namespace is entered by the calling thread alone.
    if (const std::string why = enterNamespaces(); !why.empty()) {
        quit(why);
    }
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    std::optional<QGuiApplication> app;
    static int qtArgc = 1;
    static char qtName[] = "soak_benchmark";
    static char* qtArgv[] = {qtName, nullptr};
    const TempDir runtime; // the benchmark's own, as a login's (0700)
    if (!options.headless) {
        std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", runtime.str().c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
        app.emplace(qtArgc, qtArgv);
    }
    Soak run(options);
    run.start();
    run.run();
    run.report();
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    if (!options.headless && std::getenv("DISPLAY") == nullptr) {
        restartOnADisplay(argc, argv);
    }
    try {
        soak(options);
    } catch (const std::exception& e) {
        quit(e.what());
    }
    return 0;
}
