#pragma once

#include <functional>
#include <memory>

// Menus, prompts, message boxes and dialogs never open inside the program's own event processing (the
// scan's per-row DoEvents, the tray watch's): a modal loop opened there would keep the scan from
// finishing, and while a scan is unfinished every enforcement tick is skipped, so whoever left a menu
// open would hold enforcement off. Handlers that may open such UI are run through the gate; while it
// is held they wait, and when it is released they are posted to the event loop, which runs them once
// no scan is under way.
namespace ModalGate {

// Runs handler now, or, while the gate is held, once it has been released.
void Run(std::function<void()> handler);
// The same for a handler of an object that may be gone by then: it runs only while owner lives.
void Run(const std::shared_ptr<bool>& owner, std::function<void()> handler);

// Holds the gate for its lifetime; the outermost hold posts what waited when it ends.
class Hold {
public:
    Hold();
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

bool Held();

} // namespace ModalGate
