// The local channel between the enforcer and its clients, on real Unix sockets in a folder of the test's own.
#include "platform/linux/LocalChannel.h"
#include "service/ControlMessages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cerrno>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr std::size_t Max = ControlMessages::MaxMessageBytes;

class LocalChannel : public ::testing::Test {
protected:
    static void waitReadable(int fd) {
        pollfd watched{fd, POLLIN, 0};
        ASSERT_EQ(::poll(&watched, 1, 10000), 1) << "nothing arrived";
    }
    std::unique_ptr<LocalChannelServer> listen() {
        auto server = LocalChannelServer::listen(path_, Max);
        EXPECT_TRUE(server) << server.reason();
        return server ? std::move(*server) : nullptr;
    }
    std::unique_ptr<LocalChannelPeer> connect() {
        auto client = LocalChannelPeer::connectTo(path_, Max);
        EXPECT_TRUE(client) << client.reason();
        return client ? std::move(*client) : nullptr;
    }
    static std::unique_ptr<LocalChannelPeer> accept(LocalChannelServer& server) {
        waitReadable(server.readableFd());
        auto peer = server.accept();
        EXPECT_TRUE(peer) << peer.reason();
        return peer ? std::move(*peer) : nullptr;
    }
    // Bytes as they go on the wire, bypassing the sender's own checks.
    static void writeRaw(const LocalChannelPeer& peer, const std::string& bytes) {
        ASSERT_EQ(::send(peer.readableFd(), bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }
    // What one readLines gives once something has arrived.
    static ResultWith<std::vector<std::string>> read(LocalChannelPeer& peer) {
        waitReadable(peer.readableFd());
        return peer.readLines();
    }
    // A socket at path nobody listens on, as a killed enforcer leaves it.
    void staleSocket() const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
    }

    TempDir dir_;
    std::string path_ = dir_.file("control.sock");
};

} // namespace

TEST_F(LocalChannel, ClientAndServerExchangeLinesBothWaysAndTheServerKnowsWhoConnected) {
    const auto server = listen();
    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u) << "every local user may connect";
    const auto client = connect();
    const auto peer = accept(*server);
    EXPECT_EQ(peer->credentials().uid, ::geteuid());
    EXPECT_EQ(peer->credentials().pid, ::getpid());
    EXPECT_EQ(client->credentials().uid, ::geteuid());

    ASSERT_TRUE(client->send(R"({"type":"hello"})"));
    EXPECT_FALSE(client->pending());
    writeRaw(*client, "{\"type\":");
    EXPECT_EQ(*read(*peer), std::vector<std::string>{R"({"type":"hello"})"});
    writeRaw(*client, "\"status\"}\n");
    EXPECT_EQ(*read(*peer), std::vector<std::string>{R"({"type":"status"})"}) << "a line arrives whole";

    ASSERT_TRUE(peer->send("one"));
    ASSERT_TRUE(peer->send(std::string(Max, 'x')));
    std::vector<std::string> got;
    while (got.size() < 2) {
        const auto lines = read(*client);
        ASSERT_TRUE(lines) << lines.reason();
        got.insert(got.end(), lines->begin(), lines->end());
    }
    EXPECT_EQ(got, (std::vector<std::string>{"one", std::string(Max, 'x')}));
}

TEST_F(LocalChannel, APeerThatWritesWithoutPauseIsReadAShareAtATime) {
    const auto server = listen();
    const auto client = connect();
    const auto peer = accept(*server);
    const std::string flood(128 * 1024, '\n'); // what a socket holds, all of it empty lines
    for (size_t sent = 0; sent < flood.size();) {
        const ssize_t n = ::send(client->readableFd(), flood.data() + sent, flood.size() - sent, MSG_DONTWAIT);
        ASSERT_GT(n, 0) << std::strerror(errno);
        sent += static_cast<size_t>(n);
    }
    const auto first = read(*peer);
    ASSERT_TRUE(first);
    EXPECT_LT(first->size(), flood.size()) << "one call read all that was there: the loop would wait on it";
    size_t total = first->size();
    while (total < flood.size()) {
        const auto more = read(*peer);
        ASSERT_TRUE(more);
        total += more->size();
    }
    EXPECT_EQ(total, flood.size()) << "nothing lost between the shares";
}

TEST_F(LocalChannel, ASecondServerCannotTakeALiveServersName) {
    const auto first = listen();
    const auto second = LocalChannelServer::listen(path_, Max);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.reason(), "another enforcer listens at " + path_);
    const auto client = connect();
    EXPECT_TRUE(accept(*first)) << "the first still serves";
}

TEST_F(LocalChannel, AStaleSocketOfThisUserIsReplacedAFileOrALinkIsLeftAsItIs) {
    staleSocket();
    EXPECT_TRUE(listen()) << "a killed enforcer's socket";
    EXPECT_NE(::access(path_.c_str(), F_OK), 0) << "a server takes its name away with it";

    writeBytes(path_, "notes\n");
    const auto onFile = LocalChannelServer::listen(path_, Max);
    EXPECT_EQ(onFile.reason(), path_ + " is not a socket; it is left as it is");
    EXPECT_EQ(readBytes(path_), "notes\n");

    ASSERT_EQ(::rename(path_.c_str(), dir_.file("notes").c_str()), 0);
    ASSERT_EQ(::symlink(dir_.file("notes").c_str(), path_.c_str()), 0);
    EXPECT_EQ(LocalChannelServer::listen(path_, Max).reason(), path_ + " is not a socket; it is left as it is");
    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readBytes(dir_.file("notes")), "notes\n");
}

TEST_F(LocalChannel, AnotherUsersStaleSocketIsLeftAsItIs) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to give a socket to another user";
    }
    staleSocket();
    ASSERT_EQ(::chown(path_.c_str(), 65534, static_cast<gid_t>(-1)), 0);
    const auto server = LocalChannelServer::listen(path_, Max);
    EXPECT_EQ(server.reason(), "the socket " + path_ + " belongs to user 65534; it is left as it is");
    EXPECT_EQ(::access(path_.c_str(), F_OK), 0);
}

TEST_F(LocalChannel, ALineLongerThanAMessageMayBeFailsThePeer) {
    const auto server = listen();
    const auto client = connect();
    const auto peer = accept(*server);
    EXPECT_FALSE(client->send(std::string(Max + 1, 'x'))) << "refused unsent";
    writeRaw(*client, std::string(Max + 1, 'x'));
    auto lines = read(*peer);
    while (lines && lines->empty()) {
        lines = read(*peer);
    }
    EXPECT_EQ(lines.reason(), "message too long");
}

TEST_F(LocalChannel, AClientThatLeavesMidLineLeavesNothingBehind) {
    const auto server = listen();
    auto client = connect();
    const auto peer = accept(*server);
    writeRaw(*client, "{\"type\":\"hello\"}\n{\"type\":");
    client.reset();
    EXPECT_EQ(*read(*peer), std::vector<std::string>{R"({"type":"hello"})"});
    const auto after = peer->readLines();
    EXPECT_EQ(after.reason(), "closed");
    EXPECT_TRUE(peer->closed());
}

TEST_F(LocalChannel, SendingToAPeerThatWentAwayFailsWithoutSigpipe) {
    const auto server = listen();
    auto client = connect();
    const auto peer = accept(*server);
    client.reset();
    const Result sent = peer->send("{}");
    EXPECT_FALSE(sent);
    EXPECT_EQ(sent.code(), EPIPE);
}

TEST_F(LocalChannel, AClientThatStopsReadingIsDroppedOnceItsBacklogIsFull) {
    const auto server = listen();
    const auto client = connect();
    const auto peer = accept(*server);
    Result sent = Result::Done();
    for (int i = 0; i < 1000 && sent; ++i) {
        sent = peer->send(std::string(Max, 'x'));
    }
    EXPECT_EQ(sent.reason(), "the peer does not read what it is sent");
    EXPECT_TRUE(peer->pending());
}
