#include "platform/ModalGate.h"

#include "platform/Platform.h"
#include "platform/Windowing.h"

#include <deque>
#include <utility>

namespace ModalGate {
namespace {

int holds = 0;
std::deque<std::function<void()>>& waiting() {
    static std::deque<std::function<void()>> queue;
    return queue;
}

} // namespace

bool Held() {
    return holds > 0;
}

void Run(std::function<void()> handler) {
    if (Held()) {
        waiting().push_back(std::move(handler));
        return;
    }
    handler();
}

void Run(const std::shared_ptr<bool>& owner, std::function<void()> handler) {
    Run([alive = std::weak_ptr<bool>(owner), handler = std::move(handler)] {
        if (!alive.expired()) {
            handler();
        }
    });
}

Hold::Hold() {
    ++holds;
}

Hold::~Hold() {
    if (--holds > 0) {
        return;
    }
    // Posted rather than run here: the scan's caller (a timer handler) is still on the stack, and a
    // modal loop opened under it would keep that timer from firing again on some platforms. A handler
    // that reaches the loop inside a later scan's DoEvents waits again.
    Windowing& windowing = platform::get<Windowing>();
    while (!waiting().empty()) {
        std::function<void()> handler = std::move(waiting().front());
        waiting().pop_front();
        windowing.Post([handler = std::move(handler)] { Run(handler); });
    }
}

} // namespace ModalGate
