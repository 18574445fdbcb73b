// The load of the soak: connections opened at random over the loopback interface, on closed ports (on
// the program's list) and open ones, against the daily window and the alarms of the run's schedule.
#pragma once

#include "platform/linux/TimeChangeTimer.h"
#include "platform/linux/UniqueFd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace soak {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A closed list as an administrator keeps one; connections go to the first three and to three ports
// not on it.
extern const std::vector<std::string> ClosedList;
extern const std::vector<uint16_t> ClosedPorts;
extern const std::vector<uint16_t> OpenPorts;

constexpr auto Goal = 505ms; // the longest a connection owed its close may live
constexpr auto GiveUp = 10s; // owed and still alive this long after its deadline: not closed

inline double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string format(const char* pattern, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// A span of the run, from..to; empty until it has happened.
struct Span {
    std::optional<Clock::time_point> from;
    std::optional<Clock::time_point> to;
    bool holds(Clock::time_point t) const { return from && to && t >= *from && t <= *to; }
};

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

    Schedule(Clock::time_point begin, int runSeconds);
    Clock::time_point at(double fraction) const {
        return begin + std::chrono::duration_cast<Clock::duration>(length * fraction);
    }
    double since(Clock::time_point t) const { return seconds(t - begin); }
    bool inside(Clock::time_point t) const { return t >= opens && t < closes; }
    // From when a connection on a closed port made at `made` is owed its close.
    Clock::time_point deadline(Clock::time_point made) const;
    void raiseAlarm(Clock::time_point t);
    void clearAlarm(Clock::time_point t);
    std::vector<std::pair<Clock::time_point, Clock::time_point>> alarms() const;

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
    Churn(Schedule& schedule, int rate, bool alarms);

    // Until `stop`, then every connection not owed a close is closed and the owed ones are waited for.
    void run(const std::atomic<bool>& stop);

    std::vector<Outcome> outcomes;
    int connectFailures = 0;
    std::atomic<int> live{0};
    std::atomic<int> made{0};
    std::atomic<int> clockSets{0};
    std::atomic<Clock::rep> lastClockSet{0}; // since the steady clock's epoch

private:
    static constexpr uint64_t ListenerTag = 1ull << 63;
    static constexpr uint64_t ClockTag = 1ull << 62;

    void clockSet(Clock::time_point now);

    struct Live {
        UniqueFd client;
        UniqueFd server;
        uint64_t acceptKey = 0;
        Clock::time_point due; // when its time is up, or when waiting for its close is given up
        bool held = false;     // owed a close when its time was up, so kept for the program to close
        Outcome outcome;
    };

    static uint64_t acceptKey(uint16_t port, uint16_t peerPort, bool ipv6);
    void watch(int fd, uint64_t tag);
    void open();
    void acceptAll(uint16_t port);
    void finish(std::unordered_map<uint64_t, Live>::iterator it, End end, Clock::time_point now);
    void ended(uint64_t id, Clock::time_point now);
    bool owed(const Live& c, Clock::time_point now) const;
    void runTimers(Clock::time_point now);
    void closeAllNotOwed(Clock::time_point now);

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

} // namespace soak
