#pragma once

#include "platform/ControlChannel.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The channel's name: one named pipe for the machine.
extern const wchar_t ControlPipeName[];
// Who may open the pipe, as the server creates it: the system and administrators everything, users logged
// on at the machine reading and writing (but not creating instances of their own), network logons nothing.
extern const wchar_t ControlPipeSecurity[];

class LoopWindow;
class PipeOperation;

class Win32ControlServer final : public ControlServer {
public:
    explicit Win32ControlServer(std::wstring name = ControlPipeName);
    ~Win32ControlServer() override;

    Result Listen(Handlers handlers) override;
    void Close() override;
    std::string PeerUser(PeerId peer) const override;
    void Send(PeerId peer, std::string_view line) override;
    void Later(int milliseconds, std::function<void()> run) override;

    // The instance that waits for the next client (null when not listening): its security is the pipe's.
    HANDLE waitingPipe() const;

private:
    struct Instance;
    ResultWith<std::unique_ptr<Instance>> newInstance(bool first);
    Result awaitClient(std::unique_ptr<Instance> instance);
    void posted(UINT message, WPARAM id);
    void connected();
    void serveNext();
    void readDone(PeerId peer);
    void writeDone(PeerId peer);
    void startRead(PeerId peer);
    void startWrite(PeerId peer);
    void drop(PeerId peer);
    void dropLater(PeerId peer);
    Instance* find(PeerId peer) const;
    std::size_t peersOf(const std::string& user) const;
    LoopWindow& window();

    std::wstring name_;
    Handlers handlers_;
    std::unique_ptr<LoopWindow> window_;
    std::unique_ptr<Instance> waiting_;
    std::map<PeerId, std::unique_ptr<Instance>> peers_;
    PeerId next_ = 1;
    uint64_t listening_ = 0; // changes with each Listen and Close: what a handler's Close ended is left alone
};

class Win32ControlClient final : public ControlClient {
public:
    explicit Win32ControlClient(std::wstring name = ControlPipeName);
    ~Win32ControlClient() override;

    Result Connect(std::function<void()> arrived) override;
    bool Connected() const override { return pipe_ != nullptr; }
    void Disconnect() override;
    Result Send(std::string_view line) override;
    ResultWith<std::vector<std::string>> Receive(int waitMs) override;

private:
    void startRead();
    void fill();

    std::wstring name_;
    std::unique_ptr<UniqueHandle> pipe_;
    std::unique_ptr<PipeOperation> reading_;
    std::unique_ptr<PipeOperation> writing_;
    std::unique_ptr<LoopWindow> window_;
    std::vector<char> buffer_;
    std::string incoming_;
    std::vector<std::string> waiting_;
    Result broken_ = Result::Done(); // why the enforcer is gone, once it is
    std::function<void()> arrived_;
};
