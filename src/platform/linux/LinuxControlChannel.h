#pragma once

#include "platform/ControlChannel.h"
#include "platform/linux/LocalChannel.h"
#include "platform/linux/ReadableWatch.h"

#include <map>
#include <memory>
#include <string>

// The channel's name: control.sock in the service's runtime directory (a folder root alone may write to,
// so nobody can take the name first), or beside the program in the build tree.
std::string controlChannelPath();

// Runs a function from the event loop, milliseconds from now.
using RunLater = std::function<void(int milliseconds, std::function<void()> run)>;

class LinuxControlServer final : public ControlServer {
public:
    LinuxControlServer(WatchReadable watch, RunLater later, std::string path);
    ~LinuxControlServer() override;

    Result Listen(Handlers handlers) override;
    void Close() override;
    std::string PeerUser(PeerId peer) const override;
    void Send(PeerId peer, std::string_view line) override;
    void Later(int milliseconds, std::function<void()> run) override;

private:
    struct Connection {
        std::unique_ptr<LocalChannelPeer> channel;
        std::unique_ptr<ReadableWatch> watch;
        std::string user;      // whose limits and penalty it shares
        bool dropping = false; // it stopped reading what it is sent; it goes once the loop is back
    };
    void acceptWaiting();
    void readFrom(PeerId peer);
    void drop(PeerId peer);
    void flushLater();

    WatchReadable watch_;
    RunLater later_;
    std::string path_;
    Handlers handlers_;
    std::unique_ptr<LocalChannelServer> server_;
    std::unique_ptr<ReadableWatch> listening_;
    std::map<PeerId, Connection> peers_;
    PeerId next_ = 1;
    bool flushing_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // outlived by what waits in the loop
};

class LinuxControlClient final : public ControlClient {
public:
    LinuxControlClient(WatchReadable watch, std::string path);

    Result Connect(std::function<void()> arrived) override;
    bool Connected() const override { return channel_ != nullptr; }
    void Disconnect() override;
    Result Send(std::string_view line) override;
    ResultWith<std::vector<std::string>> Receive(int waitMs) override;

private:
    Result fill();

    WatchReadable watch_;
    std::string path_;
    std::unique_ptr<LocalChannelPeer> channel_;
    std::unique_ptr<ReadableWatch> watching_;
    std::function<void()> arrived_;
    std::vector<std::string> waiting_;
};
