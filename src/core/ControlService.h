#pragma once

#include "platform/ControlChannel.h"
#include "service/ControlMessages.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

// The enforcer's side of the local channel: it answers the companions and quietwirectl, checks their
// passwords (a wrong one holds every request of the same user for a second, whichever process sent it),
// carries out their changes with its own save, and tells the companions its state whenever it changes.
class ControlService {
public:
    struct Host {
        std::function<ControlMessages::StateEvent()> state;
        // A companion (of user) saw the clock change: raise and store the alarm. seen: how the enforcer saw it.
        std::function<void(const std::string& user, const std::string& seen)> clockChanged;
    };
    ControlService(ControlServer& server, Host host);
    ~ControlService();
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    Result Start();
    void Stop();
    // Sends the state to every companion when it differs from what they were last told.
    void Publish();
    // Every companion shows the clock-change warning.
    void ClockWarning();
    // The enforcer itself saw the clock change: a companion's report of it in the moments after is believed.
    // Anyone may claim to be a companion; nobody may raise the alarm with no change behind it.
    void ClockChangeSeen(const std::string& how = "seen by the enforcer");

private:
    struct Waiting {
        ControlServer::PeerId peer;
        ControlMessages::Request request;
    };
    void line(ControlServer::PeerId peer, const std::string& text);
    void closed(ControlServer::PeerId peer);
    void answer(ControlServer::PeerId peer, bool ok, const std::string& error = {});
    void serve(const std::string& user);
    void carryOut(const Waiting& waiting);
    void settled(ControlServer::PeerId peer, const Result& changed);
    Result changeSettings(const ControlMessages::AdminSettings& settings);
    void sendState(ControlServer::PeerId peer, const ControlMessages::StateEvent& state);
    const char* sourceOf(ControlServer::PeerId peer) const;

    ControlServer& server_;
    Host host_;
    bool listening_ = false;
    std::set<ControlServer::PeerId> companions_;
    std::set<ControlServer::PeerId> tools_; // said hello as quietwirectl
    std::set<ControlServer::PeerId> peers_;
    std::map<std::string, std::deque<Waiting>> queues_; // by user: requests that carry a password
    std::set<std::string> penalised_;                   // users serving a wrong password's second
    std::optional<ControlMessages::StateEvent> published_;
    bool clockReported_ = false; // a report came in the moments just past
    int clockSeen_ = 0;          // changes seen here in the moments just past
    std::string clockSeenHow_;   // the last of them
};
