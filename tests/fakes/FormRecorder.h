#pragma once

#include "platform/Forms.h"

#include <functional>
#include <string>
#include <vector>

// A form's handlers that write down every event, and cancel close requests when told to.
class FormRecorder : public FormHandlers {
public:
    std::vector<std::string> events;
    bool cancelClose = false;
    std::function<void(const std::string&)> onTick;

    void Click(const std::string& control, int index) override {
        events.push_back("Click " + control + " " + std::to_string(index));
    }
    void TimerTick(const std::string& timer) override {
        events.push_back("Timer " + timer);
        if (onTick) {
            onTick(timer);
        }
    }
    bool QueryUnload(CloseReason reason) override {
        events.push_back(reason == CloseReason::User   ? "QueryUnload user"
                         : reason == CloseReason::Code ? "QueryUnload code"
                                                       : "QueryUnload shutdown");
        return cancelClose;
    }
    void Unload() override { events.push_back("Unload"); }
};
