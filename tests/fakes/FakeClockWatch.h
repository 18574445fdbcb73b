#pragma once

#include "platform/ClockWatch.h"

#include <vector>

// A window whose procedure the watcher replaces; the test sends it messages as the system would.
class FakeClockWatch : public ClockWatch {
public:
    static constexpr uintptr_t OwnProcedure = 0xC0DE;
    static constexpr intptr_t OwnResult = 77;

    uintptr_t window = 0;
    WindowProcedure procedure = nullptr;
    std::vector<uint32_t> passedOn; // messages that reached the window's own procedure
    bool refuse = false;

    uintptr_t SetWindowProc(uintptr_t hwnd, WindowProcedure proc) override {
        if (refuse) {
            return 0;
        }
        window = hwnd;
        procedure = proc;
        return OwnProcedure;
    }
    void RestoreWindowProc(uintptr_t, uintptr_t previous) override {
        if (previous == OwnProcedure) {
            procedure = nullptr;
        }
    }
    intptr_t CallWindowProc(uintptr_t previous, uintptr_t, uint32_t message, uintptr_t, intptr_t) override {
        passedOn.push_back(message);
        return previous == OwnProcedure ? OwnResult : 0;
    }
    // A message to the window: its current procedure's answer, or the window's own.
    intptr_t send(uint32_t message) {
        if (procedure == nullptr) {
            passedOn.push_back(message);
            return OwnResult;
        }
        return procedure(window, message, 0, 0);
    }
};
