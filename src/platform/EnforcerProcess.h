#pragma once

#include "platform/Result.h"

// Enforcement in a process of its own with no display, for a copy with the rights that was started on one:
// the curfew then outlives the display (a user who ends his own X server ends only the icon), and the copy
// on the display is the enforcer's face like any companion.
class EnforcerProcess {
public:
    virtual ~EnforcerProcess() = default;
    virtual Result Start() = 0;
    // Ends the one Start started, when it still runs, and waits for its settings to be saved.
    virtual void End() = 0;
};
