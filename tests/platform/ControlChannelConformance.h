#pragma once

#include "platform/ControlChannel.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// What every backend of the control channel does, the same on each. A Driver gives:
//   Place                        a channel name of the test's own, made anew for each test
//   server(place), client(place) the two ends, reporting from the backend's event loop
//   rawClient(place)             a connection that writes the bytes given to write(bytes) as they are, and
//                                goes away when destroyed
//   pumpUntil(done, ms)          runs the event loop until done() (true) or ms have passed (false)
//   ownUser()                    the account the tests run as, in the system's own words
template <class Driver> class ControlChannelConformance : public ::testing::Test {
protected:
    using PeerId = ControlServer::PeerId;
    static constexpr std::size_t LongestLine = 16 * 1024;
    static constexpr std::size_t ShareOfOneUser = 32;

    ControlServer::Handlers heard() {
        return {[this](PeerId peer, const std::string& line) { lines_.emplace_back(peer, line); },
                [this](PeerId peer) { closed_.push_back(peer); }};
    }

    // Listens, connects a client that has said hello; the server's id for it.
    PeerId helloFrom(ControlClient& client, std::function<void()> arrived = {}) {
        EXPECT_TRUE(server_->Listen(heard()));
        const Result connected = client.Connect(std::move(arrived));
        EXPECT_TRUE(connected) << connected.reason();
        EXPECT_TRUE(client.Send(R"({"type":"hello"})"));
        EXPECT_TRUE(Driver::pumpUntil([&] { return !lines_.empty(); }, 10000)) << "the server never heard the client";
        return lines_.empty() ? 0 : lines_.front().first;
    }

    typename Driver::Place place_;
    std::unique_ptr<ControlServer> server_ = Driver::server(place_);
    std::vector<std::pair<PeerId, std::string>> lines_;
    std::vector<PeerId> closed_;
};

TYPED_TEST_SUITE_P(ControlChannelConformance);

TYPED_TEST_P(ControlChannelConformance, LinesGoBothWaysTheServerKnowsWhoConnectedAndHearsItLeave) {
    const auto client = TypeParam::client(this->place_);
    int arrivals = 0;
    const auto peer = this->helloFrom(*client, [&] { ++arrivals; });
    EXPECT_EQ(this->lines_.front().second, R"({"type":"hello"})");
    EXPECT_EQ(this->server_->PeerUser(peer), TypeParam::ownUser());

    this->server_->Send(peer, "one");
    this->server_->Send(peer, "two");
    std::vector<std::string> received;
    EXPECT_TRUE(TypeParam::pumpUntil(
        [&] {
            if (arrivals > 0) {
                const auto lines = client->Receive(0);
                EXPECT_TRUE(lines) << lines.reason();
                received.insert(received.end(), lines->begin(), lines->end());
            }
            return received.size() >= 2;
        },
        10000))
        << "the client was never told of the lines";
    EXPECT_EQ(received, (std::vector<std::string>{"one", "two"}));

    client->Disconnect();
    ASSERT_TRUE(TypeParam::pumpUntil([&] { return !this->closed_.empty(); }, 10000))
        << "the server never heard it leave";
    EXPECT_EQ(this->closed_, std::vector<ControlServer::PeerId>{peer});
    EXPECT_EQ(this->server_->PeerUser(peer), "");
}

TYPED_TEST_P(ControlChannelConformance, ASecondServerCannotTakeALiveServersName) {
    ASSERT_TRUE(this->server_->Listen(this->heard()));
    const auto client = TypeParam::client(this->place_);
    ASSERT_TRUE(client->Connect({}));
    const auto second = TypeParam::server(this->place_);
    const Result taken = second->Listen({});
    EXPECT_FALSE(taken);
    EXPECT_NE(taken.reason(), "");

    ASSERT_TRUE(client->Send("{}"));
    EXPECT_TRUE(TypeParam::pumpUntil([&] { return !this->lines_.empty(); }, 10000)) << "the first server was shut out";
}

TYPED_TEST_P(ControlChannelConformance, AnOverlongLineOrOneLeftUnfinishedIsNeverHeardAndItsPeerIsDropped) {
    ASSERT_TRUE(this->server_->Listen(this->heard()));
    const auto client = TypeParam::client(this->place_);
    ASSERT_TRUE(client->Connect({}));
    EXPECT_FALSE(client->Send(std::string(this->LongestLine + 1, 'x'))) << "refused unsent";
    {
        const auto raw = TypeParam::rawClient(this->place_);
        raw->write(std::string(this->LongestLine + 1, 'x'));
        EXPECT_TRUE(TypeParam::pumpUntil([&] { return this->closed_.size() == 1; }, 10000)) << "not dropped";
        TypeParam::rawClient(this->place_)->write(R"({"type":"hel)");
    }
    EXPECT_TRUE(TypeParam::pumpUntil([&] { return this->closed_.size() == 2; }, 10000));
    EXPECT_TRUE(this->lines_.empty());
}

TYPED_TEST_P(ControlChannelConformance, AClientThatStopsReadingIsDropped) {
    const auto client = TypeParam::client(this->place_);
    const auto peer = this->helloFrom(*client);
    for (int i = 0; i < 100 && this->closed_.empty(); ++i) {
        this->server_->Send(peer, std::string(this->LongestLine, 'x'));
        TypeParam::pumpUntil([] { return false; }, 1);
    }
    EXPECT_TRUE(TypeParam::pumpUntil([&] { return !this->closed_.empty(); }, 10000));
    EXPECT_EQ(this->closed_, std::vector<ControlServer::PeerId>{peer});
}

TYPED_TEST_P(ControlChannelConformance, AUsersConnectionsBeyondItsShareAreClosedUnheard) {
    ASSERT_TRUE(this->server_->Listen(this->heard()));
    std::vector<std::unique_ptr<ControlClient>> clients;
    for (std::size_t i = 0; i <= this->ShareOfOneUser; ++i) {
        clients.push_back(TypeParam::client(this->place_));
        ASSERT_TRUE(clients.back()->Connect({})) << "client " << i;
        const Result sent = clients.back()->Send("{}"); // the last one's may already fail
        if (i < this->ShareOfOneUser) {
            ASSERT_TRUE(sent) << sent.reason();
            ASSERT_TRUE(TypeParam::pumpUntil([&] { return this->lines_.size() == i + 1; }, 10000)) << "client " << i;
        }
    }
    EXPECT_TRUE(TypeParam::pumpUntil([&] { return !clients.back()->Receive(0); }, 10000)) << "the last one was let in";
    EXPECT_EQ(this->lines_.size(), this->ShareOfOneUser);
    EXPECT_TRUE(this->closed_.empty()) << "nobody the server heard of left";
}

TYPED_TEST_P(ControlChannelConformance, ClosedTheClientHearsTheEnforcerLeaveAndNothingLaterRuns) {
    const auto client = TypeParam::client(this->place_);
    const auto peer = this->helloFrom(*client);
    this->server_->Send(peer, "last");
    bool early = false;
    bool late = false;
    this->server_->Later(0, [&] { early = true; });
    ASSERT_TRUE(TypeParam::pumpUntil([&] { return early; }, 10000)) << "Later never ran";
    this->server_->Later(1, [&] { late = true; });
    this->server_->Close();

    const auto last = client->Receive(10000);
    ASSERT_TRUE(last) << last.reason();
    EXPECT_EQ(*last, std::vector<std::string>{"last"}) << "what was sent before the end is given first";
    EXPECT_FALSE(client->Receive(10000)) << "the enforcer's leaving was not heard";
    EXPECT_FALSE(client->Connected());
    TypeParam::pumpUntil([] { return false; }, 100);
    EXPECT_FALSE(late) << "Later ran after Close";
}

REGISTER_TYPED_TEST_SUITE_P(ControlChannelConformance, LinesGoBothWaysTheServerKnowsWhoConnectedAndHearsItLeave,
                            ASecondServerCannotTakeALiveServersName,
                            AnOverlongLineOrOneLeftUnfinishedIsNeverHeardAndItsPeerIsDropped,
                            AClientThatStopsReadingIsDropped, AUsersConnectionsBeyondItsShareAreClosedUnheard,
                            ClosedTheClientHearsTheEnforcerLeaveAndNothingLaterRuns);
