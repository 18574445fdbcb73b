#pragma once

#include "admin/Administration.h"
#include "platform/ControlChannel.h"
#include "service/ControlMessages.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>

// A client's end of the talk with the enforcer (a companion's, quietwirectl's): the requests, each waiting
// for its answer while time goes by as the caller lets it, and the events the enforcer sends unasked. As a
// settings keeper it takes the administration's password check and settings to the enforcer, which alone
// reads and writes settings.ini.
class EnforcerLink final : public Administration::SettingsKeeper {
public:
    struct Events {
        std::function<void(const ControlMessages::StateEvent&)> state;
        std::function<void()> clockWarning;
    };
    // pass lets time go by while an answer is awaited (a companion's event loop runs in it; the tool sleeps).
    EnforcerLink(ControlClient& client, std::function<void(int milliseconds)> pass, Events events = {});

    // Connects and says who this is; done once the enforcer has answered with its state.
    Result Connect(ControlMessages::ClientRole role);
    bool Connected() const { return client_.Connected(); }
    void Disconnect() { client_.Disconnect(); }
    // Handles whatever has arrived; false when the enforcer went away.
    bool Poll();

    const std::optional<ControlMessages::StateEvent>& State() const { return state_; }
    // An answer is awaited: nothing else may be asked meanwhile (it would take the other's answer).
    bool Busy() const { return asking_; }
    Result ReportClockChange(); // fails when not believed

    // The settings keeper: the password the enforcer found right is given again with the requests after it.
    ResultWith<bool> CheckPassword(const std::string& typed,
                                   const std::function<void(int milliseconds)>& pass) override;
    Result Fetch() override;
    Result Store() override;
    bool ServiceRegistered() override { return state_ && state_->registered; }
    Administration::ServiceOutcome ChangeService(bool registering) override;

private:
    ResultWith<ControlMessages::Answer> ask(const std::string& request);
    void handle(const std::string& line);

    ControlClient& client_;
    std::function<void(int milliseconds)> pass_;
    Events events_;
    std::optional<ControlMessages::StateEvent> state_;
    std::deque<ControlMessages::Answer> answers_;
    std::optional<ControlMessages::AdminSettings> settings_;
    std::string password_;
    bool asking_ = false;
};
