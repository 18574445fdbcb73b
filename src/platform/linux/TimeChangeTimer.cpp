#include "platform/linux/TimeChangeTimer.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

int64_t now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

struct Bracket {
    int64_t low;
    int64_t high;
};

// How long the machine has slept since boot.
Bracket sleepOffset(const ClockReading& r) {
    return {r.boottime - r.monotonicAfter, r.boottime - r.monotonicBefore};
}

// What setting the clock moves; a suspend moves REALTIME and BOOTTIME alike.
Bracket wallOffset(const ClockReading& r) {
    return {r.realtimeBefore - r.boottime, r.realtimeAfter - r.boottime};
}

int64_t leastDistance(Bracket a, Bracket b) {
    if (b.low > a.high) {
        return b.low - a.high;
    }
    if (a.low > b.high) {
        return a.low - b.high;
    }
    return 0;
}

} // namespace

ClockReading readClocks() {
    ClockReading r;
    r.realtimeBefore = now(CLOCK_REALTIME);
    r.monotonicBefore = now(CLOCK_MONOTONIC);
    r.boottime = now(CLOCK_BOOTTIME);
    r.monotonicAfter = now(CLOCK_MONOTONIC);
    r.realtimeAfter = now(CLOCK_REALTIME);
    return r;
}

bool isSystemTimeChange(const ClockReading& armed, const ClockReading& cancelled) {
    const bool slept = sleepOffset(cancelled).low > sleepOffset(armed).high;
    if (!slept) {
        return true;
    }
    // NTP may slew the clock by up to 500 ppm of the time the machine was awake.
    const int64_t awake = cancelled.monotonicAfter - armed.monotonicBefore;
    const int64_t drift = 1'000'000 + awake / 2000;
    return leastDistance(wallOffset(armed), wallOffset(cancelled)) > drift;
}

namespace {

Result systemFailure() {
    return Result::Errno(errno);
}

} // namespace

Result TimeChangeTimer::open() {
    fd_.reset(timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!fd_.valid()) {
        return systemFailure();
    }
    return arm();
}

Result TimeChangeTimer::arm() {
    // Due at the end of time: only a cancel ever makes it readable.
    itimerspec never{};
    never.it_value.tv_sec = std::numeric_limits<time_t>::max();
    if (timerfd_settime(fd_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) != 0) {
        return systemFailure();
    }
    // Read after arming: a set in between then cancels the timer and counts as a change.
    armed_ = readClocks();
    return Result::Done();
}

bool TimeChangeTimer::takeChange() {
    uint64_t expirations = 0;
    // Arming again the descriptor that open() armed fails only for a bad descriptor, which open() had
    // already reported.
    if (::read(fd_.get(), &expirations, sizeof expirations) >= 0) {
        static_cast<void>(arm());
        return false;
    }
    if (errno != ECANCELED) {
        return false; // EAGAIN: woken with nothing to read
    }
    const bool changed = isSystemTimeChange(armed_, readClocks());
    static_cast<void>(arm());
    return changed;
}
