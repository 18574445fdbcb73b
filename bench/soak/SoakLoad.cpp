#include "SoakLoad.h"

#include "ProcessFigures.h"
#include "platform/linux/Loopback.h"
#include "program/ProgramFolder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace soak {

const std::vector<std::string> ClosedList = {"2525, TEST", "25, SMTP", "445, SMB", "3389, RDP", "5900, VNC"};
const std::vector<uint16_t> ClosedPorts = {2525, 25, 445};
const std::vector<uint16_t> OpenPorts = {80, 443, 8080};

namespace {

constexpr double ClosedShare = 0.4;
constexpr double IPv6Share = 0.25;
constexpr double LongShare = 0.15;

} // namespace

Schedule::Schedule(Clock::time_point begin, int runSeconds) : begin(begin), length(runSeconds) {
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

Clock::time_point Schedule::deadline(Clock::time_point made) const {
    const Clock::time_point byWindow = inside(made) ? closes : made;
    const std::lock_guard lock(alarmsGuard_);
    for (const auto& [raised, cleared] : alarms_) {
        if (raised < cleared && byWindow > raised && made < cleared) {
            return std::max(made, raised);
        }
    }
    return byWindow;
}

void Schedule::raiseAlarm(Clock::time_point t) {
    const std::lock_guard lock(alarmsGuard_);
    if (alarms_.empty() || alarms_.back().second != Clock::time_point::max()) {
        alarms_.emplace_back(t, Clock::time_point::max());
    }
}

void Schedule::clearAlarm(Clock::time_point t) {
    const std::lock_guard lock(alarmsGuard_);
    if (!alarms_.empty() && alarms_.back().second == Clock::time_point::max()) {
        alarms_.back().second = t;
    }
}

std::vector<std::pair<Clock::time_point, Clock::time_point>> Schedule::alarms() const {
    const std::lock_guard lock(alarmsGuard_);
    return alarms_;
}

Churn::Churn(Schedule& schedule, int rate, bool alarms)
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

void Churn::run(const std::atomic<bool>& stop) {
    std::exponential_distribution<double> gap(rate_);
    auto nextOpen = Clock::now();
    std::vector<epoll_event> events(256);
    bool stopping = false;
    while (!stopping || !live_.empty()) {
        if (!stopping && stop.load()) {
            stopping = true;
            closeAllNotOwed(Clock::now());
        }
        const Clock::time_point next = std::min(stopping ? Clock::time_point::max() : nextOpen,
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

void Churn::clockSet(Clock::time_point now) {
    if (!clockWatch_.takeChange()) {
        return;
    }
    if (alarms_) {
        schedule_.raiseAlarm(now);
    }
    lastClockSet = now.time_since_epoch().count();
    ++clockSets;
}

uint64_t Churn::acceptKey(uint16_t port, uint16_t peerPort, bool ipv6) {
    return (static_cast<uint64_t>(port) << 17) | (static_cast<uint64_t>(peerPort) << 1) | (ipv6 ? 1 : 0);
}

void Churn::watch(int fd, uint64_t tag) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = tag;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event);
}

void Churn::open() {
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

void Churn::acceptAll(uint16_t port) {
    for (;;) {
        sockaddr_in6 peer{};
        socklen_t length = sizeof peer;
        UniqueFd server(::accept4(listeners_[port].get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
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

void Churn::finish(std::unordered_map<uint64_t, Live>::iterator it, End end, Clock::time_point now) {
    it->second.outcome.end = end;
    it->second.outcome.ended = now;
    outcomes.push_back(it->second.outcome);
    waitingForAccept_.erase(it->second.acceptKey);
    live_.erase(it); // closes both ends; the client's leaves the epoll set with it
    live = static_cast<int>(live_.size());
}

void Churn::ended(uint64_t id, Clock::time_point now) {
    const auto it = live_.find(id);
    if (it != live_.end()) {
        finish(it, wasReset(it->second.client.get()) ? End::Killed : End::Otherwise, now);
    }
}

bool Churn::owed(const Live& c, Clock::time_point now) const {
    return c.outcome.closedPort && schedule_.deadline(c.outcome.made) <= now;
}

void Churn::runTimers(Clock::time_point now) {
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

void Churn::closeAllNotOwed(Clock::time_point now) {
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

} // namespace soak
