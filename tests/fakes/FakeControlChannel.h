#pragma once

#include "platform/ControlChannel.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The channel's two ends in one process, with a loop the test runs: what a client sends reaches the
// server when the loop runs, the server's lines wait in the client, and Later's work runs when the test
// lets (pretended) time pass.
class FakeControlChannel final : public ControlServer {
public:
    class Client final : public ControlClient {
    public:
        Client(FakeControlChannel& channel, std::string user) : channel_(channel), user_(std::move(user)) {}
        // Its end is heard before it goes: the channel keeps no pointer to a client that is gone.
        ~Client() override {
            Disconnect();
            channel_.deliver();
            std::erase_if(channel_.clients_, [this](const auto& entry) { return entry.second == this; });
        }
        Result Connect(std::function<void()>) override {
            if (!channel_.listening_) {
                return Result::Failed("nobody listens");
            }
            id_ = channel_.next_++;
            channel_.clients_[id_] = this;
            return Result::Done();
        }
        bool Connected() const override { return id_ != 0; }
        void Disconnect() override {
            if (id_ != 0) {
                channel_.toServer_.push_back({id_, std::nullopt}); // read after what was sent before it
                id_ = 0;
            }
        }
        Result Send(std::string_view line) override {
            if (id_ == 0) {
                return Result::Failed("not connected");
            }
            channel_.toServer_.push_back({id_, std::string(line)});
            return Result::Done();
        }
        ResultWith<std::vector<std::string>> Receive(int waitMs) override {
            if (id_ == 0) {
                return Result::Failed("closed");
            }
            channel_.run(waitMs);
            return std::exchange(inbox, {});
        }
        std::vector<std::string> inbox;

    private:
        friend class FakeControlChannel;
        FakeControlChannel& channel_;
        std::string user_;
        PeerId id_ = 0;
    };

    Result Listen(Handlers handlers) override {
        handlers_ = std::move(handlers);
        listening_ = true;
        return Result::Done();
    }
    void Close() override {
        listening_ = false;
        for (auto& [id, client] : clients_) {
            client->id_ = 0;
        }
        clients_.clear();
        later_.clear();
    }
    std::string PeerUser(PeerId peer) const override { return clients_.at(peer)->user_; }
    void Send(PeerId peer, std::string_view line) override {
        if (const auto found = clients_.find(peer); found != clients_.end()) {
            found->second->inbox.emplace_back(line);
        }
    }
    void Later(int milliseconds, std::function<void()> run) override {
        later_.emplace(now_ + milliseconds, std::move(run));
    }

    // Hands the server what the clients sent, then lets milliseconds pass, running what falls due.
    void run(int milliseconds = 0) {
        deliver();
        const int64_t until = now_ + milliseconds;
        while (!later_.empty() && later_.begin()->first <= until) {
            auto due = later_.extract(later_.begin());
            now_ = due.key();
            due.mapped()();
            deliver();
        }
        now_ = until;
    }
    int64_t now() const { return now_; }

private:
    void deliver() {
        while (!toServer_.empty()) {
            auto [peer, line] = std::move(toServer_.front());
            toServer_.pop_front();
            if (!clients_.contains(peer)) {
                continue;
            }
            if (line) {
                handlers_.line(peer, *line);
            } else {
                clients_.erase(peer);
                handlers_.closed(peer);
            }
        }
    }

    Handlers handlers_;
    bool listening_ = false;
    std::map<PeerId, Client*> clients_;
    std::deque<std::pair<PeerId, std::optional<std::string>>> toServer_;
    std::multimap<int64_t, std::function<void()>> later_;
    PeerId next_ = 1;
    int64_t now_ = 0;
};
