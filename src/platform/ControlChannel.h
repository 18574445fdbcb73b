#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The local channel between the enforcer (the copy with the rights to close connections) and its clients
// (a companion in each desktop session, quietwirectl): one message a line, in both directions. Only local
// users reach it; the system, not the peer, says who is at the other end.

// The enforcer's end. What it reports runs from the event loop, never from another thread.
class ControlServer {
public:
    using PeerId = uint64_t;
    struct Handlers {
        std::function<void(PeerId peer, const std::string& line)> line;
        std::function<void(PeerId peer)> closed; // gone, or dropped; its id is not used again
    };

    virtual ~ControlServer() = default;
    // Serves the channel until Close. Another enforcer's live channel is never taken over.
    virtual Result Listen(Handlers handlers) = 0;
    virtual void Close() = 0;
    // The account the peer runs as, as the system saw it when it connected: what its wrong passwords are
    // counted under.
    virtual std::string PeerUser(PeerId peer) const = 0;
    // A peer that went away, or stopped reading while its backlog grew, is dropped: closed runs for it.
    virtual void Send(PeerId peer, std::string_view line) = 0;
    // run, from the loop, milliseconds from now; never after Close.
    virtual void Later(int milliseconds, std::function<void()> run) = 0;
};

// A client's end.
class ControlClient {
public:
    virtual ~ControlClient() = default;
    // Connects to the enforcer; fails when none listens, or when the one listening is not the enforcer the
    // system installed (then nothing may be sent to it: a password would be given away). arrived, when
    // given, runs from the event loop whenever Receive has lines to give.
    virtual Result Connect(std::function<void()> arrived) = 0;
    virtual bool Connected() const = 0;
    virtual void Disconnect() = 0;
    virtual Result Send(std::string_view line) = 0;
    // The lines that have arrived, waiting up to waitMs for the first when none has. A failure means the
    // enforcer went away; the client is then disconnected.
    virtual ResultWith<std::vector<std::string>> Receive(int waitMs) = 0;
};

ControlServer& systemControlServer();
ControlClient& systemControlClient();  // its arrivals heard from the program's event loop
ControlClient& programControlClient(); // quietwirectl's: no event loop, it waits in Receive
