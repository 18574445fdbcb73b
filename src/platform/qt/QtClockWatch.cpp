#include "platform/ClockWatch.h"
#include "platform/linux/TimeChangeTimer.h"

#include <QSocketNotifier>

#include <map>
#include <memory>

namespace {

// No window procedure to replace on Linux: a window's watch is a timerfd that the Qt event loop
// watches, and the token returned in place of the old procedure names that watch.
class QtClockWatch final : public ClockWatch {
public:
    uintptr_t SetWindowProc(uintptr_t window, WindowProcedure procedure) override {
        if (procedure == nullptr || watches_.contains(window)) {
            return 0;
        }
        auto watch = std::make_unique<Watch>();
        if (watch->timer.open() != 0) {
            return 0;
        }
        watch->procedure = procedure;
        watch->token = ++lastToken_;
        watch->notifier = std::make_unique<QSocketNotifier>(watch->timer.fd(), QSocketNotifier::Read);
        QObject::connect(watch->notifier.get(), &QSocketNotifier::activated, [this, window] { report(window); });
        return watches_.emplace(window, std::move(watch)).first->second->token;
    }

    void RestoreWindowProc(uintptr_t window, uintptr_t previous) override {
        const auto found = watches_.find(window);
        if (found != watches_.end() && found->second->token == previous) {
            watches_.erase(found);
        }
    }

    intptr_t CallWindowProc(uintptr_t, uintptr_t, uint32_t, uintptr_t, intptr_t) override { return 0; }

private:
    struct Watch {
        TimeChangeTimer timer;
        std::unique_ptr<QSocketNotifier> notifier; // after the timer: it stops watching before the fd closes
        WindowProcedure procedure = nullptr;
        uintptr_t token = 0;
    };

    void report(uintptr_t window) {
        const auto found = watches_.find(window);
        if (found == watches_.end() || !found->second->timer.takeChange()) {
            return;
        }
        // The procedure may restore the watch, deleting the notifier that is calling; Qt allows that,
        // and nothing here touches the watch after the call.
        found->second->procedure(window, TimeChangeMessage, 0, 0);
    }

    std::map<uintptr_t, std::unique_ptr<Watch>> watches_;
    uintptr_t lastToken_ = 0;
};

} // namespace

ClockWatch& systemClockWatch() {
    static QtClockWatch instance;
    return instance;
}
