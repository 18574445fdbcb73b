// The in-line block's nftables rules on the real kernel, in a network namespace of the test's own.
#include "platform/PacketFilter.h"
#include "platform/linux/Loopback.h"
#include "support/Command.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using Ports = std::vector<uint16_t>;

UniqueFd udpListener(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

std::string ruleset() {
    std::string output;
    EXPECT_EQ(runCommand({"nft", "list", "ruleset"}, output), 0) << output;
    return output;
}

} // namespace

TEST(NftPacketFilter, RefusesTheClosedPortsBothWaysInBothFamiliesAndLeavesNoTraceWhenLifted) {
    if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    PacketFilter& filter = systemPacketFilter();
    EXPECT_EQ(filter.InForce(), Ports{}) << "no rules of the program's own in a fresh namespace";

    const UniqueFd closed = loopback::listenOn(AF_INET, "127.0.0.1", 2525);
    const UniqueFd dualStack = loopback::listenOn(AF_INET6, "::", 8443, true);
    const UniqueFd open = loopback::listenOn(AF_INET, "127.0.0.1", 8080);
    const UniqueFd datagrams = udpListener(5353);
    const loopback::Connection before = loopback::connect(closed.get(), AF_INET, "127.0.0.1", 2525);
    ASSERT_TRUE(loopback::talks(before));
    ASSERT_EQ(loopback::udpError(AF_INET, "127.0.0.1", 5353), 0);

    ASSERT_TRUE(filter.Refuse({2525, 5353, 8443}));
    EXPECT_EQ(filter.InForce(), (Ports{2525, 5353, 8443}));
    EXPECT_EQ(loopback::connectError(AF_INET, "127.0.0.1", 2525), ECONNREFUSED);
    EXPECT_EQ(loopback::connectError(AF_INET6, "::1", 8443), ECONNREFUSED);
    EXPECT_EQ(loopback::connectError(AF_INET, "127.0.0.1", 8443), ECONNREFUSED) << "IPv4 to a dual-stack listener";
    EXPECT_FALSE(loopback::talks(before)) << "a connection the sweep has not reached stops carrying data";
    EXPECT_NE(loopback::udpError(AF_INET, "127.0.0.1", 5353), 0) << "UDP to a closed port";
    EXPECT_EQ(loopback::connectError(AF_INET, "127.0.0.1", 8080), 0) << "a port not on the list";

    std::string output;
    ASSERT_EQ(runCommand({"nft", "flush", "chain", "inet", "quietwire", "input"}, output), 0) << output;
    EXPECT_EQ(filter.InForce(), std::nullopt) << "a chain another program flushed refuses less than the set says";

    ASSERT_TRUE(filter.Refuse({8080}));
    EXPECT_EQ(filter.InForce(), Ports{8080});
    EXPECT_EQ(loopback::connectError(AF_INET, "127.0.0.1", 2525), 0) << "the listener outlived the rules";
    EXPECT_EQ(loopback::connectError(AF_INET, "127.0.0.1", 8080), ECONNREFUSED);

    ASSERT_TRUE(filter.Refuse({}));
    EXPECT_EQ(filter.InForce(), Ports{});
    EXPECT_EQ(ruleset().find("quietwire"), std::string::npos) << ruleset();
    EXPECT_EQ(loopback::connectError(AF_INET, "127.0.0.1", 8080), 0);
    EXPECT_TRUE(filter.Refuse({})) << "lifting what is not there is no failure";
}
