#pragma once

#include "platform/Windowing.h"

#include <functional>
#include <string>
#include <vector>

// Records what the program shows; message boxes are closed at once with OK.
class FakeWindowing : public Windowing {
public:
    struct Box {
        std::string prompt;
        MsgBoxIcon icon;
        std::string title;
    };

    std::vector<Box> boxes;
    int doEventsCalls = 0;
    std::function<void()> onDoEvents; // an event handled while the program lets events run

    void MsgBox(const std::string& prompt, MsgBoxIcon icon, const std::string& title) override {
        boxes.push_back({prompt, icon, title});
    }
    void DoEvents() override {
        ++doEventsCalls;
        if (onDoEvents) {
            onDoEvents();
        }
    }
};
