#pragma once

#include "platform/TrayShell.h"

#include <cstdint>
#include <string>
#include <vector>

// Records every call to the shell; the taskbar window is whatever the test sets.
class FakeTrayShell : public TrayShell {
public:
    struct Call {
        uint32_t message;
        TrayIconData data;
        std::string tip() const { return std::string(data.szTip, sizeof data.szTip); }
    };

    std::vector<Call> calls;
    uintptr_t taskbar = 0;
    TrayMessageSink* hooked = nullptr; // where callback messages go while hooked
    int hooks = 0;
    int unhooks = 0;
    uint32_t callbackMessage = 0; // what the icon was added with: the shell sends it on each mouse message

    bool NotifyIcon(uint32_t message, const TrayIconData& data) override {
        calls.push_back({message, data});
        if (message == TrayMessage::Add) {
            callbackMessage = (data.uFlags & TrayFlag::Message) != 0 ? data.uCallbackMessage : 0;
        }
        return true;
    }
    uintptr_t TaskbarWindow() override { return taskbar; }
    std::vector<std::string> notifications; // title, a line break, text
    bool ShowNotification(uintptr_t, uint32_t, const std::string& title, const std::string& text) override {
        notifications.push_back(title + "\n" + text);
        return true;
    }
    void HookWindow(uintptr_t, TrayMessageSink& sink) override {
        hooked = &sink;
        ++hooks;
    }
    void UnhookWindow(uintptr_t) override {
        hooked = nullptr;
        ++unhooks;
    }
    // The shell reporting a mouse message over the icon: it sends the icon's callback message, which the
    // hook routes to its sink only when it is the one the hook listens for.
    void send(uint32_t mouseMessage) {
        if (hooked != nullptr && callbackMessage == TRAY_CALLBACK_MESSAGE) {
            hooked->HandleTrayMessage(mouseMessage, 0);
        }
    }
};
