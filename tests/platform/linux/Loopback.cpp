#include "platform/linux/Loopback.h"
#include "platform/linux/SockDiag.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

socklen_t makeAddress(int family, const char* address, uint16_t port, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (family == AF_INET) {
        auto* a = reinterpret_cast<sockaddr_in*>(&out);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        if (inet_pton(AF_INET, address, &a->sin_addr) != 1) {
            fail(std::string("bad address ") + address);
        }
        return sizeof *a;
    }
    auto* a = reinterpret_cast<sockaddr_in6*>(&out);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    if (inet_pton(AF_INET6, address, &a->sin6_addr) != 1) {
        fail(std::string("bad address ") + address);
    }
    return sizeof *a;
}

UniqueFd newSocket(int family) {
    UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        fail("socket");
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return fd;
}

bool waitFor(int fd, short events, int millis) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, millis) > 0;
}

} // namespace

std::string enterFreshNetNamespace() {
    if (::geteuid() != 0) {
        return "needs root to make a network namespace";
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        return std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
    }
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (!fd.valid() || ::ioctl(fd.get(), SIOCGIFFLAGS, &request) != 0) {
        return std::string("cannot read the loopback interface: ") + std::strerror(errno);
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    if (::ioctl(fd.get(), SIOCSIFFLAGS, &request) != 0) {
        return std::string("cannot bring the loopback interface up: ") + std::strerror(errno);
    }
    return "";
}

UniqueFd listenOn(int family, const char* address, uint16_t port, bool dualStack) {
    UniqueFd fd = newSocket(family);
    if (family == AF_INET6) {
        const int v6only = dualStack ? 0 : 1;
        ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    }
    sockaddr_storage a;
    const socklen_t length = makeAddress(family, address, port, a);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), length) != 0 || ::listen(fd.get(), 4096) != 0) {
        fail("listen on port " + std::to_string(port));
    }
    return fd;
}

UniqueFd connectTo(int family, const char* address, uint16_t port, uint16_t fromPort) {
    UniqueFd fd = newSocket(family);
    if (fromPort != 0) {
        sockaddr_storage from;
        const socklen_t length = makeAddress(family, family == AF_INET ? "127.0.0.1" : "::1", fromPort, from);
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), length) != 0) {
            fail("bind to port " + std::to_string(fromPort));
        }
    }
    sockaddr_storage to;
    const socklen_t length = makeAddress(family, address, port, to);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), length) != 0) {
        fail("connect to port " + std::to_string(port));
    }
    return fd;
}

UniqueFd acceptOn(int listener) {
    UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd.valid()) {
        fail("accept");
    }
    return fd;
}

Connection connect(int listener, int family, const char* address, uint16_t port, uint16_t fromPort) {
    Connection c;
    c.client = connectTo(family, address, port, fromPort);
    c.server = acceptOn(listener);
    return c;
}

int connectError(int family, const char* address, uint16_t port) {
    UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_storage to;
    const socklen_t length = makeAddress(family, address, port, to);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), length) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS) {
        return errno;
    }
    if (!waitFor(fd.get(), POLLOUT, 2000)) {
        return ETIMEDOUT;
    }
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size);
    return error;
}

int udpError(int family, const char* address, uint16_t port) {
    UniqueFd fd(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_storage to;
    const socklen_t length = makeAddress(family, address, port, to);
    char byte = 'x';
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), length) != 0 || ::send(fd.get(), &byte, 1, 0) != 1) {
        return errno;
    }
    if (!waitFor(fd.get(), POLLIN | POLLERR, 1000)) {
        return 0;
    }
    return ::recv(fd.get(), &byte, 1, MSG_DONTWAIT) < 0 ? errno : 0;
}

bool sawReset(int fd) {
    if (!waitFor(fd, POLLIN, 1000)) {
        return false;
    }
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return n < 0 && (errno == ECONNRESET || errno == ECONNABORTED);
}

bool killedWithinATick(uint16_t port) {
    const UniqueFd listener = listenOn(AF_INET, "127.0.0.1", port);
    const Connection c = connect(listener.get(), AF_INET, "127.0.0.1", port);
    return sawReset(c.client.get()) || sawReset(c.client.get());
}

bool talks(const Connection& c) {
    char byte = 'x';
    for (const auto& [from, to] :
         {std::pair{c.client.get(), c.server.get()}, std::pair{c.server.get(), c.client.get()}}) {
        if (::send(from, &byte, 1, MSG_NOSIGNAL) != 1 || !waitFor(to, POLLIN, 1000) ||
            ::recv(to, &byte, 1, MSG_DONTWAIT) != 1) {
            return false;
        }
    }
    return true;
}

void closeIntoTimeWait(Connection& c) {
    c.client.reset();
    char byte;
    if (waitFor(c.server.get(), POLLIN, 1000)) {
        (void)::recv(c.server.get(), &byte, 1, MSG_DONTWAIT); // the client's FIN
    }
    c.server.reset();
    ::usleep(50 * 1000); // the last ACK crosses the loopback
}

uint16_t localPort(int fd) {
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&a)->sin_port
                                        : reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
}

std::vector<uint8_t> dumpReply(const std::vector<uint8_t>& request) {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ::sendto(fd.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    std::vector<uint8_t> all;
    std::vector<uint8_t> chunk(65536);
    for (;;) {
        const ssize_t n = ::recv(fd.get(), chunk.data(), chunk.size(), 0);
        if (n <= 0) {
            break;
        }
        all.insert(all.end(), chunk.begin(), chunk.begin() + n);
        std::vector<SockDiag::Socket> ignored;
        if (SockDiag::parseDump(chunk.data(), static_cast<size_t>(n), ignored).status != SockDiag::Status::More) {
            break;
        }
    }
    return all;
}

} // namespace loopback
