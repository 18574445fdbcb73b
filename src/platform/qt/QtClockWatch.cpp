#include "platform/ClockWatch.h"
#include "platform/linux/SystemZone.h"
#include "platform/linux/TimeChangeTimer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

// As often as the enforcement tick: a new zone is in use, and reported, within one tick of its file.
constexpr std::chrono::milliseconds ZoneLookInterval{500};
// A look rides on any timer of the loop once this much of the interval has passed, so that the zone is
// looked at when the tick wakes the program, not in a wake of its own a few milliseconds later.
constexpr std::chrono::milliseconds RideAfter{400};

// Hears every timer event of the program's loop, without taking any.
class TimerEvents final : public QObject {
public:
    explicit TimerEvents(std::function<void()> heard) : heard_(std::move(heard)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            heard_();
        }
        return false;
    }

private:
    std::function<void()> heard_;
};

// No window procedure to replace on Linux: a window's watch is a timerfd that the Qt event loop
// watches, and the token returned in place of the old procedure names that watch. A change of the
// machine's zone file moves local time as setting the clock does: it is looked at when another timer
// wakes the loop (the tick) or, when none has for an interval, by a timer of its own.
class QtClockWatch final : public ClockWatch {
public:
    uintptr_t SetWindowProc(uintptr_t window, WindowProcedure procedure) override {
        if (procedure == nullptr || watches_.contains(window)) {
            return 0;
        }
        auto watch = std::make_unique<Watch>();
        if (!watch->timer.open()) {
            return 0;
        }
        watch->procedure = procedure;
        watch->token = ++lastToken_;
        watch->zoneChanges = systemZone().follow();
        watch->notifier = std::make_unique<QSocketNotifier>(watch->timer.fd(), QSocketNotifier::Read);
        QObject::connect(watch->notifier.get(), &QSocketNotifier::activated, [this, window] { clockSet(window); });
        if (!zoneTimer_) {
            zoneTimer_ = std::make_unique<QTimer>();
            zoneTimer_->setSingleShot(true);
            QObject::connect(zoneTimer_.get(), &QTimer::timeout, [this] { lookAtZone(); });
            timerEvents_ = std::make_unique<TimerEvents>([this] {
                if (!watches_.empty() && std::chrono::steady_clock::now() - lastLook_ >= RideAfter) {
                    glanceAtZone();
                }
            });
        }
        zoneTimer_->start(ZoneLookInterval);
        return watches_.emplace(window, std::move(watch)).first->second->token;
    }

    void RestoreWindowProc(uintptr_t window, uintptr_t previous) override {
        const auto found = watches_.find(window);
        if (found != watches_.end() && found->second->token == previous) {
            watches_.erase(found);
        }
        if (watches_.empty() && zoneTimer_) {
            zoneTimer_->stop(); // kept: this may run from its own timeout
        }
    }

    intptr_t CallWindowProc(uintptr_t, uintptr_t, uint32_t, uintptr_t, intptr_t) override { return 0; }

private:
    struct Watch {
        TimeChangeTimer timer;
        std::unique_ptr<QSocketNotifier> notifier; // after the timer: it stops watching before the fd closes
        WindowProcedure procedure = nullptr;
        uintptr_t token = 0;
        uint64_t zoneChanges = 0; // the zone's changes this watch has reported
    };

    void clockSet(uintptr_t window) {
        const auto found = watches_.find(window);
        if (found == watches_.end() || !found->second->timer.takeChange()) {
            return;
        }
        // The procedure may restore the watch, deleting the notifier that is calling; Qt allows that,
        // and nothing here touches the watch after the call.
        found->second->procedure(window, TimeChangeMessage, 0, 0);
    }

    // The zone's own timer fires only after an interval with no other look.
    void looked() {
        lastLook_ = std::chrono::steady_clock::now();
        zoneTimer_->start(ZoneLookInterval);
    }

    // One stat, from inside another timer's event (the tick's, mostly). A touched file is taken into use
    // and told from an event of its own right after: the tick that woke us runs wholly under the zone it
    // began in, and a procedure may show a box with a loop of its own, which must not hold up that tick.
    void glanceAtZone() {
        looked();
        if (systemZone().touched()) {
            QTimer::singleShot(0, timerEvents_.get(), [this] { lookAtZone(); });
        }
    }

    void lookAtZone() {
        looked();
        const uint64_t changes = systemZone().follow();
        std::vector<uintptr_t> told;
        for (auto& [window, watch] : watches_) {
            if (watch->zoneChanges != changes) {
                watch->zoneChanges = changes;
                told.push_back(window);
            }
        }
        // Each procedure may show a box with a loop of its own, restoring any watch meanwhile.
        for (const uintptr_t window : told) {
            if (const auto found = watches_.find(window); found != watches_.end()) {
                found->second->procedure(window, TimeChangeMessage, 0, 0);
            }
        }
    }

    std::map<uintptr_t, std::unique_ptr<Watch>> watches_;
    uintptr_t lastToken_ = 0;
    std::unique_ptr<QTimer> zoneTimer_;
    std::unique_ptr<TimerEvents> timerEvents_;
    std::chrono::steady_clock::time_point lastLook_;
};

} // namespace

ClockWatch& systemClockWatch() {
    static QtClockWatch instance;
    return instance;
}
